#include "measurement/engine/ZDMScheduler.h"

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMBackgroundThreadCheck.h"
#include "platform/dispatch/DispatchQueue.h"

// The platform's serial queues each run on a thread of their own, so the worker queue needs no
// target queue to stay serial and in order.
ZDMScheduler::ZDMScheduler(const std::string& label) : workerQueue_(DispatchQueue::serial(label)) {}

std::shared_ptr<ZDMScheduler> ZDMScheduler::initWithWorkerQueueLabel(const std::string& label) {
    return std::make_shared<ZDMScheduler>(label);
}

void ZDMScheduler::scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block) {
    if (!block) {
        ZDMMeasurement::monitor()->logWithLevel(
            1, 30005, "Nil block dispatched asynchronously on worker queue. Block ID=" + blockID + ".");
        return;
    }
    workerQueue_->async(std::move(block));
}

void ZDMScheduler::dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, const Block& block) {
    if (!block) {
        ZDMMeasurement::monitor()->logWithLevel(
            1, 30002, "Nil block dispatched synchronously on worker queue. Block ID=" + blockID + ".");
        return;
    }
    bool completed = false;
    workerQueue_->sync([&] {
        // A throwing block must not take the worker thread, and with it the process, down: the
        // caller learns of it as a task that did not complete.
        try {
            block();
            completed = true;
        } catch (...) {
        }
    });
    if (!completed)
        ZDMMeasurement::monitor()->logWithLevel(4, 30004, "Synchronous task failed. Block ID=" + blockID);
}

bool ZDMScheduler::checkOnBackgroundThreadWithMethodName(const std::string& methodName) {
    return ZDMCheckOnBackgroundThread(methodName);
}
