#include "platform/foundation/Exception.h"

#include <atomic>

namespace {
// An atomic rather than a lock: the slot is read on the way out of a dying process.
std::atomic<NSUncaughtExceptionHandler> uncaughtExceptionHandler{nullptr};
}  // namespace

void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler handler) {
    uncaughtExceptionHandler.store(handler);
}

NSUncaughtExceptionHandler NSGetUncaughtExceptionHandler() {
    return uncaughtExceptionHandler.load();
}
