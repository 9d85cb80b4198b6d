#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"
#include "testing/Eventually.h"

namespace {

// Records events from any thread, in the order they happen.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(std::string line) {
        std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

TEST(ManualClock, TimersOnTwoQueuesFireInDeadlineOrder) {
    ScopedManualClock clock;
    auto a = DispatchQueue::serial("a"), b = DispatchQueue::serial("b");
    Journal journal;
    auto five = DispatchTimer::make(a), two = DispatchTimer::make(b);
    five->setEventHandler([&] { journal.add("5s on " + DispatchQueue::current()->label()); });
    two->setEventHandler([&] { journal.add("2s on " + DispatchQueue::current()->label()); });
    five->setTimer(5, 0);
    two->setTimer(2, 0);
    five->resume();
    two->resume();

    clock->advance(1.9);
    EXPECT_TRUE(journal.take().empty());
    clock->advance(4.1);
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"2s on b", "5s on a"}));
    EXPECT_EQ(clock->pendingTimers(), 0u);
}

TEST(ManualClock, CancelledTimerNeverFires) {
    ScopedManualClock clock;
    auto queue = DispatchQueue::serial("q");
    std::atomic<int> fired{0};
    auto timer = DispatchTimer::make(queue);
    timer->setEventHandler([&] { ++fired; });
    timer->setTimer(1, 1);
    timer->resume();
    clock->advance(1);
    timer->cancel();
    clock->advance(10);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(timer->isCancelled());
}

TEST(ManualClock, RepeatingTimerAndTimersScheduledByHandlersFireWithinOneAdvance) {
    ScopedManualClock clock;
    auto queue = DispatchQueue::serial("q");
    Journal journal;
    auto start = clock->monotonic();
    auto repeating = DispatchTimer::make(queue);
    repeating->setEventHandler(
        [&] { journal.add("tick " + std::to_string(int(clock->monotonic() - start))); });
    repeating->setTimer(2, 2);
    repeating->resume();
    queue->after(3, [&] {
        journal.add("after 3");
        queue->after(1, [&] { journal.add("after 4"); });
    });
    clock->advance(6.5);
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"tick 2", "after 3", "tick 4", "after 4", "tick 6"}));
}

TEST(ManualClock, DateNowFollowsTheClock) {
    ScopedManualClock clock(1000.0);
    EXPECT_DOUBLE_EQ(clock->now(), 1000.0);
    clock->advance(2.5);
    EXPECT_DOUBLE_EQ(Clock::current().now(), 1002.5);
    clock->setWallTime(50);
    EXPECT_DOUBLE_EQ(Clock::current().now(), 50);
}

// Uptimes are the wall clock minus the boot time, so they move when a test advances the clock, and
// a machine whose boot time is unreadable is one a test can play.
TEST(ManualClock, BootTimeStaysPutWhileTheClockMovesAndCanBeUnreadable) {
    ManualClock clock(5000);
    EXPECT_EQ(clock.bootTime(), 4000.0);
    clock.advance(5);
    EXPECT_EQ(clock.bootTime(), 4000.0);
    clock.setBootTime(4900);
    EXPECT_EQ(clock.bootTime(), 4900.0);
    clock.setBootTime(std::nullopt);
    EXPECT_FALSE(clock.bootTime());
}

