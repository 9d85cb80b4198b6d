#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"
#include "DudIzizozCrashes/Internals/Model/DIZHandledErrorLog.h"
#include "DudIzizozCrashes/Model/tests/DIZCrashesTesting.h"
#include "platform/foundation/JSON.h"

namespace {

std::shared_ptr<DIZAppleErrorLog> validAppleLog() {
    auto log = std::make_shared<DIZAppleErrorLog>();
    log->setTimestamp(kDIZTestWhen);
    log->setDevice(DIZValidDevice());
    log->setErrorId("6A1E9C7B-7F3D-4C1A-9E0B-1D2C3B4A5F60");
    log->setProcessId(4242);
    log->setProcessName("quorvane");
    log->setPrimaryArchitectureId(16777223);
    log->setApplicationPath("/Applications/quorvane.app/Contents/MacOS/quorvane");
    log->setOsExceptionType("SIGSEGV");
    log->setOsExceptionCode("SEGV_MAPERR");
    log->setOsExceptionAddress("0x0");
    return log;
}

TEST(DIZAppleErrorLogTest, InitWritesOnlyTypeAndFatal) {
    DIZAppleErrorLog log;
    EXPECT_EQ(json::write(DIZJson(log)), R"({"type":"appleError","fatal":false})");
    EXPECT_NE(dynamic_cast<DIZNoAutoAssignSessionIdLog*>(&log), nullptr) << "keeps the crash's session id";

    log.setThreads(std::vector<std::shared_ptr<DIZThread>>{});
    EXPECT_EQ(json::write(DIZJson(log)), R"({"type":"appleError","fatal":false,"threads":[]})");
}

TEST(DIZAppleErrorLogTest, FilledLogWritesEveryKeyInOrder) {
    auto log = validAppleLog();
    log->setSid("session");
    log->setDistributionGroupId("group");
    log->setUserId("alice");
    log->setProperties(DIZProperties{{"k", "v"}});
    log->setParentProcessId(1);
    log->setParentProcessName("launchd");
    log->setErrorThreadId(0);
    log->setErrorThreadName("main");
    log->setFatal(true);
    log->setAppLaunchTimestamp(Date::fromUnixMillis(1700000000000));
    log->setArchitecture("x86_64");
    log->setArchitectureVariantId(3);
    log->setExceptionType("NSRangeException");
    log->setExceptionReason("index 3 beyond bounds");
    log->setSelectorRegisterValue("objectAtIndex:");
    log->setThreads(std::vector{std::make_shared<DIZThread>()});
    log->setBinaries(std::vector{std::make_shared<DIZBinary>()});
    log->setRegisters(Dictionary{{"rip", Value("0x1000")}, {"rsp", Value("0x7ff0")}});
    log->setException(std::make_shared<DIZExceptionModel>());

    EXPECT_EQ(DIZJsonKeys(*log), (std::vector<std::string>{"type",
                                                           "timestamp",
                                                           "sid",
                                                           "distributionGroupId",
                                                           "userId",
                                                           "device",
                                                           "properties",
                                                           "id",
                                                           "processId",
                                                           "processName",
                                                           "parentProcessId",
                                                           "parentProcessName",
                                                           "errorThreadId",
                                                           "errorThreadName",
                                                           "fatal",
                                                           "appLaunchTimestamp",
                                                           "architecture",
                                                           "primaryArchitectureId",
                                                           "architectureVariantId",
                                                           "applicationPath",
                                                           "osExceptionType",
                                                           "osExceptionCode",
                                                           "osExceptionAddress",
                                                           "exceptionType",
                                                           "exceptionReason",
                                                           "selectorRegisterValue",
                                                           "threads",
                                                           "binaries",
                                                           "registers",
                                                           "exception"}));
    Value written = DIZJson(*log);
    EXPECT_EQ(written["id"], Value("6A1E9C7B-7F3D-4C1A-9E0B-1D2C3B4A5F60"));
    EXPECT_EQ(written["fatal"], Value(true));
    EXPECT_EQ(written["appLaunchTimestamp"], Value("2023-11-14T22:13:20.000Z"));
    EXPECT_EQ(written["processId"], Value(4242));
    EXPECT_EQ(written["threads"], Value(Value::Array{Dictionary{{"frames", Value::Array{}}}}));
    EXPECT_EQ(written["registers"], Value(Dictionary{{"rip", Value("0x1000")}, {"rsp", Value("0x7ff0")}}));
}

TEST(DIZErrorLogTest, ValidityNamesTheFirstMissingField) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    EXPECT_TRUE(validAppleLog()->isValid());
    EXPECT_TRUE(capture.texts().empty());

