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

__attribute__((section("__dz_ios"), used)) const DIZSdkVersionRecord kDIZSdkVersionRecord = {
    1, "dudizizoz.macos", "5.0.3", "1"};

std::string field(const char (&bytes)[32]) { return std::string(bytes, strnlen(bytes, sizeof bytes)); }

// Byte length of the well-formed UTF-8 sequence at `i`, or 0 when none starts there (a stray byte,
// an overlong form, a surrogate or a code point beyond U+10FFFF).
size_t sequenceAt(const std::string& text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
             : lead >= 0xF0 && lead <= 0xF4                      ? 4
                                                                 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    unsigned char second = n > 1 ? byte(i + 1) : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    return n;
}

// Walks `text` one character at a time: `visit(byteOffset, byteLength, utf16Units)`; a byte that
// starts no valid sequence counts as one character of one unit. Stops when `visit` answers false.
template <class Visit>
void forEachCharacter(const std::string& text, const Visit& visit) {
    for (size_t i = 0; i < text.size();) {
        size_t n = sequenceAt(text, i);
        size_t units = n == 4 ? 2 : 1;
        if (n == 0) n = 1;
        if (!visit(i, n, units)) return;
        i += n;
    }
}

}  // namespace

bool DIZIsValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = sequenceAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

size_t DIZUtf16Length(const std::string& text) {
    size_t units = 0;
    forEachCharacter(text, [&](size_t, size_t, size_t u) {
        units += u;
        return true;
    });
    return units;
}

std::string DIZUtf16Prefix(const std::string& text, size_t units) {
    size_t used = 0, bytes = 0;
    forEachCharacter(text, [&](size_t offset, size_t length, size_t u) {
        if (used + u > units) return false;
        used += u;
        bytes = offset + length;
        return true;
    });
    return text.substr(0, bytes);
}

std::string DIZUtility::sdkName() { return field(kDIZSdkVersionRecord.name); }

std::string DIZUtility::sdkVersion() { return field(kDIZSdkVersionRecord.version); }

DIZApplicationState DIZUtility::applicationState() {
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && executable.string().find(".appex/") != std::string::npos) return DIZApplicationState::Unknown;
    // The application stand-in is never hidden, so on the main thread it is always active.
    return DispatchQueue::isMainThread() ? DIZApplicationState::Active : DIZApplicationState::Unknown;
}

double DIZUtility::nowInMilliseconds() { return Clock::current().now() * 1000.0; }

std::string DIZUtility::dateToISO8601(const Date& date) {
    int64_t millis = date.unixMillis();
    int64_t seconds = millis / 1000 - (millis % 1000 < 0 ? 1 : 0);
    int fraction = static_cast<int>(millis - seconds * 1000);
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return buffer;
}

std::optional<Date> DIZUtility::dateFromISO8601(const std::string& text) {
    int year, month, day, hour, minute, second, millis, consumed = 0;
    if (text.size() != 24 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &year, &month, &day, &hour, &minute, &second,
                    &millis, &consumed) != 7 ||
        consumed != 24) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
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
