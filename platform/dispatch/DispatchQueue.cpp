#include "platform/dispatch/DispatchQueue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"

namespace {

// Initialised before main() runs, so on the main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

thread_local DispatchQueue* tCurrentQueue = nullptr;
thread_local std::string tCurrentLabel;

class CurrentQueueScope {
  public:
    explicit CurrentQueueScope(DispatchQueue* queue)
        : savedQueue_(tCurrentQueue), savedLabel_(tCurrentLabel) {
        tCurrentQueue = queue;
        tCurrentLabel = queue->label();
    }
    ~CurrentQueueScope() {
        tCurrentQueue = savedQueue_;
        tCurrentLabel = std::move(savedLabel_);
    }

  private:
    DispatchQueue* savedQueue_;
    std::string savedLabel_;
};

// One worker thread, started with the first block, runs the blocks in order. The worker shares
// the queue's state rather than the queue, so it can finish safely when the last reference to the
// queue goes away inside one of its own blocks.
class SerialQueue final : public DispatchQueue {
  public:
    explicit SerialQueue(std::string label)
        : DispatchQueue(std::move(label)), state_(std::make_shared<State>()) {}

    ~SerialQueue() override {
        {
            std::lock_guard lock(state_->mutex);
            state_->stopping = true;
        }
        state_->ready.notify_all();
        if (!worker_.joinable()) return;
        if (worker_.get_id() == std::this_thread::get_id())
            worker_.detach();
        else
            worker_.join();
    }

    void async(Block block) override {
        BackgroundActivity::begin();
        std::lock_guard lock(state_->mutex);
        state_->blocks.push_back(std::move(block));
        if (!worker_.joinable()) worker_ = std::thread(work, this, state_);
        state_->ready.notify_one();
    }

    bool isCurrent() const override { return tCurrentQueue == this; }

    bool isIdle() const override {
        std::lock_guard lock(state_->mutex);
        return state_->blocks.empty() && !state_->running;
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Block> blocks;
        bool running = false;
        bool stopping = false;
    };

    static void work(SerialQueue* queue, std::shared_ptr<State> state) {
        CurrentQueueScope scope(queue);
        std::unique_lock lock(state->mutex);
        for (;;) {
            state->ready.wait(lock, [&] { return state->stopping || !state->blocks.empty(); });
            if (state->blocks.empty()) return;  // stopping, and everything queued has run
            Block block = std::move(state->blocks.front());
            state->blocks.pop_front();
            state->running = true;
            lock.unlock();
            block();
            block = nullptr;  // captured state dies outside the lock
            lock.lock();
            state->running = false;
            lock.unlock();
            BackgroundActivity::end();
            lock.lock();
        }
    }

    std::shared_ptr<State> state_;
    std::thread worker_;
};

// Blocks wait here until the main thread's run loop takes them. The loop sleeps in poll() on the
// descriptors of its sources and on an eventfd that a block queued meanwhile signals.
class MainQueue final : public DispatchQueue {
  public:
    MainQueue() : DispatchQueue("com.quorvane.main-thread"), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void async(Block block) override {
        bool sleeping;
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
            sleeping = sleeping_;
        }
        if (sleeping) signal();
    }

    bool isCurrent() const override { return DispatchQueue::isMainThread(); }

    // The block the main thread runs is its caller's own work.
    bool isIdle() const override {
        std::lock_guard lock(mutex_);
        return blocks_.empty();
    }

    bool runOne() {
        Block block;
        {
            std::lock_guard lock(mutex_);
            if (blocks_.empty()) return false;
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        block();
        return true;
    }

    // True when nothing is queued and no stop is asked: the caller may sleep, and a block queued from
    // now on wakes it through wakeDescriptor().
    bool prepareToSleep() {
        std::lock_guard lock(mutex_);
        if (stop_ || !blocks_.empty()) return false;
        sleeping_ = true;
        return true;
    }

    void finishSleep() {
        {
            std::lock_guard lock(mutex_);
            sleeping_ = false;
        }
        uint64_t count;
        while (read(wake_, &count, sizeof count) > 0) {
        }
    }

    // -1 when no eventfd could be made; the loop then looks again every few milliseconds.
    int wakeDescriptor() const { return wake_; }

    void stop() {
        bool sleeping;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            sleeping = sleeping_;
        }
        if (sleeping) signal();
    }

    bool takeStop() {
        std::lock_guard lock(mutex_);
        bool was = stop_;
        stop_ = false;
        return was;
    }

  private:
    void signal() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
    }

    mutable std::mutex mutex_;
    std::deque<Block> blocks_;
    const int wake_;
    bool sleeping_ = false;
    bool stop_ = false;
};

// A fixed pool of threads; blocks run concurrently in the order they were queued.
class GlobalQueue final : public DispatchQueue {
  public:
    explicit GlobalQueue(std::string label) : DispatchQueue(std::move(label)) {
        unsigned count = std::max(4u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i) std::thread([this] { work(); }).detach();
    }

