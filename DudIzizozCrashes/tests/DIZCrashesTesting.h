#pragma once
// Support shared by the crash service's tests.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizozCrashes/DIZCrashes.h"
#include "testing/ChildProcess.h"

// Makes real reporters (their files live in the test's home) but only records the enabling, which
// would install this process's crash handlers.
class RecordingProvider : public DIZCrashReporterProvider {
  public:
    std::shared_ptr<DZCrashReporter> makeCrashReporter(
        std::shared_ptr<DZCrashReporterConfig> config) override {
        configs.push_back(config);
        return DIZCrashReporterProvider::makeCrashReporter(std::move(config));
    }
    bool enableCrashReporter(DZCrashReporter&, Error*) override {
        ++enablings;
        return true;
    }
    bool isDebuggerAttached() override { return debuggerAttached; }

    std::vector<std::shared_ptr<DZCrashReporterConfig>> configs;
    int enablings = 0;
    bool debuggerAttached = false;
};

// The child test of DIZCrashesTests.cpp starts the client with the crash service in the given home,
// then does what its mode says: "nullPointer", "abort", "throw" crash; "testCrash" calls the test
// crash with a recording provider; "none" only answers, in its exit code, whether the last run
// crashed.
inline constexpr const char* kChildModeVariable = "DIZ_CRASHES_CHILD";
inline constexpr int kCrashedInLastSession = 30, kNotCrashedInLastSession = 31;

inline std::optional<int> runCrashesChild(const std::filesystem::path& home, const std::string& mode) {
    std::vector<std::string> environment{std::string(kChildModeVariable) + "=" + mode,
                                         "QUORVANE_HOME=" + home.string()};
    const pid_t child = spawnThisTestBinary("DIZCrashesChild.StartsTheClientAndDoesWhatItIsTold",
                                            {.environment = environment, .quiet = true});
    if (child <= 0) return std::nullopt;
    return waitForChild(child);
}
