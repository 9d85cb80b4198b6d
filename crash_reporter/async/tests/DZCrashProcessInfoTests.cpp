#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "crash_reporter/async/DZCrashProcessInfo.h"
#include "platform/sysctl/SysctlSources.h"
#include "testing/ChildProcess.h"
#include "testing/Eventually.h"

namespace {

constexpr const char* kNameVariable = "DZCRASH_CHILD_NAME_HEX";
constexpr const char* kMarkerVariable = "DZCRASH_CHILD_MARKER";

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// /proc's own account of a process: its start in clock ticks after boot, and the boot time.
struct ProcStart {
    uint64_t ticks = 0;
    uint64_t bootTime = 0;
};

ProcStart procStart(pid_t pid) {
    ProcStart start;
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 22) start.ticks = std::stoull(field);
    }
    std::ifstream systemStat("/proc/stat");
    for (std::string line; std::getline(systemStat, line);) {
        if (line.rfind("btime ", 0) == 0) start.bootTime = std::stoull(line.substr(6));
    }
    return start;
}

}  // namespace

// Runs only as the child of NamedChildrenAreSeenAsTheKernelKeepsThem: names itself, says so through
// a marker file, and waits to be killed.
TEST(DZCrashProcessInfoChild, NamesItselfAndWaits) {
    const char* name = std::getenv(kNameVariable);
    const char* marker = std::getenv(kMarkerVariable);
    if (!name || !marker) GTEST_SKIP() << "runs as a child process only";
    ASSERT_EQ(prctl(PR_SET_NAME, fromHex(name).c_str()), 0);
    alarm(120);  // gone even if the parent never kills it
    std::ofstream(std::string(marker) + ".tmp") << getpid();
    std::filesystem::rename(std::string(marker) + ".tmp", marker);
    for (;;) pause();
}

TEST(DZCrashProcessInfo, NamedChildrenAreSeenAsTheKernelKeepsThem) {
    struct Case {
        const char* what;
        std::string name;
        std::optional<std::string> expected;
    } cases[] = {
        {"plain", "dzcrash-child", "dzcrash-child"},
        // The kernel keeps 15 bytes: 13 letters and the first two of the three of "€".
        {"cut inside a character",
         "abcdefghijklm\xE2\x82\xAC"
         "x",
         "abcdefghijklm"},
        {"starts with a byte that leads nothing",
         "\xFF"
         "child",
         std::nullopt},
    };
    const char* base = std::getenv("QUORVANE_TEST_TMP");
    const std::filesystem::path folder =
        (base ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) / "process-info";
    std::filesystem::create_directories(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string marker = (folder / ("marker-" + std::to_string(getpid()))).string();
        std::filesystem::remove(marker);
        const pid_t child =
            spawnThisTestBinary("DZCrashProcessInfoChild.NamesItselfAndWaits",
                                {.environment = {std::string(kNameVariable) + "=" + toHex(c.name),
                                                 std::string(kMarkerVariable) + "=" + marker},
                                 .quiet = true});
        ASSERT_GT(child, 0);
        const bool named = eventually([&] { return std::filesystem::exists(marker); });
        const auto info = DZCrashProcessInfo::initWithProcessID(child);
        const ProcStart start = procStart(child);
        kill(child, SIGKILL);
        waitForChild(child);
        std::filesystem::remove(marker);
        ASSERT_TRUE(named);

        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->processName(), c.expected);
        EXPECT_EQ(info->processID(), child);
        EXPECT_EQ(info->parentProcessID(), getpid());
        EXPECT_FALSE(info->isTraced());
        const uint64_t ticksPerSecond = static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
        EXPECT_EQ(static_cast<uint64_t>(info->startTime().tv_sec),
                  start.bootTime + start.ticks / ticksPerSecond);
        EXPECT_EQ(static_cast<uint64_t>(info->startTime().tv_usec),
                  start.ticks % ticksPerSecond * 1000000 / ticksPerSecond);
    }
}

TEST(DZCrashProcessInfo, CurrentProcessAndMissingProcesses) {
    const auto current = DZCrashProcessInfo::currentProcessInfo();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->processID(), getpid());
    EXPECT_EQ(current->parentProcessID(), getppid());
    EXPECT_EQ(DZCrashProcessInfo::initWithProcessID(0x7fffffff), nullptr);
    EXPECT_EQ(DZCrashProcessInfo::initWithProcessID(-1), nullptr);
}

TEST(DZCrashProcessInfo, TracedFlagComesFromTheRecord) {
    SysctlSources::Scoped scoped;
    SysctlSources::setProcessSource([](pid_t pid, kinfo_proc& record) {
        record.kp_proc.p_pid = pid;
        record.kp_proc.p_flag = P_TRACED;
        return 0;
    });
    const auto info = DZCrashProcessInfo::initWithProcessID(77);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->isTraced());
    EXPECT_EQ(info->processName(), std::nullopt);  // an empty command name
}