    struct Case {
        void (*clear)(DIZAppleErrorLog&);
        const char* line;
    } cases[] = {
        {[](DIZAppleErrorLog& l) { l.setDevice(nullptr); }, "DIZAppleErrorLog: \"device\" is not valid."},
        {[](DIZAppleErrorLog& l) { l.setErrorId(std::nullopt); },
         "DIZAppleErrorLog: \"errorId\" is not valid."},
        {[](DIZAppleErrorLog& l) { l.setProcessName(std::nullopt); },
         "DIZAppleErrorLog: \"processName\" is not valid."},
        {[](DIZAppleErrorLog& l) { l.setPrimaryArchitectureId(std::nullopt); },
         "DIZAppleErrorLog: \"primaryArchitectureId\" is not valid."},
        {[](DIZAppleErrorLog& l) { l.setOsExceptionCode(std::nullopt); },
         "DIZAppleErrorLog: \"osExceptionCode\" is not valid."},
        {[](DIZAppleErrorLog& l) {
             l.setOsExceptionCode(std::nullopt);
             l.setOsExceptionAddress(std::nullopt);
         },
         "DIZAppleErrorLog: \"osExceptionCode\" is not valid."},
        {[](DIZAppleErrorLog& l) { l.setOsExceptionAddress(std::nullopt); },
         "DIZAppleErrorLog: \"osExceptionAddress\" is not valid."},
    };
    for (const auto& c : cases) {
        auto log = validAppleLog();
        c.clear(*log);
        EXPECT_FALSE(log->isValid()) << c.line;
        const auto entry = capture.entries().back();
        EXPECT_EQ(entry.text, c.line);
        EXPECT_EQ(entry.level, DIZLogLevel::Verbose);
        EXPECT_EQ(entry.tag, "DudIzizoz");
    }

    auto threadless = validAppleLog();
    threadless->setThreads(std::vector{std::make_shared<DIZThread>()});
    EXPECT_TRUE(threadless->isValid()) << "threads are not inspected";

    auto handled = std::make_shared<DIZHandledErrorLog>();
    handled->setTimestamp(kDIZTestWhen);
    handled->setDevice(DIZValidDevice());
    handled->setErrorId("E1");
    EXPECT_FALSE(handled->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZHandledErrorLog: \"exception\" is not valid.");
    auto frameless = std::make_shared<DIZExceptionModel>();
    frameless->setType("NSError");
    handled->setException(frameless);
    EXPECT_TRUE(handled->isValid()) << "the exception's own frames are not inspected";
    EXPECT_EQ(json::write(DIZJson(*handled)),
              R"({"type":"handledError","timestamp":"2023-11-14T22:13:20.123Z","device":)" +
                  json::write(DIZJson(*DIZValidDevice())) + R"(,"id":"E1","exception":{"type":"NSError"}})");
}

TEST(DIZErrorLogTest, EqualityComparesEveryLevelsFields) {
    auto a = validAppleLog(), b = validAppleLog();
    a->setRegisters(Dictionary{{"rip", Value("0x1")}, {"rsp", Value("0x2")}});
    b->setRegisters(Dictionary{{"rsp", Value("0x2")}, {"rip", Value("0x1")}});
    EXPECT_TRUE(a->isEqual(*b)) << "maps compare entry by entry, both exceptions absent";
    b->setRegisters(Dictionary{{"rip", Value("0x1")}, {"rsp", Value("0x3")}});
    EXPECT_FALSE(a->isEqual(*b)) << "one register value differs";

    b = validAppleLog();
    b->setRegisters(a->registers());
    b->setFatal(true);
    EXPECT_FALSE(a->isEqual(*b)) << "the abstract error log's fields";
    b->setFatal(false);
    b->setProperties(DIZProperties{{"k", "v"}});
    EXPECT_FALSE(a->isEqual(*b)) << "the base log's properties";
    b->setProperties(std::nullopt);
    b->setException(std::make_shared<DIZExceptionModel>());
    EXPECT_FALSE(a->isEqual(*b));

    DIZHandledErrorLog h1, h2;
    h1.setErrorId("E1");
    h2.setErrorId("E1");
    EXPECT_TRUE(h1.isEqual(h2));
    EXPECT_FALSE(h1.isEqual(*a)) << "another kind of log";
    EXPECT_FALSE(a->isEqual(h1));
}

}  // namespace
