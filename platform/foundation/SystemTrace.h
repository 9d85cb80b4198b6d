#pragma once
// The system trace log and its activities, as libraries with diagnostic lines use them: each line
// has a level, the name of the activity it ran in and an optional structured payload. Lines reach
// the system log (SystemLog.h) unless a test captures them; debug lines only while debug logging
// is on (off unless QUORVANE_TRACE_DEBUG is set, or a test turns it on).
#include <functional>
#include <string>

#include "platform/foundation/Value.h"

enum class TraceLevel { Default, Info, Debug, Error, Fault };

struct TraceLine {
    TraceLevel level = TraceLevel::Default;
    std::string activity;  // the innermost activity of the logging thread; empty outside any
    std::string message;
    Value payload;  // null when the line has none
};

void traceLog(TraceLevel level, std::string message, Value payload = {});
// printf-style message, for lines that quote numbers.
void traceLogFormat(TraceLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

bool traceDebugLoggingEnabled();
// Returns the previous setting, so that a test can put it back.
bool setTraceDebugLoggingEnabled(bool enabled);

// A named unit of work on the current thread, from construction to destruction; activities nest,
// and a line belongs to the innermost one.
class TraceActivity {
  public:
    explicit TraceActivity(std::string name);
    ~TraceActivity();
    TraceActivity(const TraceActivity&) = delete;
    TraceActivity& operator=(const TraceActivity&) = delete;

    static std::string current();
};

// Replaces the system log as the destination of trace lines until destroyed. Lines reach the sink
// on the logging thread, so a sink that is read from another thread must lock.
class TraceLogCapture {
  public:
    using Sink = std::function<void(const TraceLine&)>;
    explicit TraceLogCapture(Sink sink);
    ~TraceLogCapture();
    TraceLogCapture(const TraceLogCapture&) = delete;
    TraceLogCapture& operator=(const TraceLogCapture&) = delete;

  private:
    Sink previous_;
};
