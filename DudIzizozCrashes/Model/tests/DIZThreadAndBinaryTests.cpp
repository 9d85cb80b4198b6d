#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Model/DIZBinary.h"
#include "DudIzizozCrashes/Model/DIZThread.h"
#include "DudIzizozCrashes/Model/tests/DIZCrashesTesting.h"
#include "platform/foundation/JSON.h"

namespace {

TEST(DIZThreadTest, ValidityNamesTheFirstMissingField) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    DIZThread thread;
    EXPECT_FALSE(thread.isValid());
    EXPECT_EQ(capture.texts().back(), "DIZThread: \"threadId\" is not valid.");

    thread.setThreadId(0);
    EXPECT_EQ(json::write(DIZJson(thread)), R"({"id":0,"frames":[]})") << "a new thread has an empty list";
    EXPECT_FALSE(thread.isValid());
    EXPECT_EQ(capture.texts().back(), "DIZThread: \"frames\" is not valid.");

    thread.setFrames(std::vector{std::make_shared<DIZStackFrame>()});
    EXPECT_TRUE(thread.isValid());
    thread.setName("main");
    auto exception = std::make_shared<DIZExceptionModel>();
    exception->setType("NSGenericException");
    thread.setException(exception);
    EXPECT_EQ(DIZJsonKeys(thread), (std::vector<std::string>{"id", "name", "frames", "exception"}));
    EXPECT_EQ(json::parse(thread.description()), DIZJson(thread));
    thread.setFrames(std::nullopt);
    EXPECT_FALSE(DIZJson(thread).asDictionary()->contains("frames"));
}

TEST(DIZThreadTest, EqualityComparesFramesInOrderAndTheException) {
    auto first = std::make_shared<DIZStackFrame>(), second = std::make_shared<DIZStackFrame>();
    first->setAddress("0x1");
    second->setAddress("0x2");
    DIZThread a, b;
    a.setFrames(std::vector{first, second});
    b.setFrames(
        std::vector{std::make_shared<DIZStackFrame>(*first), std::make_shared<DIZStackFrame>(*second)});
    EXPECT_TRUE(a.isEqual(b));
    b.setFrames(std::vector{second, first});
    EXPECT_FALSE(a.isEqual(b));
    b.setFrames(a.frames());
    b.setException(std::make_shared<DIZExceptionModel>());
    EXPECT_FALSE(a.isEqual(b)) << "an absent exception and a present one";
}

TEST(DIZBinaryTest, ValidityOrderJsonAndEquality) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    DIZBinary binary;
    binary.setBinaryId("0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C");
    binary.setStartAddress("0x100000000");
    binary.setEndAddress("0x100004000");
    binary.setName("quorvane");
    EXPECT_FALSE(binary.isValid());
    EXPECT_EQ(capture.texts().back(), "DIZBinary: \"path\" is not valid.");
    binary.setStartAddress(std::nullopt);
    EXPECT_FALSE(binary.isValid());
    EXPECT_EQ(capture.texts().back(), "DIZBinary: \"startAddress\" is not valid.");
    binary.setStartAddress("0x100000000");
    binary.setPath("/Applications/quorvane.app/Contents/MacOS/quorvane");
    EXPECT_TRUE(binary.isValid());

    binary.setArchitecture("x86_64");
    binary.setPrimaryArchitectureId(16777223);
    binary.setArchitectureVariantId(3);
    EXPECT_EQ(DIZJsonKeys(binary),
              (std::vector<std::string>{"id", "startAddress", "endAddress", "name", "path", "architecture",
                                        "primaryArchitectureId", "architectureVariantId"}));
    EXPECT_EQ(DIZJson(binary)["primaryArchitectureId"], Value(16777223));
    EXPECT_EQ(json::parse(binary.description()), DIZJson(binary));

    DIZBinary other = binary;
    EXPECT_TRUE(other.isEqual(binary));
    other.setArchitectureVariantId(std::nullopt);
    EXPECT_FALSE(other.isEqual(binary));
}

}  // namespace
