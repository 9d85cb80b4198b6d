#pragma once
// The reporting client's single logging entry. Every message goes, with its level, tag and source
// position, to the current handler on one serial queue; its text is made there, only when the
// handler asks for it, so a filtered message costs the caller little more than copying arguments.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

class DispatchQueue;
class Date;
class Value;
struct Error;
class UUID;

enum class DIZLogLevel : int {
    Verbose = 2,
    Debug = 3,
    Info = 4,
    Warning = 5,
    Error = 6,
    Assert = 7,
    None = 99,
};

using DIZLogMessageProvider = std::function<std::string()>;
using DIZLogHandler =
    std::function<void(const DIZLogMessageProvider& provider, DIZLogLevel level, const std::string& tag,
                       const char* file, const char* function, uint32_t line)>;

class DIZLogger {
  public:
    // Starts at Assert, so only assertions print until something lowers it.
    static DIZLogLevel currentLogLevel();
    // Both setters mark the level as chosen by the application.
    static void setCurrentLogLevel(DIZLogLevel level);
    static DIZLogHandler logHandler();
    // An empty handler silences all logging: nothing is queued any more.
    static void setLogHandler(DIZLogHandler handler);
    static bool isUserDefinedLogLevel();
    static void setIsUserDefinedLogLevel(bool userDefined);

    // Queues one call of the handler current when the task runs. No level test here: a custom
    // handler sees every message and filters by itself.
    static void logMessage(DIZLogMessageProvider provider, DIZLogLevel level, std::string tag,
                           const char* file, const char* function, uint32_t line);

    // Prints "[tag] LEVEL: function/line text" to the system log when the level is at or above the
    // current one.
    static const DIZLogHandler& defaultLogHandler();
    // The serial queue "<SDK identifier>.loggerQueue" on which every handler call runs.
    static std::shared_ptr<DispatchQueue> loggerQueue();

    // The form behind the DIZLog... macros: `format` takes "%@", "%d", "%s", "%tu" and the like,
    // each filled with the next argument's text.
    template <size_t N, class... Args>
    static void log(DIZLogLevel level, std::string tag, const char* file, const char* function, uint32_t line,
                    const char (&format)[N], const Args&... args);
};

namespace diz_log {
// Fills each placeholder of `format` with the next text of `args`; a missing argument reads "(null)".
std::string format(std::string_view format, const std::string* args, size_t count);

std::string describe(std::string_view text);
std::string describe(const char* text);
std::string describe(bool value);
std::string describe(double value);
std::string describe(long long value);
std::string describe(unsigned long long value);
std::string describe(const Date& date);    // "2026-01-01 00:00:00 +0000"
std::string describe(const Value& value);  // JSON text
std::string describe(const Error& error);  // the description
std::string describe(const UUID& uuid);

template <class T>
std::string argument(const T& value) {
    if constexpr (std::is_enum_v<T>) {
        return describe(static_cast<long long>(value));
    } else if constexpr (std::is_same_v<T, bool>) {
        return describe(value);
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
        return describe(static_cast<long long>(value));
    } else if constexpr (std::is_integral_v<T>) {
        return describe(static_cast<unsigned long long>(value));
    } else if constexpr (std::is_floating_point_v<T>) {
        return describe(static_cast<double>(value));
    } else if constexpr (std::is_convertible_v<const T&, const char*>) {
        return describe(static_cast<const char*>(value));
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return describe(std::string_view(value));
    } else if constexpr (std::is_same_v<T, ::Date> || std::is_same_v<T, ::Value> ||
                         std::is_same_v<T, ::Error> || std::is_same_v<T, ::UUID>) {
        return describe(value);
    } else if constexpr (requires {
                             value.has_value();
                             *value;
                         }) {
        return value ? argument(*value) : "(null)";
    } else if constexpr (requires {
                             value.get();
                             *value;
                         }) {
        return value ? argument(*value) : "(null)";
    } else if constexpr (requires { value.description(); }) {
        return value.description();
    } else if constexpr (requires { value.string(); }) {
        return value.string();
    } else {
        static_assert(sizeof(T) == 0, "no log text for this argument type");
    }
}
}  // namespace diz_log

template <size_t N, class... Args>
void DIZLogger::log(DIZLogLevel level, std::string tag, const char* file, const char* function, uint32_t line,
                    const char (&format)[N], const Args&... args) {
    std::array<std::string, sizeof...(Args)> texts{diz_log::argument(args)...};
    logMessage([fmt = &format[0],
                texts = std::move(texts)] { return diz_log::format(fmt, texts.data(), texts.size()); },
               level, std::move(tag), file, function, line);
}

#define DIZLOG_AT(level, tag, ...) \
    DIZLogger::log(level, tag, __FILE__, __PRETTY_FUNCTION__, __LINE__, __VA_ARGS__)
#define DIZLogVerbose(tag, ...) DIZLOG_AT(DIZLogLevel::Verbose, tag, __VA_ARGS__)
#define DIZLogDebug(tag, ...) DIZLOG_AT(DIZLogLevel::Debug, tag, __VA_ARGS__)
#define DIZLogInfo(tag, ...) DIZLOG_AT(DIZLogLevel::Info, tag, __VA_ARGS__)
#define DIZLogWarning(tag, ...) DIZLOG_AT(DIZLogLevel::Warning, tag, __VA_ARGS__)
#define DIZLogError(tag, ...) DIZLOG_AT(DIZLogLevel::Error, tag, __VA_ARGS__)
#define DIZLogAssert(tag, ...) DIZLOG_AT(DIZLogLevel::Assert, tag, __VA_ARGS__)
