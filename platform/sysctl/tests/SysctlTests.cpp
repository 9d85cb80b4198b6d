#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/sysctl/SysctlSources.h"
#include "platform/sysctl/sysctl.h"

namespace {

const std::string kFixtureRoot = std::string(QUORVANE_TEST_FIXTURES) + "/sysroot";

// The value of a name through the platform's two-step protocol: size, then bytes.
int readBytes(const char* name, std::string& value) {
    size_t size = 0;
    if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0) return errno;
    value.assign(size, '\0');
    if (sysctlbyname(name, value.data(), &size, nullptr, 0) != 0) return errno;
    value.resize(size);
    return 0;
}

std::string text(const char* name) {
    std::string value;
    EXPECT_EQ(readBytes(name, value), 0) << name;
    EXPECT_TRUE(!value.empty() && value.back() == '\0') << name << " ends in its NUL";
    return value.empty() ? value : value.substr(0, value.size() - 1);
}

int32_t integer(const char* name) {
    int32_t value = -1;
    size_t size = sizeof value;
    EXPECT_EQ(sysctlbyname(name, &value, &size, nullptr, 0), 0) << name;
    EXPECT_EQ(size, sizeof value) << name;
    return value;
}

int errorOf(const char* name) {
    size_t size = 0;
    return sysctlbyname(name, nullptr, &size, nullptr, 0) == 0 ? 0 : errno;
}

int readProcess(pid_t pid, kinfo_proc& record) {
    const int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    size_t size = sizeof record;
    if (sysctl(name, 4, &record, &size, nullptr, 0) != 0) return errno;
    return size == sizeof record ? 0 : -1;
}

}  // namespace

TEST(Sysctl, RunningSystemAnswersFromItsLinuxSources) {
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(text("kern.osrelease"), system.release);
    EXPECT_EQ(text("kern.osversion"), system.version);
#if defined(__x86_64__)
    EXPECT_EQ(integer("hw.cputype"), 0x1000007);
    EXPECT_EQ(integer("hw.cpusubtype"), 3);
#endif
    EXPECT_EQ(integer("hw.logicalcpu_max"), sysconf(_SC_NPROCESSORS_CONF));
    const int32_t cores = integer("hw.physicalcpu_max");
    EXPECT_GE(cores, 1);
    EXPECT_LE(cores, integer("hw.logicalcpu_max"));
    // No Linux source says whether a process runs translated.
    EXPECT_EQ(errorOf("sysctl.proc_native"), ENOENT);
    EXPECT_EQ(errorOf("no.such.name"), ENOENT);

    kinfo_proc self{};
    ASSERT_EQ(readProcess(getpid(), self), 0);
    EXPECT_EQ(self.kp_proc.p_pid, getpid());
    EXPECT_EQ(self.kp_eproc.e_ppid, getppid());
    kinfo_proc none{};
    EXPECT_EQ(readProcess(0x7fffffff, none), ESRCH);
}

TEST(Sysctl, FollowsThePlatformsCopyOutRules) {
    SysctlSources::Scoped scoped;
    SysctlSources::setSource("kern.osrelease", SysctlSources::text("19.6.0"));
    size_t size = 0;
    ASSERT_EQ(sysctlbyname("kern.osrelease", nullptr, &size, nullptr, 0), 0);
    EXPECT_EQ(size, 7u);

    char small[6] = "xxxxx";
    size = sizeof small;
    EXPECT_EQ(sysctlbyname("kern.osrelease", small, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_STREQ(small, "xxxxx");

    char value[16];
    size = sizeof value;
    ASSERT_EQ(sysctlbyname("kern.osrelease", value, &size, nullptr, 0), 0);
    EXPECT_EQ(size, 7u);
    EXPECT_STREQ(value, "19.6.0");

    EXPECT_EQ(sysctlbyname("kern.osrelease", value, &size, "20", 3), -1);
    EXPECT_EQ(errno, EPERM);
    const int wrongName[] = {CTL_KERN, KERN_PROC, 2, 1};
    EXPECT_EQ(sysctl(wrongName, 4, value, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Sysctl, ReplacedSourcesAnswerUntilReset) {
    {
        SysctlSources::Scoped scoped;
        SysctlSources::setSource("hw.model", SysctlSources::failure(EIO));
        SysctlSources::setProcessSource([](pid_t pid, kinfo_proc& record) {
            record.kp_proc.p_pid = pid;
            record.kp_eproc.e_ppid = 1;
            return 0;
        });
        EXPECT_EQ(errorOf("hw.model"), EIO);
        kinfo_proc record{};
        ASSERT_EQ(readProcess(31337, record), 0);
        EXPECT_EQ(record.kp_eproc.e_ppid, 1);
    }
    kinfo_proc record{};
    EXPECT_EQ(readProcess(31337 + 0x7f000000, record), ESRCH);
}

TEST(Sysctl, MachineFactsComeFromSysBelowTheRoot) {
    SysctlSources::Scoped scoped;
    SysctlSources::setRoot(kFixtureRoot);
    EXPECT_EQ(text("hw.model"), "Fixture Board 9000");
    // cpu0-cpu3 are two hyper-threaded cores, one per package, whose core ids are equal; cpu4 is
    // offline and has no topology; cpufreq is not a CPU.
    EXPECT_EQ(integer("hw.physicalcpu_max"), 2);
    EXPECT_EQ(integer("hw.logicalcpu_max"), 5);

    SysctlSources::setRoot(kFixtureRoot + "/proc");
    EXPECT_EQ(errorOf("hw.model"), ENOENT);
    EXPECT_EQ(errorOf("hw.physicalcpu_max"), ENOENT);
    EXPECT_EQ(errorOf("hw.logicalcpu_max"), ENOENT);
}

TEST(Sysctl, ProcessRecordsComeFromProcBelowTheRoot) {
    SysctlSources::Scoped scoped;
    SysctlSources::setRoot(kFixtureRoot);
    ASSERT_EQ(sysconf(_SC_CLK_TCK), 100);

    // The command name "a) b (c" holds the parentheses that surround it in the stat line.
    kinfo_proc record{};
    ASSERT_EQ(readProcess(4242, record), 0);
    EXPECT_EQ(record.kp_proc.p_pid, 4242);
    EXPECT_STREQ(record.kp_proc.p_comm, "a) b (c");
    EXPECT_EQ(record.kp_eproc.e_ppid, 17);
    EXPECT_EQ(record.kp_proc.p_flag, P_TRACED);
    // btime 1700000000 plus 12345 ticks.
    EXPECT_EQ(record.kp_proc.p_starttime.tv_sec, 1700000123);
    EXPECT_EQ(record.kp_proc.p_starttime.tv_usec, 450000);

    EXPECT_EQ(readProcess(4243, record), EIO);  // a stat line cut short
    EXPECT_EQ(readProcess(4244, record), ESRCH);
}