TEST(DispatchQueue, SyncOntoTheCurrentQueueRunsInline) {
    auto queue = DispatchQueue::serial("inline");
    std::vector<int> order;
    queue->sync([&] {
        order.push_back(1);
        queue->sync([&] { order.push_back(2); });
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueue, SerialQueueRunsBlocksInOrderOnOneThread) {
    auto queue = DispatchQueue::serial("order");
    std::vector<int> seen;  // touched only on the queue
    for (int i = 0; i < 1000; ++i) queue->async([&seen, i] { seen.push_back(i); });
    queue->sync([] {});
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_EQ(DispatchQueue::current(), DispatchQueue::main().get());
    queue->sync([&] {
        EXPECT_TRUE(queue->isCurrent());
        EXPECT_FALSE(DispatchQueue::isMainThread());
    });
}

TEST(DispatchQueue, MainQueueRunsWhenTheRunLoopIsDriven) {
    std::vector<std::string> ran;
    auto worker = DispatchQueue::serial("worker");
    worker->sync([&] { DispatchQueue::main()->async([&] { ran.push_back("from worker"); }); });
    DispatchQueue::main()->async([&] { ran.push_back("from main"); });
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(RunLoop::runUntilIdle(), 2u);
    EXPECT_EQ(ran, (std::vector<std::string>{"from worker", "from main"}));

    // A main-queue timer fires during advance() because the main thread drains the queue itself.
    ScopedManualClock clock;
    DispatchQueue::main()->after(1, [&] { ran.push_back("timer"); });
    clock->advance(1);
    EXPECT_EQ(ran.back(), "timer");
}

TEST(DispatchQueue, QueueReleasedWhileBlocksArePendingRunsThemFirst) {
    std::atomic<int> ran{0};
    {
        auto queue = DispatchQueue::serial("short-lived");
        for (int i = 0; i < 100; ++i) queue->async([&] { ++ran; });
    }
    EXPECT_EQ(ran, 100);
}

TEST(DispatchQueue, QueueReleasedInsideItsOwnBlockFinishesTheBlocksAfterIt) {
    auto holder = std::make_shared<std::shared_ptr<DispatchQueue>>(DispatchQueue::serial("self-released"));
    std::promise<void> released, last;
    std::atomic<int> ran{0};
    auto queue = *holder;
    queue->async([holder, waitFor = released.get_future().share()] {
        waitFor.wait();
        holder->reset();  // the last reference
    });
    queue->async([&] { ++ran; });
    queue->async([&] { last.set_value(); });
    queue.reset();
    released.set_value();
    ASSERT_EQ(last.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(ran, 1);
}

TEST(DispatchQueue, CurrentLabelIsThatOfTheQueueRunningTheCaller) {
    auto queue = DispatchQueue::serial("labelled");
    auto other = DispatchQueue::serial("other");
    std::string onPlainThread = "unset", onQueue, nestedSync, afterNestedSync, onGlobal, onBackground;
    std::thread([&] { onPlainThread = DispatchQueue::currentLabel(); }).join();
    queue->sync([&] {
        onQueue = DispatchQueue::currentLabel();
        other->sync([&] { nestedSync = DispatchQueue::currentLabel(); });
        afterNestedSync = DispatchQueue::currentLabel();
    });
    DispatchQueue::global()->sync([&] { onGlobal = DispatchQueue::currentLabel(); });
    std::promise<std::string> background;
    DispatchQueue::global(DispatchQueue::Priority::Background)->async([&] {
        background.set_value(DispatchQueue::currentLabel());
    });
    onBackground = background.get_future().get();

    EXPECT_EQ(DispatchQueue::currentLabel(), DispatchQueue::main()->label());
    EXPECT_EQ(onPlainThread, "");
    EXPECT_EQ(onQueue, "labelled");
    EXPECT_EQ(nestedSync, "other");
    EXPECT_EQ(afterNestedSync, "labelled");
    EXPECT_EQ(onGlobal, "com.quorvane.global");
    EXPECT_EQ(onBackground, "com.quorvane.global.background");
}

TEST(DispatchQueue, CurrentLabelOutlivesAQueueReleasedInsideItsOwnBlock) {
    auto holder = std::make_shared<std::shared_ptr<DispatchQueue>>(DispatchQueue::serial("self-released"));
    std::promise<void> released;
    std::promise<std::string> label;
    auto queue = *holder;
    queue->async([holder, waitFor = released.get_future().share()] {
        waitFor.wait();
        holder->reset();  // the last reference
    });
    queue->async([&label] { label.set_value(DispatchQueue::currentLabel()); });
    queue.reset();
    released.set_value();
    auto future = label.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(future.get(), "self-released");
}

TEST(BackgroundActivity, BlocksOfSerialAndGlobalQueuesAreAwaitedUntilTheLastHasRun) {
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<int> ran{0};
    auto queue = DispatchQueue::serial("test.activity");
    queue->async([&, released] {
        released.wait();
        // Work a block queues before it ends keeps the process busy without a gap.
        DispatchQueue::global()->async([&] { ++ran; });
        ++ran;
    });
    EXPECT_FALSE(BackgroundActivity::waitUntilIdle(0));
    release.set_value();
    EXPECT_TRUE(BackgroundActivity::waitUntilIdle(20));
    EXPECT_EQ(ran.load(), 2);
}

// A queue is busy from the moment a block is queued until the last block has returned: the one that
// runs as much as the ones that wait behind it.
TEST(DispatchQueue, QueueIsIdleOnlyWhenNoBlockWaitsOrRuns) {
    for (auto queue : {DispatchQueue::serial("test.idle"), DispatchQueue::global()}) {
        SCOPED_TRACE(queue->label());
        std::promise<void> started, release;
        auto released = release.get_future().share();
        EXPECT_TRUE(queue->isIdle());
        queue->async([&, released] {
            started.set_value();
            released.wait();
        });
        started.get_future().wait();
        EXPECT_FALSE(queue->isIdle());
        release.set_value();
        EXPECT_TRUE(BackgroundActivity::waitUntilIdle(20));
        EXPECT_TRUE(queue->isIdle());
    }
    auto main = DispatchQueue::main();
    main->async([] {});
    EXPECT_FALSE(main->isIdle());
    RunLoop::runUntilIdle();
    EXPECT_TRUE(main->isIdle());
}

TEST(SystemClock, BootTimeLiesInThePastAndDoesNotDrift) {
    auto& clock = Clock::current();
    const auto first = clock.bootTime();
    ASSERT_TRUE(first);
    EXPECT_GT(*first, 0);
    EXPECT_LT(*first, clock.now());
    // Read twice, the two clocks are read a moment apart; the difference stays far below a second.
    EXPECT_NEAR(*clock.bootTime(), *first, 0.5);
}

TEST(SystemClock, TimerFiresOnItsQueue) {
    auto queue = DispatchQueue::serial("real");
    std::promise<std::string> label;
    queue->after(0.01, [&] { label.set_value(DispatchQueue::current()->label()); });
    auto future = label.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(future.get(), "real");
}

}  // namespace

namespace {
// A pipe whose read end is a run-loop source; the source goes when the test ends.
struct PipeSource {
    explicit PipeSource(std::function<void(int fd)> ready) {
        EXPECT_EQ(pipe(ends), 0);
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        id = RunLoop::addSource(ends[0], [this, ready] { ready(ends[0]); });
    }
    ~PipeSource() {
        RunLoop::removeSource(id);
        close(ends[0]);
        close(ends[1]);
    }
    int ends[2] = {-1, -1};
    RunLoop::SourceId id = 0;
};

// Ends a run() that the behaviour under test failed to end, so that the test fails instead of hanging.
struct Watchdog {
    explicit Watchdog(std::atomic<bool>& done)
        : thread([&done] {
              if (!eventually([&] { return done.load(); }))
                  DispatchQueue::main()->async([] { RunLoop::stop(); });
          }) {}
    ~Watchdog() { thread.join(); }
    std::thread thread;
};
}  // namespace

// The loop sleeps until a descriptor of a source is readable, then hands it to the source on the
// main thread.
TEST(RunLoop, WakesForAReadableSourceAndRunsItOnTheMainThread) {
    std::atomic<bool> done{false};
    std::string read;
    PipeSource source([&](int fd) {
        EXPECT_TRUE(DispatchQueue::isMainThread());
        char buffer[16];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) read.append(buffer, size_t(n));
        if (read == "ready" && !done.exchange(true)) RunLoop::stop();
    });
    Watchdog watchdog(done);
    std::thread writer([&] { EXPECT_EQ(write(source.ends[1], "ready", 5), 5); });
    RunLoop::run();
    writer.join();
    done = true;
    EXPECT_EQ(read, "ready");
}

// What a library read ahead of its descriptor (while a block of the main queue waited for a reply,
// say) reaches its source before the loop sleeps, though the descriptor shows nothing.
TEST(RunLoop, ASourceHandsOnWhatItReadAheadBeforeTheLoopSleeps) {
    std::atomic<bool> done{false};
    std::vector<std::string> readAhead, handled;
    PipeSource source([&](int) {
        for (auto& item : readAhead) handled.push_back(item);
        readAhead.clear();
        if (!handled.empty() && !done.exchange(true)) RunLoop::stop();
    });
    Watchdog watchdog(done);
    DispatchQueue::main()->async([&] { readAhead.push_back("event"); });
    RunLoop::run();
    done = true;
    EXPECT_EQ(handled, std::vector<std::string>{"event"});
}

TEST(RunLoop, ARemovedSourceIsNotCalledAgain) {
    int calls = 0;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    auto id = RunLoop::addSource(ends[0], [&] { ++calls; });
    ASSERT_EQ(write(ends[1], "x", 1), 1);
    RunLoop::runUntilIdle();
    EXPECT_GT(calls, 0);
    RunLoop::removeSource(id);
    const int before = calls;
    RunLoop::runUntilIdle();
    EXPECT_EQ(calls, before);
    close(ends[0]);
    close(ends[1]);
}
