#pragma once
// A queue of operations (blocks) run on the global dispatch queue, at most
// maxConcurrentOperationCount at a time, started in the order they were added. A suspended queue
// starts nothing new (operations already running finish); resuming it starts what waited, in order.
// Operations still waiting when the last reference to the queue goes are dropped unrun.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class OperationQueue {
  public:
    using Block = std::function<void()>;
    // No limit: every waiting operation starts at once.
    static constexpr int64_t kDefaultMaxConcurrentOperationCount = -1;

    OperationQueue();
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    std::string name() const;
    void setName(std::string name);
    int64_t maxConcurrentOperationCount() const;
    // A count below 1 other than the default is taken as 1.
    void setMaxConcurrentOperationCount(int64_t count);
    bool isSuspended() const;
    void setSuspended(bool suspended);

    void addOperation(Block block);
    // Operations waiting or running.
    size_t operationCount() const;
    // Blocks until no operation waits or runs; on a suspended queue with waiting operations that is
    // only after someone resumes it. Must not be called from one of this queue's operations.
    void waitUntilAllOperationsAreFinished();

  private:
    // Shared with the running operations, so that one finishing after the queue is gone is harmless.
    struct State {
        mutable std::mutex mutex;
        std::condition_variable idle;
        std::string name;
        int64_t maxConcurrent = kDefaultMaxConcurrentOperationCount;
        bool suspended = false;
        std::deque<Block> waiting;
        size_t running = 0;
    };
    static void startWhatMayRun(const std::shared_ptr<State>& state, std::unique_lock<std::mutex>& lock);

    std::shared_ptr<State> state_;
};
