#include "crash_reporter/async/DZCrashHostInfo.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crash_reporter/async/dzcrash_sysctl.h"
#include "platform/foundation/SystemLog.h"

namespace {

// Reads "<n>.<n>.<n>" from the start of `text`, as far as it goes; true when all three were read.
bool scanVersion(const char* text, DZCrashHostInfoVersion& version) {
    uint64_t* const parts[] = {&version.major, &version.minor, &version.revision};
    const char* const end = text + std::strlen(text);
    const char* cursor = text;
    for (size_t i = 0; i < 3; ++i) {
        if (i > 0) {
            if (cursor == end || *cursor != '.') return false;
            ++cursor;
        }
        uint64_t number;
        const auto [after, error] = std::from_chars(cursor, end, number);
        if (error != std::errc()) return false;
        *parts[i] = number;
        cursor = after;
    }
    return true;
}

}  // namespace

std::shared_ptr<DZCrashHostInfo> DZCrashHostInfo::currentHostInfo() {
    return init();
}

std::shared_ptr<DZCrashHostInfo> DZCrashHostInfo::init() {
    char* release = dzcrash_sysctl_copy_string("kern.osrelease");
    if (!release) {
        const int error = errno;
        systemLog(SystemLogLevel::Info, "[DZCrashReporter] Failed to fetch kern.osrelease value " +
                                            std::to_string(error) + ": " + std::strerror(error));
        return nullptr;
    }
    DZCrashHostInfoVersion version;
    if (!scanVersion(release, version)) {
        systemLog(SystemLogLevel::Info,
                  std::string("[DZCrashReporter] Unexpected kern.osrelease string format: ") + release);
    }
    std::free(release);
    return std::make_shared<DZCrashHostInfo>(version);
}
