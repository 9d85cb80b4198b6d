#include "DudIzizoz/Internals/Util/DIZLogger.h"

#include <unistd.h>

#include <atomic>
#include <charconv>
#include <ctime>
#include <mutex>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UUID.h"

namespace {

struct LoggerState {
    std::recursive_mutex lock;
    DIZLogLevel level = DIZLogLevel::Assert;
    std::shared_ptr<const DIZLogHandler> handler;
    std::atomic<bool> userDefinedLevel{false};
};

LoggerState& state() {
    // Never destroyed: messages may still be logged while the process tears down its statics.
    static LoggerState* shared = [] {
        auto* s = new LoggerState;
        s->handler = std::make_shared<const DIZLogHandler>(DIZLogger::defaultLogHandler());
        return s;
    }();
    return *shared;
}

std::shared_ptr<const DIZLogHandler> currentHandler() {
    // Copied under the lock: swapping the handler while another thread reads it would be a data race.
    std::lock_guard guard(state().lock);
    return state().handler;
}

const char* levelName(DIZLogLevel level) {
    switch (level) {
        case DIZLogLevel::Verbose:
            return "VERBOSE";
        case DIZLogLevel::Debug:
            return "DEBUG";
        case DIZLogLevel::Info:
            return "INFO";
        case DIZLogLevel::Warning:
            return "WARNING";
        case DIZLogLevel::Error:
            return "ERROR";
        case DIZLogLevel::Assert:
            return "ASSERT";
        default:
            return "";
    }
}

// "void DIZFoo::bar(int) const" -> "DIZFoo::bar": the qualified name is what a reader looks for.
std::string_view methodName(std::string_view function) {
    int depth = 0;
    size_t open = std::string_view::npos;
    for (size_t i = 0; i < function.size() && open == std::string_view::npos; ++i) {
        if (function[i] == '<') ++depth;
        if (function[i] == '>') --depth;
        if (function[i] == '(' && depth == 0 && i > 0) open = i;
    }
    if (open == std::string_view::npos) return function;
    std::string_view head = function.substr(0, open);
    depth = 0;
    for (size_t i = head.size(); i-- > 0;) {
        if (head[i] == '>') ++depth;
        if (head[i] == '<') --depth;
        if (head[i] == ' ' && depth == 0) return head.substr(i + 1);
    }
    return head;
}

void systemLog(const std::string& line) {
    std::string out = line + "\n";
    // One write per line, so lines of concurrent processes never interleave.
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void printMessage(const DIZLogMessageProvider& provider, DIZLogLevel level, const std::string& tag,
                  const char*, const char* function, uint32_t line) {
    if (!provider || level == DIZLogLevel::None || level < DIZLogger::currentLogLevel()) return;
    std::string text = provider();
    std::string out = "[" + tag + "] " + levelName(level) + ": " +
                      std::string(methodName(function ? function : "")) + "/" + std::to_string(line) + " " +
                      text;
    systemLog(out);
}

}  // namespace

DIZLogLevel DIZLogger::currentLogLevel() {
    std::lock_guard guard(state().lock);
    return state().level;
}

void DIZLogger::setCurrentLogLevel(DIZLogLevel level) {
    std::lock_guard guard(state().lock);
    state().userDefinedLevel = true;
    state().level = level;
}

DIZLogHandler DIZLogger::logHandler() {
    auto handler = currentHandler();
    return handler ? *handler : DIZLogHandler();
}

void DIZLogger::setLogHandler(DIZLogHandler handler) {
    auto stored = handler ? std::make_shared<const DIZLogHandler>(std::move(handler)) : nullptr;
    std::lock_guard guard(state().lock);
    state().userDefinedLevel = true;
    state().handler = std::move(stored);
}

bool DIZLogger::isUserDefinedLogLevel() {
    return state().userDefinedLevel;
}

void DIZLogger::setIsUserDefinedLogLevel(bool userDefined) {
    state().userDefinedLevel = userDefined;
}

void DIZLogger::logMessage(DIZLogMessageProvider provider, DIZLogLevel level, std::string tag,
                           const char* file, const char* function, uint32_t line) {
    if (!currentHandler()) return;
    loggerQueue()->async([provider = std::move(provider), level, tag = std::move(tag),
                          file = std::string(file ? file : ""),
                          function = std::string(function ? function : ""), line] {
        if (auto handler = currentHandler())
            (*handler)(provider, level, tag, file.c_str(), function.c_str(), line);
    });
}

const DIZLogHandler& DIZLogger::defaultLogHandler() {
    static const DIZLogHandler handler = printMessage;
    return handler;
}

std::shared_ptr<DispatchQueue> DIZLogger::loggerQueue() {
    // Never destroyed, for the same reason as the state; its thread is never restarted.
    static constinit SharedInstance<DispatchQueue> queue{
        [] { return DispatchQueue::serial(std::string(kDIZSdkIdentifier) + ".loggerQueue"); },
        TestReset::keep};
    return queue.get();
}

namespace diz_log {

std::string format(std::string_view format, const std::string* args, size_t count) {
    static constexpr std::string_view kFlags = "-+ #0123456789.*";
    static constexpr std::string_view kLengths = "hlLqjzt";
    std::string out;
    out.reserve(format.size() + 16 * count);
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        if (format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < format.size() && kFlags.find(format[j]) != std::string_view::npos) ++j;
        while (j < format.size() && kLengths.find(format[j]) != std::string_view::npos) ++j;
        if (j == format.size()) {
            out.append(format.substr(i));
            break;
        }
        out += next < count ? args[next] : "(null)";
        ++next;
        i = j;
    }
    return out;
}

std::string describe(std::string_view text) {
    return std::string(text);
}
std::string describe(const char* text) {
    return text ? text : "(null)";
}
std::string describe(bool value) {
    return value ? "1" : "0";
}
std::string describe(long long value) {
    return std::to_string(value);
}
std::string describe(unsigned long long value) {
    return std::to_string(value);
}

std::string describe(double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string describe(const Date& date) {
    double unix = date.timeIntervalSince1970();
    std::time_t seconds = static_cast<std::time_t>(unix);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return buffer;
}

std::string describe(const Value& value) {
    return json::write(value);
}
std::string describe(const Error& error) {
    return error.description;
}
std::string describe(const UUID& uuid) {
    return uuid.uuidString();
}

}  // namespace diz_log
