#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"
#include "DudIzizozCrashes/Internals/Model/DIZHandledErrorLog.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesArchiverUtil.h"
#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"
#include "DudIzizozCrashes/Model/DIZWrapperExceptionModel.h"
#include "DudIzizozCrashes/Model/tests/DIZCrashesTesting.h"

namespace {

CodablePtr roundTrip(const CodablePtr& object) {
    auto back = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(object));
    return back ? back->object() : nullptr;
}

// Decoded as the same class, and equal both ways.
template <class T>
::testing::AssertionResult comesBackEqual(const std::shared_ptr<T>& original) {
    auto back = std::dynamic_pointer_cast<T>(roundTrip(original));
    if (!back) return ::testing::AssertionFailure() << original->archiveClassName() << " did not decode";
    if (typeid(*back) != typeid(*original))
        return ::testing::AssertionFailure() << original->archiveClassName() << " decoded as another class";
    if (!original->isEqual(*back) || !back->isEqual(*original))
        return ::testing::AssertionFailure() << original->archiveClassName() << " decoded unequal";
    return ::testing::AssertionSuccess();
}

std::shared_ptr<DIZStackFrame> fullFrame() {
    auto frame = std::make_shared<DIZStackFrame>();
    frame->setAddress("0x000000010a3c1e2d");
    frame->setCode("-[DIZSpaces cycleWindows:]");
    frame->setClassName("DIZSpaces");
    frame->setMethodName("cycleWindows:");
    frame->setLineNumber(120);
    frame->setFileName("DIZSpaces.m");
    return frame;
}

std::shared_ptr<DIZWrapperExceptionModel> fullWrapperException() {
    auto inner = std::make_shared<DIZWrapperExceptionModel>();
    inner->setType("System.IO.IOException");
    auto wrapper = std::make_shared<DIZWrapperExceptionModel>();
    wrapper->setType("System.InvalidOperationException");
    wrapper->setMessage("bad state");
    wrapper->setStackTrace("at Main()");
    wrapper->setFrames(std::vector{fullFrame()});
    wrapper->setWrapperSdkName("dudizizoz.wrapper");
    wrapper->setInnerExceptions(std::vector{inner});
    return wrapper;
}

std::shared_ptr<DIZThread> fullThread() {
    auto thread = std::make_shared<DIZThread>();
    thread->setThreadId(3);
    thread->setName("com.quorvane.worker");
    thread->setFrames(std::vector{fullFrame(), std::make_shared<DIZStackFrame>()});
    thread->setException(fullWrapperException());
    return thread;
}

std::shared_ptr<DIZBinary> fullBinary() {
    auto binary = std::make_shared<DIZBinary>();
    binary->setBinaryId("0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C");
    binary->setStartAddress("0x100000000");
    binary->setEndAddress("0x100004000");
    binary->setName("quorvane");
    binary->setPath("/Applications/quorvane.app/Contents/MacOS/quorvane");
    binary->setArchitecture("x86_64");
    binary->setPrimaryArchitectureId(16777223);
    binary->setArchitectureVariantId(3);
    return binary;
}

template <class Log>
void fillErrorLog(Log& log) {
    log.setTimestamp(kDIZTestWhen);
    log.setDevice(DIZValidDevice());
    log.setSid("session");
    log.setUserId("alice");
    log.setProperties(DIZProperties{{"k", "v"}});
    log.setErrorId("6A1E9C7B-7F3D-4C1A-9E0B-1D2C3B4A5F60");
    log.setProcessId(4242);
    log.setProcessName("quorvane");
    log.setParentProcessId(1);
    log.setParentProcessName("launchd");
    log.setErrorThreadId(0);
    log.setErrorThreadName("main");
    log.setFatal(true);
    log.setAppLaunchTimestamp(Date::fromUnixMillis(1700000000000));
    log.setArchitecture("x86_64");
}

std::shared_ptr<DIZAppleErrorLog> fullAppleLog() {
    auto log = std::make_shared<DIZAppleErrorLog>();
    fillErrorLog(*log);
    log->setPrimaryArchitectureId(16777223);
    log->setArchitectureVariantId(3);
    log->setApplicationPath("/Applications/quorvane.app/Contents/MacOS/quorvane");
    log->setOsExceptionType("SIGSEGV");
    log->setOsExceptionCode("SEGV_MAPERR");
    log->setOsExceptionAddress("0x0");
    log->setExceptionType("NSRangeException");
    log->setExceptionReason("index 3 beyond bounds");
    log->setSelectorRegisterValue("objectAtIndex:");
    log->setThreads(std::vector{fullThread(), std::make_shared<DIZThread>()});
    log->setBinaries(std::vector{fullBinary()});
    log->setRegisters(Dictionary{{"rip", Value("0x1000")}, {"rsp", Value("0x7ff0")}});
    log->setException(fullWrapperException());
    return log;
}

