#include "measurement/engine/ZDMMeasurementIdle.h"

#include <chrono>
#include <thread>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OperationQueue.h"

namespace {
// The order in which work flows: events are stamped, held until the start, handed to the engine
// from the serial queue, then stored on the worker queue.
bool queuesAreIdle() {
    const auto facade = ZDMAnalyticsCurrentState();
    if (!facade->timestampQueue->isIdle()) return false;
    const auto& operations = facade->operationQueue;
    if (!operations->isSuspended() && operations->operationCount() > 0) return false;
    if (!facade->serialQueue->isIdle()) return false;
    if (!ZDMMeasurement::hasSharedInstance()) return true;
    const auto engine = ZDMMeasurement::sharedInstance();
    if (!engine) return true;
    // A request counts as in flight until its completion has returned on the worker queue, so one
    // that a completion starts (the upload after the configuration fetch) leaves no idle gap.
    const auto& network = engine->network();
    return engine->scheduler()->workerQueue()->isIdle() && !(network && network->hasUploadInProgress());
}
}  // namespace

bool ZDMWaitUntilMeasurementIdle(double seconds) {
    constexpr auto kPoll = std::chrono::milliseconds(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    // Work moves between the queues (and the main queue) as it runs: a queue checked early may get
    // work from one checked later, so only two idle passes in a row count.
    int idlePasses = 0;
    for (;;) {
        const bool onMainThread = DispatchQueue::isMainThread();
        if (onMainThread) RunLoop::runUntilIdle();
        const bool idle = queuesAreIdle() && (!onMainThread || DispatchQueue::main()->isIdle());
        idlePasses = idle ? idlePasses + 1 : 0;
        if (idlePasses == 2) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPoll);
    }
}
