#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/SystemLog.h"

TEST(SystemLog, CaptureSeesFormattedLinesUntilReleased) {
    std::vector<std::string> lines;
    {
        SystemLogCapture capture([&](SystemLogLevel level, const std::string& line) {
            lines.push_back(std::to_string(static_cast<int>(level)) + " " + line);
        });
        NSLog("field ID: %d, name %s", 7, "x");
        systemLog(SystemLogLevel::Info, "[DZCrashReporter] ready");
        {
            std::string longText(5000, 'a');
            NSLog("%s", longText.c_str());
        }
    }
    testing::internal::CaptureStderr();
    NSLog("after");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "after\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "5 field ID: 7, name x");
    EXPECT_EQ(lines[1], "6 [DZCrashReporter] ready");
    EXPECT_EQ(lines[2].size(), 5002u);
}
