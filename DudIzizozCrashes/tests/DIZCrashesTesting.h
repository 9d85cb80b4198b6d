#pragma once
// Support shared by the crash service's tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
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

// A fresh crash service in a home of its own, made with `provider_`, its log lines captured.
class DIZCrashesServiceTest : public ::testing::Test {
  protected:
    DIZCrashesServiceTest() {
        DIZCrashesUtil::resetDirectory();
        DIZCrashes::resetSharedInstance();
        DIZCrashes::setCrashReporterProvider(provider_);
        DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    }
    ~DIZCrashesServiceTest() override {
        // The log buffer's files are made on a global queue, and must not outlive the home.
        EXPECT_TRUE(BackgroundActivity::waitUntilIdle(20));
        DIZCrashes::setCrashReporterProvider(nullptr);
        DIZCrashes::resetSharedInstance();
        resetAllForTesting();
        DIZCrashesUtil::resetDirectory();
    }

    TestHome home_{DIZHostBundle()};
    DIZLogCapture capture_;
    std::shared_ptr<RecordingProvider> provider_ = std::make_shared<RecordingProvider>();
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
