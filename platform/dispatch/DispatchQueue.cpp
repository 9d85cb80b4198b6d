#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
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

// Blocks wait here until the main thread's run loop takes them.
class MainQueue final : public DispatchQueue {
  public:
    MainQueue() : DispatchQueue("com.quorvane.main-thread") {}

    void async(Block block) override {
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
        }
        ready_.notify_all();
    }

    bool isCurrent() const override { return DispatchQueue::isMainThread(); }

    // The block the main thread runs is its caller's own work.
    bool isIdle() const override {
        std::lock_guard lock(mutex_);
        return blocks_.empty();
    }

    bool runOne(bool wait) {
        Block block;
        {
            std::unique_lock lock(mutex_);
            if (wait) ready_.wait(lock, [this] { return stop_ || !blocks_.empty(); });
            if (blocks_.empty()) return false;
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        block();
        return true;
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        ready_.notify_all();
    }

    bool takeStop() {
        std::lock_guard lock(mutex_);
        bool was = stop_;
        stop_ = false;
        return was;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Block> blocks_;
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

size_t RunLoop::runUntilIdle() {
    size_t ran = 0;
    while (mainQueue().runOne(false)) ++ran;
    return ran;
}

void RunLoop::run() {
    while (!mainQueue().takeStop()) mainQueue().runOne(true);
}

void RunLoop::stop() {
    mainQueue().stop();
}
