#include "platform/zazavaroveridiz/ZIZLogger.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace {
std::atomic<int> gLevel{kZIZLoggerLevelNotice};

std::mutex& sinkMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: threads may log during exit
    return *mutex;
}

ZIZLoggerSink& currentSink() {
    static ZIZLoggerSink* sink = new ZIZLoggerSink;
    return *sink;
}

// Scanned by hand: the message is never handed to a printf-style function.
std::string undoubledPercents(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        out += message[i];
        if (message[i] == '%' && i + 1 < message.size() && message[i + 1] == '%') ++i;
    }
    return out;
}
}  // namespace

void ZIZSetLoggerLevel(int level) {
    if (level >= kZIZLoggerLevelError && level <= kZIZLoggerLevelDebug) gLevel = level;
}

bool ZIZIsLoggableLevel(int level) {
    return level <= gLevel.load();
}

void ZIZLogBasic(int level, std::string_view service, bool force, std::string_view messageCode,
                 std::string_view message) {
    if (!force && !ZIZIsLoggableLevel(level)) return;
    std::string line;
    line.append(service).append("[").append(messageCode).append("] ").append(undoubledPercents(message));
    ZIZLoggerSink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink(level, line);
        return;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void ZIZLogWarning(std::string_view service, bool force, std::string_view messageCode,
                   std::string_view message) {
    ZIZLogBasic(kZIZLoggerLevelWarning, service, force, messageCode, message);
}

void ZIZLogError(std::string_view service, bool force, std::string_view messageCode,
                 std::string_view message) {
    ZIZLogBasic(kZIZLoggerLevelError, service, force, messageCode, message);
}

ZIZLoggerCapture::ZIZLoggerCapture(ZIZLoggerSink sink) {
    std::lock_guard lock(sinkMutex());
    previous_ = std::exchange(currentSink(), std::move(sink));
}

ZIZLoggerCapture::~ZIZLoggerCapture() {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(previous_);
}
