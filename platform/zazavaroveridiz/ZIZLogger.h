#pragma once
// The outside utility library's shared logger: one process-wide level and one line per message on
// stderr. Levels follow the system log: 3 error, 4 warning, 5 notice, 6 info, 7 debug; a message is
// written when its level is at or below the logger's level (it starts at 5), or when forced.
// Messages are taken whole: nothing in them is read as a format.
#include <functional>
#include <string>
#include <string_view>

inline constexpr int kZIZLoggerLevelError = 3;
inline constexpr int kZIZLoggerLevelWarning = 4;
inline constexpr int kZIZLoggerLevelNotice = 5;
inline constexpr int kZIZLoggerLevelInfo = 6;
inline constexpr int kZIZLoggerLevelDebug = 7;

// Levels outside 3 to 7 leave the level as it is.
void ZIZSetLoggerLevel(int level);
bool ZIZIsLoggableLevel(int level);
// One line: "<service>[<messageCode>] <message>". The callers hand over messages whose "%" were
// doubled for a format, so "%%" is written as "%".
void ZIZLogBasic(int level, std::string_view service, bool force, std::string_view messageCode,
                 std::string_view message);
void ZIZLogWarning(std::string_view service, bool force, std::string_view messageCode,
                   std::string_view message);
void ZIZLogError(std::string_view service, bool force, std::string_view messageCode,
                 std::string_view message);

// Replaces stderr as the destination until destroyed (for tests). Lines reach the sink on the
// logging thread, so a sink read from another thread must lock.
using ZIZLoggerSink = std::function<void(int level, const std::string& line)>;
class ZIZLoggerCapture {
  public:
    explicit ZIZLoggerCapture(ZIZLoggerSink sink);
    ~ZIZLoggerCapture();
    ZIZLoggerCapture(const ZIZLoggerCapture&) = delete;
    ZIZLoggerCapture& operator=(const ZIZLoggerCapture&) = delete;

  private:
    ZIZLoggerSink previous_;
};
