#include "platform/foundation/SystemLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex& sinkMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: threads may log during exit
    return *mutex;
}

SystemLogSink& currentSink() {
    static SystemLogSink* sink = new SystemLogSink;
    return *sink;
}

}  // namespace

void systemLog(SystemLogLevel level, std::string_view message) {
    SystemLogSink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    std::string line(message);
    if (sink) {
        sink(level, line);
        return;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void NSLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? length + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    systemLog(SystemLogLevel::Notice, text.data());
}

SystemLogCapture::SystemLogCapture(SystemLogSink sink) {
    std::lock_guard lock(sinkMutex());
    previous_ = std::exchange(currentSink(), std::move(sink));
}

SystemLogCapture::~SystemLogCapture() {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(previous_);
}
