#include "measurement/audiences/experiments/ZDMEMonitor.h"

#include <exception>

#include "measurement/foundation/ZDMMonitor.h"

ZDMEMonitor::ZDMEMonitor(std::shared_ptr<ZDMMonitor> monitor) : monitor_(std::move(monitor)) {}

void ZDMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message) {
    logWithContexts(level, messageCode, message, {});
}

void ZDMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const Value& context) {
    logWithContexts(level, messageCode, message, {context});
}

void ZDMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const Value& context, const Value& context2) {
    logWithContexts(level, messageCode, message, {context, context2});
}

void ZDMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const Value& context, const Value& context2, const Value& context3) {
    logWithContexts(level, messageCode, message, {context, context2, context3});
}

void ZDMEMonitor::clearMonitoringData() {
    if (monitor_) monitor_->clearMonitoringData();
}

void ZDMEMonitor::logWithContexts(int64_t level, int64_t messageCode, const std::string& message,
                                  const Value::Array& contexts) {
    if (monitor_) monitor_->logWithContexts(level, messageCode, message, contexts);
}

void ZDMEMonitor::runCatchingExceptions(const std::function<void()>& block, int64_t messageCode,
                                        const std::string& message) {
    try {
        block();
    } catch (const std::exception& exception) {
        logWithLevel(1, messageCode, message, Value(exception.what()));
    } catch (...) {
        logWithLevel(1, messageCode, message, Value("unknown exception"));
    }
}
