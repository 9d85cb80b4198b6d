#pragma once
// Owner of the engine's one serial worker queue. Engine state, the measurement database and the
// audience code are touched only from blocks run on it, so they need no locks of their own. Other
// threads hand work over with a block ID that only names the call site in log lines.
#include <functional>
#include <memory>
#include <string>

class DispatchQueue;

class ZDMScheduler {
  public:
    using Block = std::function<void()>;
    // The label of the engine's worker queue.
    static constexpr const char* kWorkerQueueLabel = "com.zizoda.measurement.WorkerQueue";

    // A serial queue carrying `label`.
    explicit ZDMScheduler(const std::string& label);
    static std::shared_ptr<ZDMScheduler> initWithWorkerQueueLabel(const std::string& label);

    // Alarms and reporters that must run there schedule on it directly; its timers follow Clock.
    const std::shared_ptr<DispatchQueue>& workerQueue() const { return workerQueue_; }
    // Runs `block` later on the worker queue; an empty block is logged (30005) and dropped.
    void scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block);
    // Runs `block` on the worker queue and returns once it has run: inline when called from the
    // worker queue itself. An empty block is logged (30002); a block that did not finish (it threw)
    // is logged (30004) and the caller goes on.
    void dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, const Block& block);

    // True off the main thread; on it, logged (30001) and false. Advisory: callers go on.
    static bool checkOnBackgroundThreadWithMethodName(const std::string& methodName);

  private:
    const std::shared_ptr<DispatchQueue> workerQueue_;
};
