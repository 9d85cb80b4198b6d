#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/NSAssertionHandler.h"
#include "platform/foundation/SystemLog.h"
#include "platform/foundation/SystemTrace.h"

namespace {

struct DebugLogging {
    explicit DebugLogging(bool on) : before(setTraceDebugLoggingEnabled(on)) {}
    ~DebugLogging() { setTraceDebugLoggingEnabled(before); }
    bool before;
};

TEST(SystemTrace, LinesCarryTheInnermostActivityAndTheirPayload) {
    DebugLogging debug(false);
    std::vector<TraceLine> lines;
    TraceLogCapture capture([&](const TraceLine& line) { lines.push_back(line); });
    traceLog(TraceLevel::Info, "outside");
    {
        TraceActivity outer("Key Code -> Literal");
        {
            TraceActivity inner("ASCII Literal -> Key Code");
            traceLogFormat(TraceLevel::Error, "#Error code %hu: %d", uint16_t(7), -50);
        }
        traceLog(TraceLevel::Fault, "#Critical back", Dictionary{{"keyCode", 7}});
        traceLog(TraceLevel::Debug, "dropped while debug logging is off");
    }
    setTraceDebugLoggingEnabled(true);
    traceLog(TraceLevel::Debug, "kept");

    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].activity, "");
    EXPECT_EQ(lines[1].activity, "ASCII Literal -> Key Code");
    EXPECT_EQ(lines[1].message, "#Error code 7: -50");
    EXPECT_EQ(lines[1].level, TraceLevel::Error);
    EXPECT_EQ(lines[2].activity, "Key Code -> Literal");
    EXPECT_EQ(lines[2].payload, Value(Dictionary{{"keyCode", 7}}));
    EXPECT_EQ(lines[3].message, "kept");
    EXPECT_EQ(TraceActivity::current(), "");
}

TEST(SystemTrace, WithoutACaptureLinesGoToTheSystemLog) {
    DebugLogging debug(false);
    std::vector<std::string> lines;
    SystemLogCapture capture([&](SystemLogLevel level, const std::string& line) {
        lines.push_back(std::to_string(int(level)) + " " + line);
    });
    TraceActivity activity("Key Code -> Symbol");
    traceLog(TraceLevel::Error, "#Error Invalid key code", Dictionary{{"value", "x"}});
    traceLog(TraceLevel::Debug, "not shown");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "3 [Key Code -> Symbol] #Error Invalid key code {\"value\":\"x\"}");
}

TEST(AssertionHandler, RaisesAnInternalInconsistencyWithTheDescription) {
    std::vector<std::string> logged;
    SystemLogCapture capture([&](SystemLogLevel, const std::string& line) { logged.push_back(line); });
    try {
        NSAssert(1 + 1 == 3, "arithmetic must hold");
        FAIL() << "did not raise";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), NSInternalInconsistencyException);
        EXPECT_EQ(e.reason(), "arithmetic must hold");
    }
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("*** Assertion failure in "), std::string::npos);
    EXPECT_NE(logged[0].find("SystemTraceTests.cpp:"), std::string::npos);
    NSAssert(true, "never evaluated into a failure");
}

}  // namespace
