#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Model/DIZWrapperExceptionModel.h"
#include "DudIzizozCrashes/Model/tests/DIZCrashesTesting.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/JSON.h"

namespace {

using Symbols = DIZExceptionModel::Symbols;

struct ExpectedFrame {
    const char* fileName;
    const char* address;
    const char* className;
    const char* methodName;
};

TEST(DIZExceptionModelTest, LoadStackTraceKeepsLinesOfSixPiecesOrMore) {
    struct Case {
        const char* line;
        std::optional<ExpectedFrame> frame;
    } cases[] = {
        {"3   quorvane                            0x000000010a3c1e2d -[DIZSpaces cycleWindows:] + 45",
         ExpectedFrame{"quorvane", "0x000000010a3c1e2d", "DIZSpaces", "cycleWindows:"}},
        {"4   quorvane                            0x000000010a3c0f00 main + 12", std::nullopt},
        {"5 ,,quorvane  0x1 -[[Klass  run]]  ++ 7", ExpectedFrame{"quorvane", "0x1", "Klass", "run"}},
        // A separator inside a name cuts it too and shifts what follows.
        {"6 quorvane 0x2 -[My.Klass run] + 1", ExpectedFrame{"quorvane", "0x2", "My", "Klass"}},
        {"", std::nullopt},
        {" -[]+?.,", std::nullopt},
    };
    for (const auto& c : cases) {
        auto frames = DIZExceptionModel::loadStackTrace({c.line});
        ASSERT_EQ(frames.size(), c.frame ? 1u : 0u) << c.line;
        if (!c.frame) continue;
        const DIZStackFrame& frame = *frames.front();
        EXPECT_EQ(frame.fileName(), c.frame->fileName) << c.line;
        EXPECT_EQ(frame.address(), c.frame->address) << c.line;
        EXPECT_EQ(frame.className(), c.frame->className) << c.line;
        EXPECT_EQ(frame.methodName(), c.frame->methodName) << c.line;
        EXPECT_EQ(frame.code(), std::nullopt);
        EXPECT_EQ(frame.lineNumber(), std::nullopt);
    }
    EXPECT_TRUE(DIZExceptionModel::loadStackTrace({}).empty());

    std::vector<std::string> all;
    for (const auto& c : cases) all.push_back(c.line);
    auto frames = DIZExceptionModel::loadStackTrace(all);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0]->address(), "0x000000010a3c1e2d");
    EXPECT_EQ(frames[1]->address(), "0x1");
    EXPECT_EQ(frames[2]->address(), "0x2") << "in list order";
}

// An exception that answers everything the model asks of one.
struct RaisedException {
    std::string name() const { return "NSRangeException"; }
    std::string reason() const { return "index 3 beyond bounds"; }
    Symbols callStackSymbols() const {
        return {"0   quorvane   0x0000000000001000 -[Spaces at:] + 4",
                "1   quorvane   0x0000000000002000 main + 8"};
    }
};

// Whether `frames` came from this thread's stack: every thread of the process starts in the C
// library, whose line ("libc.so.6" cut at its dots) gives a frame with file name "libc".
bool fromThisThread(const DIZList<DIZStackFrame>& frames) {
    if (!frames) return false;
    return std::any_of(frames->begin(), frames->end(), [](const auto& f) { return f->fileName() == "libc"; });
}

TEST(DIZExceptionModelTest, InitWithExceptionTakesWhatTheObjectAnswers) {
    DIZExceptionModel plain;
    plain.initWithException(Exception("NSInvalidArgumentException", "nil key"));
    EXPECT_EQ(plain.type(), "NSInvalidArgumentException");
    EXPECT_EQ(plain.message(), "nil key");
    EXPECT_EQ(plain.stackTrace(), std::nullopt) << "the object has no call-stack symbols";
    EXPECT_TRUE(fromThisThread(plain.frames()));

    DIZExceptionModel raised;
    raised.initWithException(RaisedException());
    EXPECT_EQ(raised.type(), "NSRangeException");
    EXPECT_EQ(raised.message(), "index 3 beyond bounds");
    ASSERT_TRUE(raised.stackTrace());
    EXPECT_EQ(json::parse(*raised.stackTrace()),
              Value(Value::Array{RaisedException().callStackSymbols()[0],
                                 RaisedException().callStackSymbols()[1]}));
    ASSERT_TRUE(raised.frames());
    ASSERT_EQ(raised.frames()->size(), 1u);
    EXPECT_EQ(raised.frames()->front()->methodName(), "at:");

    DIZExceptionModel nameless;
    nameless.initWithException(std::runtime_error("what"));
    EXPECT_EQ(nameless.type(), std::nullopt);
    EXPECT_EQ(nameless.message(), std::nullopt);
}

