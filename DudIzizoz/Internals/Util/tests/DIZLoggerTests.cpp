#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZWrapperLogger.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/DispatchQueue.h"

struct DIZFakeFacade {
    static uint32_t assertSomething() {
        uint32_t line = __LINE__ + 1;
        DIZLogAssert(kDIZLogTag, "Something is wrong with %@.", "the secret");
        return line;
    }
};

namespace {

// Restores the logger's process-wide state after tests that use the default handler.
class DIZLoggerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        DIZLogCapture::drain();
        DIZLogger::setLogHandler(DIZLogger::defaultLogHandler());
        DIZLogger::setCurrentLogLevel(DIZLogLevel::Assert);
        DIZLogger::setIsUserDefinedLogLevel(false);
    }

    // What the default handler printed while `body` ran.
    template <class F>
    static std::string printed(F body) {
        testing::internal::CaptureStderr();
        body();
        DIZLogCapture::drain();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(DIZLoggerTest, DefaultLevelPrintsAssertionsOnlyInTheirExactShape) {
    EXPECT_EQ(DIZLogger::currentLogLevel(), DIZLogLevel::Assert);
    EXPECT_FALSE(DIZLogger::isUserDefinedLogLevel());

    EXPECT_EQ(printed([] { DIZLogError(kDIZLogTag, "an error"); }), "");

    uint32_t line = 0;
    std::string out = printed([&] { line = DIZFakeFacade::assertSomething(); });
    EXPECT_EQ(out, "[DudIzizoz] ASSERT: DIZFakeFacade::assertSomething/" + std::to_string(line) +
                       " Something is wrong with the secret.\n");
}

TEST_F(DIZLoggerTest, CurrentLevelFiltersWhatTheDefaultHandlerPrints) {
    const DIZLogLevel all[] = {DIZLogLevel::Verbose, DIZLogLevel::Debug, DIZLogLevel::Info,
                               DIZLogLevel::Warning, DIZLogLevel::Error, DIZLogLevel::Assert};
    const char* names[] = {"VERBOSE", "DEBUG", "INFO", "WARNING", "ERROR", "ASSERT"};
    struct Case {
        DIZLogLevel current;
        size_t firstPrinted;  // index into `all`; 6 = none
    } cases[] = {{DIZLogLevel::Verbose, 0}, {DIZLogLevel::Warning, 3}, {DIZLogLevel::None, 6}};
    for (const auto& c : cases) {
        DIZLogger::setCurrentLogLevel(c.current);
        std::string out = printed([&] {
            for (auto level : all) DIZLogger::log(level, "T", __FILE__, "f", 1, "m");
        });
        std::string expected;
        for (size_t i = c.firstPrinted; i < 6; ++i) expected += std::string("[T] ") + names[i] + ": f/1 m\n";
        EXPECT_EQ(out, expected) << "current level " << static_cast<int>(c.current);
    }

    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    EXPECT_EQ(printed([] { DIZLogger::log(DIZLogLevel::None, "T", __FILE__, "f", 1, "never"); }), "");
    EXPECT_EQ(printed([] { DIZLogger::log(static_cast<DIZLogLevel>(50), "T", __FILE__, "f", 1, "odd"); }),
              "[T] : f/1 odd\n");
}

TEST_F(DIZLoggerTest, CustomHandlerReceivesEveryMessageInOrder) {
    DIZLogCapture capture;
    EXPECT_TRUE(DIZLogger::isUserDefinedLogLevel());
    for (int i = 0; i < 50; ++i) DIZLogVerbose("Tag", "message %d", i);
    DIZWrapperLogger::DIZWrapperLog([] { return "from a wrapper"; }, "Wrapper", DIZLogLevel::Debug);

    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 51u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(entries[i].text, "message " + std::to_string(i));
        EXPECT_EQ(entries[i].level, DIZLogLevel::Verbose);
        EXPECT_EQ(entries[i].tag, "Tag");
    }
    EXPECT_EQ(entries[50].text, "from a wrapper");
    EXPECT_EQ(entries[50].tag, "Wrapper");
}

TEST_F(DIZLoggerTest, WithoutHandlerNothingIsQueued) {
    DIZLogger::setLogHandler(nullptr);
    EXPECT_TRUE(DIZLogger::isUserDefinedLogLevel());

    // Hold the logger queue so that anything queued would still be holding the provider.
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    DIZLogger::loggerQueue()->async([gate] {
        std::unique_lock lock(gate->m);
        gate->cv.wait(lock, [&] { return gate->open; });
    });
    auto token = std::make_shared<int>(0);
    DIZLogger::logMessage([token] { return std::string("x"); }, DIZLogLevel::Assert, "T", __FILE__, "f", 1);
    EXPECT_EQ(token.use_count(), 1);
    {
        std::lock_guard lock(gate->m);
        gate->open = true;
    }
    gate->cv.notify_all();
}

TEST_F(DIZLoggerTest, ManyThreadsLogWhileLevelAndHandlerChange) {
    std::atomic<int> received{0};
    auto counting = [&](const DIZLogMessageProvider& provider, DIZLogLevel, const std::string&, const char*,
                        const char*, uint32_t) {
        if (provider().starts_with("n ")) ++received;
    };
    DIZLogger::setLogHandler(counting);
    constexpr int kThreads = 8, kMessages = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &counting] {
            for (int i = 0; i < kMessages; ++i) {
                DIZLogDebug("T", "n %d %d", t, i);
                if (i % 50 == 0) {
                    DIZLogger::setCurrentLogLevel(static_cast<DIZLogLevel>(2 + (i + t) % 6));
                    DIZLogger::setLogHandler(counting);
                    (void)DIZLogger::logHandler();
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    DIZLogCapture::drain();
    EXPECT_EQ(received.load(), kThreads * kMessages);
}

TEST(DIZLogFormatTest, PlaceholdersTakeTheArgumentsInOrder) {
    struct Case {
        const char* format;
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {"Migrating key %@ -> %@", {"a", "b"}, "Migrating key a -> b"},
        {"%tu session(s) in the history.", {"3"}, "3 session(s) in the history."},
        {"limited to %d characters, %ld%% done", {"256", "50"}, "limited to 256 characters, 50% done"},
        {"missing %@ and %@", {"one"}, "missing one and (null)"},
        {"trailing %", {}, "trailing %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(diz_log::format(c.format, c.args.data(), c.args.size()), c.expected);

    EXPECT_EQ(diz_log::argument(std::optional<std::string>()), "(null)");
    EXPECT_EQ(diz_log::argument(static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(diz_log::argument(DIZLogLevel::Error), "6");
}

}  // namespace
