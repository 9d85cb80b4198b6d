#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "crash_reporter/async/dzcrash_sysctl.h"
#include "platform/sysctl/SysctlSources.h"

namespace {

std::string copyString(const char* name) {
    std::unique_ptr<char, decltype(&std::free)> value(dzcrash_sysctl_copy_string(name), &std::free);
    return value ? value.get() : "(null)";
}

}  // namespace

TEST(DZCrashSysctl, AStringThatGrowsBetweenSizeAndReadIsAskedForAgain) {
    SysctlSources::Scoped scoped;
    int calls = 0;
    SysctlSources::setSource("kern.osversion", [&calls](std::string& value) {
        value = ++calls < 2 ? std::string("ab", 3) : std::string("abcdef", 7);
        return 0;
    });
    EXPECT_EQ(copyString("kern.osversion"), "abcdef");
    EXPECT_EQ(calls, 4);  // size and a read too small, then size and read again
}

TEST(DZCrashSysctl, FailuresKeepTheirErrno) {
    SysctlSources::Scoped scoped;
    SysctlSources::setSource("kern.osversion", SysctlSources::failure(EACCES));
    errno = 0;
    EXPECT_EQ(dzcrash_sysctl_copy_string("kern.osversion"), nullptr);
    EXPECT_EQ(errno, EACCES);
    errno = 0;
    EXPECT_EQ(dzcrash_sysctl_copy_string("sysctl.proc_native"), nullptr);
    EXPECT_EQ(errno, ENOENT);

    // A value without its NUL still comes back as a string.
    SysctlSources::setSource("hw.model", [](std::string& value) {
        value = "Board";
        return 0;
    });
    EXPECT_EQ(copyString("hw.model"), "Board");
}

TEST(DZCrashSysctl, IntegersAreExactlyFourBytes) {
    int32_t value = -1;
    ASSERT_TRUE(dzcrash_sysctl_read_int("hw.logicalcpu_max", &value));
    EXPECT_EQ(value, sysconf(_SC_NPROCESSORS_CONF));

    SysctlSources::Scoped scoped;
    SysctlSources::setSource("hw.model", SysctlSources::text("ab"));
    SysctlSources::setSource("kern.osversion", SysctlSources::text("longer than four"));
    value = -1;
    EXPECT_FALSE(dzcrash_sysctl_read_int("hw.model", &value));
    EXPECT_FALSE(dzcrash_sysctl_read_int("kern.osversion", &value));
    EXPECT_FALSE(dzcrash_sysctl_read_int("sysctl.proc_native", &value));
    EXPECT_EQ(value, -1);
}
