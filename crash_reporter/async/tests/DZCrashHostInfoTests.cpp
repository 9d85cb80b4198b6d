#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cerrno>
#include <string>
#include <vector>

#include "crash_reporter/async/DZCrashHostInfo.h"
#include "platform/foundation/SystemLog.h"
#include "platform/sysctl/SysctlSources.h"

namespace {

class HostInfo : public testing::Test {
  protected:
    std::vector<std::string> lines_;
    SystemLogCapture capture_{[this](SystemLogLevel, const std::string& line) { lines_.push_back(line); }};
    SysctlSources::Scoped sources_;
};

}  // namespace

TEST_F(HostInfo, ReadsTheReleaseAsFarAsItGoes) {
    struct Case {
        const char* release;
        DZCrashHostInfoVersion expected;
        bool logged;
    } cases[] = {
        {"19.6.0", {19, 6, 0}, false}, {"6.1.0-18-amd64", {6, 1, 0}, false},
        {"20", {20, 0, 0}, true},      {"5.10", {5, 10, 0}, true},
        {"kernel", {0, 0, 0}, true},   {"99999999999999999999.1.1", {0, 0, 0}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        lines_.clear();
        SysctlSources::setSource("kern.osrelease", SysctlSources::text(c.release));
        const auto info = DZCrashHostInfo::currentHostInfo();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->darwinVersion().major, c.expected.major);
        EXPECT_EQ(info->darwinVersion().minor, c.expected.minor);
        EXPECT_EQ(info->darwinVersion().revision, c.expected.revision);
        if (c.logged) {
            EXPECT_EQ(lines_, std::vector<std::string>{
                                  std::string("[DZCrashReporter] Unexpected kern.osrelease string format: ") +
                                  c.release});
        } else {
            EXPECT_TRUE(lines_.empty());
        }
    }
}

TEST_F(HostInfo, AFailedReadGivesNothingAndALine) {
    SysctlSources::setSource("kern.osrelease", SysctlSources::failure(EIO));
    EXPECT_EQ(DZCrashHostInfo::init(), nullptr);
    EXPECT_EQ(lines_, std::vector<std::string>{
                          "[DZCrashReporter] Failed to fetch kern.osrelease value 5: Input/output error"});
}

TEST_F(HostInfo, RunningKernelsReleaseIsRead) {
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    const auto info = DZCrashHostInfo::init();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::to_string(info->darwinVersion().major) + "." + std::to_string(info->darwinVersion().minor),
              std::string(system.release).substr(0, std::string(system.release).find('.', 2)));
}
