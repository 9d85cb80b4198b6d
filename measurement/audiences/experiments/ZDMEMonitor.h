#pragma once
// The log sink of the whole experiment area: every report goes unchanged to the measurement
// library's monitor, so experiment messages keep their own codes among the library's.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

class ZDMMonitor;

class ZDMEMonitor {
  public:
    explicit ZDMEMonitor(std::shared_ptr<ZDMMonitor> monitor);
    virtual ~ZDMEMonitor() = default;

    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message);
    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const Value& context);
    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const Value& context,
                      const Value& context2);
    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const Value& context,
                      const Value& context2, const Value& context3);
    void clearMonitoringData();

    // Runs a queue block so that an exception thrown by it ends the block, not the queue: it is
    // logged at level 1 under `messageCode` with the exception as context.
    void runCatchingExceptions(const std::function<void()>& block, int64_t messageCode,
                               const std::string& message);

  protected:
    // Every overload ends here; a test's monitor overrides it to see the reports.
    virtual void logWithContexts(int64_t level, int64_t messageCode, const std::string& message,
                                 const Value::Array& contexts);

  private:
    const std::shared_ptr<ZDMMonitor> monitor_;
};