TEST(DIZExceptionModelTest, InitWithErrorAndWithType) {
    DIZExceptionModel empty;
    empty.initWithError(Error("com.quorvane.errors", 7, "failed", Value(Dictionary{})));
    EXPECT_EQ(empty.type(), "com.quorvane.errors");
    EXPECT_EQ(empty.message(), std::nullopt) << "an empty user info";
    ASSERT_TRUE(empty.stackTrace());
    EXPECT_TRUE(json::parse(*empty.stackTrace())->asArray()) << "the stack as text";
    EXPECT_TRUE(fromThisThread(empty.frames()));

    DIZExceptionModel filled;
    filled.initWithError(Error("", 7, "failed", Value(Dictionary{{"reason", Value("disk full")}})));
    EXPECT_EQ(filled.type(), std::nullopt) << "no domain";
    ASSERT_TRUE(filled.message());
    EXPECT_EQ(json::parse(*filled.message()), Value(Dictionary{{"reason", Value("disk full")}}));

    DIZExceptionModel given;
    given.initWithType("Wrapper.Error", "boom", RaisedException().callStackSymbols());
    EXPECT_EQ(given.type(), "Wrapper.Error");
    EXPECT_EQ(given.message(), "boom");
    EXPECT_EQ(given.frames()->size(), 1u);
    DIZExceptionModel current;
    current.initWithType("t", std::nullopt, std::nullopt);
    EXPECT_TRUE(current.stackTrace());
    EXPECT_TRUE(fromThisThread(current.frames()));
}

TEST(DIZExceptionModelTest, JsonValidityAndEquality) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    auto model = std::make_shared<DIZWrapperExceptionModel>();
    EXPECT_EQ(json::write(DIZJson(*model)), "{}");
    EXPECT_FALSE(model->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZWrapperExceptionModel: \"type\" is not valid.");
    model->setType("System.Exception");
    model->setFrames(std::vector<std::shared_ptr<DIZStackFrame>>{});
    EXPECT_FALSE(model->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZWrapperExceptionModel: \"frames\" is not valid.");

    auto frame = std::make_shared<DIZStackFrame>();
    frame->setAddress("0x10");
    frame->setLineNumber(12);
    model->setFrames(std::vector{frame});
    EXPECT_TRUE(model->isValid());
    model->setMessage("m");
    model->setStackTrace("s");
    model->setWrapperSdkName("wrapper.net");
    model->setInnerExceptions(std::vector{std::make_shared<DIZWrapperExceptionModel>()});
    EXPECT_EQ(DIZJsonKeys(*model), (std::vector<std::string>{"type", "message", "stackTrace", "frames",
                                                             "wrapperSdkName", "innerExceptions"}));
    EXPECT_EQ(DIZJson(*model)["frames"],
              Value(Value::Array{Dictionary{{"address", "0x10"}, {"lineNumber", 12}}}));
    EXPECT_EQ(DIZJson(*model)["innerExceptions"], Value(Value::Array{Dictionary{}}));

    DIZExceptionModel base;
    base.setType("System.Exception");
    base.setMessage("m");
    base.setStackTrace("s");
    base.setFrames(std::vector{std::make_shared<DIZStackFrame>(*frame)});
    EXPECT_TRUE(base.isEqual(*model)) << "a subclass instance, compared on the base's fields";
    EXPECT_FALSE(model->isEqual(base)) << "a wrapper model compares only with wrapper models";
    auto twin = std::make_shared<DIZWrapperExceptionModel>(*model);
    EXPECT_TRUE(twin->isEqual(*model));
    twin->setInnerExceptions(std::nullopt);
    EXPECT_FALSE(twin->isEqual(*model));
    base.frames()->front()->setLineNumber(13);
    EXPECT_FALSE(base.isEqual(*model)) << "frames compare field by field";
}

}  // namespace
