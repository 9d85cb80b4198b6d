#include "crash_reporter/async/dzcrash_sysctl.h"

#include <cerrno>
#include <cstdlib>

#include "platform/sysctl/sysctl.h"

char* dzcrash_sysctl_copy_string(const char* name) {
    for (;;) {
        size_t size = 0;
        if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0) return nullptr;
        // One byte more than asked for, so the result ends in a NUL even if the value did not.
        char* value = static_cast<char*>(std::malloc(size + 1));
        if (!value) {
            errno = ENOMEM;
            return nullptr;
        }
        if (sysctlbyname(name, value, &size, nullptr, 0) == 0) {
            value[size] = '\0';
            return value;
        }
        const int error = errno;
        std::free(value);
        errno = error;
        if (error != ENOMEM) return nullptr;
    }
}

bool dzcrash_sysctl_read_int(const char* name, int32_t* out) {
    int32_t value = 0;
    size_t size = sizeof value;
    if (sysctlbyname(name, &value, &size, nullptr, 0) != 0) return false;
    if (size != sizeof value) {
        errno = EINVAL;
        return false;
    }
    *out = value;
    return true;
}
