#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/zazavaroveridiz/ZIZAppEnvironmentUtil.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

namespace {

class SharedLogger : public ::testing::Test {
  protected:
    SharedLogger()
        : capture_([this](int level, const std::string& line) {
              std::lock_guard lock(mutex_);
              lines_.push_back(std::to_string(level) + " " + line);
          }) {
        ZIZSetLoggerLevel(kZIZLoggerLevelNotice);
    }
    ~SharedLogger() override { ZIZSetLoggerLevel(kZIZLoggerLevelNotice); }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    std::mutex mutex_;
    std::vector<std::string> lines_;
    ZIZLoggerCapture capture_;
};

TEST_F(SharedLogger, WritesLevelsUpToItsOwn) {
    EXPECT_TRUE(ZIZIsLoggableLevel(kZIZLoggerLevelError));
    EXPECT_TRUE(ZIZIsLoggableLevel(kZIZLoggerLevelNotice));
    EXPECT_FALSE(ZIZIsLoggableLevel(kZIZLoggerLevelInfo));
    ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
    EXPECT_TRUE(ZIZIsLoggableLevel(kZIZLoggerLevelDebug));
    // Outside the scale the level stays as it is.
    for (int level : {0, 2, 8, -1}) {
        ZIZSetLoggerLevel(level);
        EXPECT_TRUE(ZIZIsLoggableLevel(kZIZLoggerLevelDebug)) << level;
    }
    ZIZSetLoggerLevel(kZIZLoggerLevelError);
    EXPECT_FALSE(ZIZIsLoggableLevel(kZIZLoggerLevelWarning));
}

TEST_F(SharedLogger, TakesMessagesWholeAndUndoublesPercents) {
    ZIZLogBasic(kZIZLoggerLevelNotice, "<Tag>", false, "I-ACS000001", "100%% sure %s %n %d%");
    ZIZLogBasic(kZIZLoggerLevelDebug, "<Tag>", false, "I-ACS000002", "not written");
    ZIZLogBasic(kZIZLoggerLevelDebug, "<Tag>", true, "I-ACS000003", "forced");
    ZIZLogWarning("<Tag>", false, "I-ACS041001", "warning");
    ZIZLogError("<Tag>", false, "I-ACS041004", "error %%%%");
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "5 <Tag>[I-ACS000001] 100% sure %s %n %d%",
                           "7 <Tag>[I-ACS000003] forced",
                           "4 <Tag>[I-ACS041001] warning",
                           "3 <Tag>[I-ACS041004] error %%",
                       }));
}

TEST(AppEnvironment, ModelAndKernelRelease) {
    struct utsname names {};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(ZIZAppEnvironmentUtil::systemVersion(), names.release);
    const std::string model = ZIZAppEnvironmentUtil::deviceModel();
    EXPECT_FALSE(model.empty());
    EXPECT_EQ(model.find('\n'), std::string::npos);
}

}  // namespace