    void async(Block block) override {
        BackgroundActivity::begin();
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
        }
        ready_.notify_one();
    }

    // A concurrent queue has no order to wait for: run the block here.
    void sync(const Block& block) override {
        CurrentQueueScope scope(this);
        block();
    }

    bool isCurrent() const override { return tCurrentQueue == this; }

    bool isIdle() const override {
        std::lock_guard lock(mutex_);
        return blocks_.empty() && running_ == 0;
    }

  private:
    void work() {
        CurrentQueueScope scope(this);
        for (;;) {
            Block block;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !blocks_.empty(); });
                block = std::move(blocks_.front());
                blocks_.pop_front();
                ++running_;
            }
            block();
            block = nullptr;
            {
                std::lock_guard lock(mutex_);
                --running_;
            }
            BackgroundActivity::end();
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Block> blocks_;
    size_t running_ = 0;
};

// Never destroyed: blocks may still be queued to them while the process exits.
MainQueue& mainQueue() {
    static auto* queue = new std::shared_ptr<MainQueue>(std::make_shared<MainQueue>());
    return **queue;
}

}  // namespace

std::shared_ptr<DispatchQueue> DispatchQueue::serial(std::string label) {
    return std::make_shared<SerialQueue>(std::move(label));
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    return mainQueue().shared_from_this();
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(Priority priority) {
    if (priority == Priority::Background) {
        static auto* background = new std::shared_ptr<DispatchQueue>(
            std::make_shared<GlobalQueue>("com.quorvane.global.background"));
        return *background;
    }
    static auto* queue =
        new std::shared_ptr<DispatchQueue>(std::make_shared<GlobalQueue>("com.quorvane.global"));
    return *queue;
}

void DispatchQueue::sync(const Block& block) {
    if (isCurrent()) {
        block();
        return;
    }
    std::promise<void> done;
    async([&] {
        block();
        done.set_value();
    });
    done.get_future().wait();
}

DispatchQueue* DispatchQueue::current() {
    if (tCurrentQueue) return tCurrentQueue;
    return isMainThread() ? &mainQueue() : nullptr;
}

std::string DispatchQueue::currentLabel() {
    if (tCurrentQueue) return tCurrentLabel;
    return isMainThread() ? mainQueue().label() : std::string();
}

bool DispatchQueue::isMainThread() {
    return std::this_thread::get_id() == kMainThread;
}

void DispatchQueue::after(double delay, Block block) {
    Clock::current().schedule(delay, weak_from_this(), std::move(block));
}

namespace {
struct Source {
    int fd;
    std::function<void()> ready;
    std::atomic<bool> removed{false};
};

struct Sources {
    std::mutex mutex;
    std::map<RunLoop::SourceId, std::shared_ptr<Source>> byId;
    RunLoop::SourceId next = 1;
};

Sources& sources() {
    static auto* shared = new Sources;  // never destroyed, like the main queue it serves
    return *shared;
}

std::vector<std::shared_ptr<Source>> currentSources() {
    auto& all = sources();
    std::lock_guard lock(all.mutex);
    std::vector<std::shared_ptr<Source>> out;
    for (const auto& [id, source] : all.byId) out.push_back(source);
    return out;
}

void callReady(const Source& source) {
    if (!source.removed.load()) source.ready();
}

// Hands on what the sources already hold, then what their descriptors have; with `mayWait`, first
// sleeps until a descriptor is readable or a block is queued.
void serviceSources(bool mayWait) {
    auto& queue = mainQueue();
    auto snapshot = currentSources();
    for (const auto& source : snapshot) callReady(*source);
    if (!mayWait && snapshot.empty()) return;
    std::vector<pollfd> descriptors{{queue.wakeDescriptor(), POLLIN, 0}};
    for (const auto& source : snapshot) descriptors.push_back({source->fd, POLLIN, 0});
    int timeout = 0;
    if (mayWait && queue.prepareToSleep()) timeout = queue.wakeDescriptor() < 0 ? 5 : -1;
    int ready = poll(descriptors.data(), descriptors.size(), timeout);
    if (timeout != 0) queue.finishSleep();
    if (ready <= 0) return;
    for (size_t i = 0; i < snapshot.size(); ++i) {
        if (descriptors[i + 1].revents) callReady(*snapshot[i]);
    }
}
}  // namespace

size_t RunLoop::runUntilIdle() {
    size_t ran = 0;
    for (;;) {
        while (mainQueue().runOne()) ++ran;
        serviceSources(false);
        if (mainQueue().isIdle()) return ran;
    }
}

void RunLoop::run() {
    while (!mainQueue().takeStop()) serviceSources(!mainQueue().runOne());
}

void RunLoop::stop() {
    mainQueue().stop();
}

RunLoop::SourceId RunLoop::addSource(int fd, std::function<void()> ready) {
    auto source = std::make_shared<Source>();
    source->fd = fd;
    source->ready = std::move(ready);
    auto& all = sources();
    std::lock_guard lock(all.mutex);
    const SourceId id = all.next++;
    all.byId.emplace(id, std::move(source));
    return id;
}

void RunLoop::removeSource(SourceId id) {
    auto& all = sources();
    std::lock_guard lock(all.mutex);
    auto found = all.byId.find(id);
    if (found == all.byId.end()) return;
    found->second->removed.store(true);
    all.byId.erase(found);
}
