#pragma once
// The system log: NSLog lines and leveled os_log-style lines go to stderr, one line each. Tests
// install a sink to read what was logged instead.
#include <functional>
#include <string>
#include <string_view>

// Levels as the system log numbers them; 6 is "info".
enum class SystemLogLevel : int { Error = 3, Notice = 5, Info = 6, Debug = 7 };

void systemLog(SystemLogLevel level, std::string_view message);

// printf-style, like the platform's NSLog (no "%@": callers format objects to text first).
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces stderr as the destination until the returned token is destroyed. Lines reach the sink
// on the logging thread, so a sink that is read from another thread must lock.
using SystemLogSink = std::function<void(SystemLogLevel, const std::string&)>;
class SystemLogCapture {
  public:
    explicit SystemLogCapture(SystemLogSink sink);
    ~SystemLogCapture();
    SystemLogCapture(const SystemLogCapture&) = delete;
    SystemLogCapture& operator=(const SystemLogCapture&) = delete;

  private:
    SystemLogSink previous_;
};
