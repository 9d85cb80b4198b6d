#include "platform/foundation/SystemTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/foundation/JSON.h"
#include "platform/foundation/SystemLog.h"

namespace {

std::mutex& sinkMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: threads may log during exit
    return *mutex;
}

TraceLogCapture::Sink& currentSink() {
    static auto* sink = new TraceLogCapture::Sink;
    return *sink;
}

std::atomic<bool>& debugEnabled() {
    static std::atomic<bool> enabled{[] {
        const char* value = std::getenv("QUORVANE_TRACE_DEBUG");
        return value && *value;
    }()};
    return enabled;
}

std::vector<std::string>& activityStack() {
    thread_local std::vector<std::string> stack;
    return stack;
}

SystemLogLevel systemLevel(TraceLevel level) {
    switch (level) {
        case TraceLevel::Default:
            return SystemLogLevel::Notice;
        case TraceLevel::Info:
            return SystemLogLevel::Info;
        case TraceLevel::Debug:
            return SystemLogLevel::Debug;
        case TraceLevel::Error:
        case TraceLevel::Fault:
            return SystemLogLevel::Error;
    }
    return SystemLogLevel::Notice;
}

std::string systemLogText(const TraceLine& line) {
    std::string text;
    if (!line.activity.empty()) text += "[" + line.activity + "] ";
    text += line.message;
    if (!line.payload.isNull()) text += " " + json::write(line.payload);
    return text;
}

}  // namespace

void traceLog(TraceLevel level, std::string message, Value payload) {
    if (level == TraceLevel::Debug && !traceDebugLoggingEnabled()) return;
    TraceLine line{level, TraceActivity::current(), std::move(message), std::move(payload)};
    TraceLogCapture::Sink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink(line);
        return;
    }
    systemLog(systemLevel(level), systemLogText(line));
}

void traceLogFormat(TraceLevel level, const char* format, ...) {
    if (level == TraceLevel::Debug && !traceDebugLoggingEnabled()) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? length + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    traceLog(level, text.data());
}

bool traceDebugLoggingEnabled() {
    return debugEnabled().load();
}

bool setTraceDebugLoggingEnabled(bool enabled) {
    return debugEnabled().exchange(enabled);
}

TraceActivity::TraceActivity(std::string name) {
    activityStack().push_back(std::move(name));
}

TraceActivity::~TraceActivity() {
    activityStack().pop_back();
}

std::string TraceActivity::current() {
    const auto& stack = activityStack();
    return stack.empty() ? std::string() : stack.back();
}

TraceLogCapture::TraceLogCapture(Sink sink) {
    std::lock_guard lock(sinkMutex());
    previous_ = std::exchange(currentSink(), std::move(sink));
}

TraceLogCapture::~TraceLogCapture() {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(previous_);
}
