#include "DudIzizoz/Internals/Util/DIZUtility.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {

// The SDK's version record, kept in a section of its own so that tools can read the version from
// the binary file without running it: version byte, then name, version and build, each 32 bytes,
// zero-padded.
struct __attribute__((packed)) DIZSdkVersionRecord {
    uint8_t recordVersion;
    char name[32];
    char version[32];
    char build[32];
};
static_assert(sizeof(DIZSdkVersionRecord) == 97);

__attribute__((section("__dz_ios"), used))
const DIZSdkVersionRecord kDIZSdkVersionRecord = {1, "dudizizoz.macos", "5.0.3", "1"};

std::string field(const char (&bytes)[32]) {
    return std::string(bytes, strnlen(bytes, sizeof bytes));
}

}  // namespace

std::string DIZUtility::sdkName() {
    return field(kDIZSdkVersionRecord.name);
}

std::string DIZUtility::sdkVersion() {
    return field(kDIZSdkVersionRecord.version);
}

DIZApplicationState DIZUtility::applicationState() {
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && executable.string().find(".appex/") != std::string::npos) return DIZApplicationState::Unknown;
    // The application stand-in is never hidden, so on the main thread it is always active.
    return DispatchQueue::isMainThread() ? DIZApplicationState::Active : DIZApplicationState::Unknown;
}

double DIZUtility::nowInMilliseconds() {
    return Clock::current().now() * 1000.0;
}

std::string DIZUtility::dateToISO8601(const Date& date) {
    int64_t millis = date.unixMillis();
    int64_t seconds = millis / 1000 - (millis % 1000 < 0 ? 1 : 0);
    int fraction = static_cast<int>(millis - seconds * 1000);
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return buffer;
}

std::optional<Date> DIZUtility::dateFromISO8601(const std::string& text) {
    int year, month, day, hour, minute, second, millis, consumed = 0;
    if (text.size() != 24 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &year, &month, &day, &hour, &minute,
                    &second, &millis, &consumed) != 7 ||
        consumed != 24) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    std::time_t seconds = timegm(&utc);
    if (utc.tm_mday != day) return std::nullopt;  // timegm rolled an impossible day over
    return Date::fromUnixMillis(static_cast<int64_t>(seconds) * 1000 + millis);
}
