#include <gtest/gtest.h>

#include "DudIzizozCrashes/Model/DIZErrorReport.h"
#include "DudIzizozCrashes/Model/tests/DIZCrashesTesting.h"
#include "platform/foundation/JSON.h"

namespace {

DIZErrorReport reportWithSignal(std::optional<std::string> signal, uint64_t processId = 0) {
    return DIZErrorReport("6A1E9C7B-7F3D-4C1A-9E0B-1D2C3B4A5F60", std::nullopt, std::move(signal),
                          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt, std::nullopt, nullptr, processId);
}

TEST(DIZErrorReportTest, AppKillIsSigkillInAnyCase) {
    struct Case {
        std::optional<std::string> signal;
        bool appKill;
    } cases[] = {{"SIGKILL", true},     {"sigkill", true}, {"SigKill", true},  {"SIGABRT", false},
                 {std::nullopt, false}, {"", false},       {"SIGKILL ", false}};
    for (const auto& c : cases)
        EXPECT_EQ(reportWithSignal(c.signal).isAppKill(), c.appKill) << c.signal.value_or("(none)");

    auto report = reportWithSignal("SIGSEGV");
    report.setSignal("sigkill");
    EXPECT_TRUE(report.isAppKill());
    report.setSignal(std::nullopt);
    EXPECT_FALSE(report.isAppKill());
}

TEST(DIZErrorReportTest, DescriptionHoldsOnlyWhatIsPresent) {
    const Date started = Date::fromUnixMillis(1700000000000);
    DIZErrorReport handled("id-1", std::nullopt, std::nullopt, std::nullopt, std::nullopt, started,
                           kDIZTestWhen, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                           DIZValidDevice(), 0);
    EXPECT_EQ(DIZJsonKeys(handled),
              (std::vector<std::string>{"incidentIdentifier", "appStartTime", "appErrorTime", "device"}));
    EXPECT_EQ(DIZJson(handled)["appStartTime"], Value(started));
    EXPECT_EQ(json::parse(handled.description()), json::parse(json::write(DIZJson(handled))));

    auto thread = std::make_shared<DIZThread>();
    thread->setThreadId(1);
    DIZErrorReport crash("id-2", "reporter", "SIGSEGV", "NSRangeException", "out of range", started,
                         kDIZTestWhen, "X86-64", "x86_64h", "/Applications/quorvane.app", std::vector{thread},
                         std::vector<std::shared_ptr<DIZBinary>>{}, DIZValidDevice(), 4242);
    EXPECT_EQ(crash.codeType(), "X86-64");
    EXPECT_EQ(crash.archName(), "x86_64h");
    EXPECT_EQ(crash.incidentIdentifier(), "id-2");
    EXPECT_EQ(DIZJsonKeys(crash),
              (std::vector<std::string>{"incidentIdentifier", "reporterKey", "signal", "exceptionName",
                                        "exceptionReason", "appStartTime", "appErrorTime", "codeType",
                                        "archName", "applicationPath", "threads", "binaries", "device",
                                        "appProcessIdentifier"}));
    EXPECT_EQ(DIZJson(crash)["appProcessIdentifier"], Value("4242"));
    EXPECT_EQ(DIZJson(crash)["threads"],
              Value(Value::Array{Dictionary{{"id", 1}, {"frames", Value::Array{}}}}));
}

}  // namespace