class DIZCrashesArchiverUtilTest : public ::testing::Test {
  protected:
    void SetUp() override { DIZCrashesArchiverUtil::addAllowedCrashesModuleClasses(); }
    DIZLogCapture capture_;
};

TEST_F(DIZCrashesArchiverUtilTest, EveryModelRoundTripsEqual) {
    EXPECT_TRUE(comesBackEqual(fullFrame()));
    EXPECT_TRUE(comesBackEqual(std::make_shared<DIZStackFrame>()));
    EXPECT_TRUE(comesBackEqual(fullWrapperException()));
    auto plain = std::make_shared<DIZExceptionModel>();
    plain->setType("NSGenericException");
    plain->setFrames(std::vector{fullFrame()});
    EXPECT_TRUE(comesBackEqual(plain));
    EXPECT_TRUE(comesBackEqual(fullThread()));
    EXPECT_TRUE(comesBackEqual(fullBinary()));
    EXPECT_TRUE(comesBackEqual(fullAppleLog()));
    EXPECT_TRUE(comesBackEqual(std::make_shared<DIZAppleErrorLog>()));

    auto abstract = std::make_shared<DIZAbstractErrorLog>();
    fillErrorLog(*abstract);
    EXPECT_TRUE(comesBackEqual(abstract));

    auto handled = std::make_shared<DIZHandledErrorLog>();
    handled->setTimestamp(kDIZTestWhen);
    handled->setErrorId("E1");
    handled->setException(plain);
    EXPECT_TRUE(comesBackEqual(handled));

    auto attachment =
        DIZErrorAttachmentLog::attachmentWithBinary({0x00, 0xff}, "blob.bin", "application/octet-stream");
    attachment->setErrorId("E1");
    attachment->setTimestamp(kDIZTestWhen);
    EXPECT_TRUE(comesBackEqual(attachment));
    auto empty = DIZErrorAttachmentLog::attachmentWithText("", std::nullopt);
    EXPECT_TRUE(comesBackEqual(empty));
    auto emptyBack = std::dynamic_pointer_cast<DIZErrorAttachmentLog>(roundTrip(empty));
    ASSERT_TRUE(emptyBack);
    EXPECT_EQ(emptyBack->data(), Data{}) << "empty bytes stay present";

    EXPECT_TRUE(capture_.texts().empty()) << capture_.texts().front();
}

TEST_F(DIZCrashesArchiverUtilTest, ListsComeBackAsStored) {
    auto frameless = std::make_shared<DIZThread>();
    frameless->setFrames(std::nullopt);
    auto back = std::dynamic_pointer_cast<DIZThread>(roundTrip(frameless));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->frames(), std::nullopt) << "not a fresh thread's empty list";

    auto log = std::make_shared<DIZAppleErrorLog>();
    log->setThreads(std::vector<std::shared_ptr<DIZThread>>{});
    auto logBack = std::dynamic_pointer_cast<DIZAppleErrorLog>(roundTrip(log));
    ASSERT_TRUE(logBack && logBack->threads());
    EXPECT_TRUE(logBack->threads()->empty());
    EXPECT_EQ(logBack->binaries(), std::nullopt);
    EXPECT_EQ(logBack->type(), "appleError");
}

// An exception model whose class the allow-list does not name.
struct DIZUnlistedException : DIZExceptionModel {
    std::string archiveClassName() const override { return "DIZUnlistedException"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZUnlistedException", "DIZExceptionModel", "NSObject"};
    }
};

TEST_F(DIZCrashesArchiverUtilTest, AClassOffTheListDecodesToNothing) {
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Error);
    auto unlisted = std::make_shared<DIZUnlistedException>();
    EXPECT_FALSE(DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(unlisted)));
    auto log = fullAppleLog();
    log->setException(unlisted);
    EXPECT_FALSE(DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(log))) << "nor what holds one";
    const auto texts = capture_.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts.back().find("Unarchiving NSData failed with error: "), std::string::npos);
    EXPECT_NE(texts.back().find("'DIZUnlistedException'"), std::string::npos) << texts.back();
}

TEST_F(DIZCrashesArchiverUtilTest, AddingTheClassesAgainDecodesTheSame) {
    DIZCrashesArchiverUtil::addAllowedCrashesModuleClasses();
    EXPECT_TRUE(comesBackEqual(fullAppleLog()));
}

}  // namespace
