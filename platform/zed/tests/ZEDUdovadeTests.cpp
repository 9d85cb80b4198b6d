#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/Reachability_simulated.h"
#include "platform/network/testing/CompletionRecorder.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zed/ZEDUdovade.h"
#include "testing/Eventually.h"

namespace {

constexpr const char* kCallerQueue = "ZEDUdovadeTests.caller";

// Records the client's completions, which hand over the response first.
class Completions : public CompletionRecorder {
  public:
    ZEDUdovade::CompletionHandler handler() {
        return
            [record = CompletionRecorder::handler()](std::shared_ptr<const HTTPURLResponse> response,
                                                     std::optional<Data> data, std::optional<Error> error) {
                record(std::move(data), std::move(response), std::move(error));
            };
    }
    size_t count() { return calls(); }
};
using Outcome = HTTPOutcome;

struct LoggedLine {
    ZEDUdovadeLoggerLevel level;
    int64_t code;
    std::string message;
    size_t contexts;
};

class RecordingLogger : public ZEDUdovadeLoggerDelegate {
  public:
    void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t code,
                                 const std::string& message) override {
        add({level, code, message, 0});
    }
    void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t code, const std::string& message,
                                 const Value&) override {
        add({level, code, message, 1});
    }
    void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t code, const std::string& message,
                                 const Value::Array& contexts) override {
        add({level, code, message, contexts.size()});
    }
    std::vector<int64_t> codes() {
        std::lock_guard lock(mutex_);
        std::vector<int64_t> codes;
        for (const auto& line : lines_) codes.push_back(line.code);
        return codes;
    }
    std::vector<LoggedLine> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    void add(LoggedLine line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::mutex mutex_;
    std::vector<LoggedLine> lines_;
};

class CountingReachabilityDelegate : public ZEDUdovadeReachabilityDelegate {
  public:
    void reachabilityDidChange() override { ++calls; }
    int calls = 0;  // main queue only
};

Data bytes(std::string_view text) {
    return Data(text.begin(), text.end());
}

class ZEDUdovadeTest : public ::testing::Test {
  protected:
    // The caller's queue runs `body`, so a completion that came synchronously would be seen inside.
    template <class F>
    auto onCaller(F&& body) {
        decltype(body()) result{};
        queue->sync([&] { result = body(); });
        return result;
    }

    SimulatedNetwork::Scoped network;
    LocalHttpServer server;
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial(kCallerQueue);
    std::shared_ptr<ZEDUdovade> client = ZEDUdovade::initWithReachabilityHost("127.0.0.1");
    Completions completions;
};

TEST_F(ZEDUdovadeTest, PostTravelsGzippedAndIsAnsweredOnTheCallersQueueWhileBusyUntilThen) {
    server.script("/a", {{204, {}, "", "text/plain"}});
    server.hold("/a");
    const Data payload{0x0a, 0x00, 0x12, 0xff, 0x08, 0x01};
    // The caller is still told it is busy while it handles the answer: a check made from its queue
    // in between would otherwise find a pending request on an idle client.
    std::atomic<bool> busyWhenTold{false};
    auto handler = [&, record = completions.handler()](std::shared_ptr<const HTTPURLResponse> response,
                                                       std::optional<Data> data, std::optional<Error> error) {
        busyWhenTold = client->hasUploadInProgress();
        record(std::move(response), std::move(data), std::move(error));
    };
    const std::string sessionID = onCaller(
        [&] { return client->postURL(server.url("/a"), std::nullopt, payload, queue, false, handler); });
    EXPECT_FALSE(sessionID.empty());

    const auto request = server.waitForRequest(1);
    ASSERT_TRUE(request);
    EXPECT_TRUE(client->hasUploadInProgress());
    EXPECT_EQ(completions.count(), 0u);
    server.release();

    const Outcome outcome = completions.wait();
    queue->sync([] {});
    EXPECT_TRUE(busyWhenTold);
    EXPECT_FALSE(client->hasUploadInProgress());
    EXPECT_EQ(outcome.queueLabel, kCallerQueue);
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode, kZEDUdovadeHTTPStatusNoContent);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->header("Content-Encoding"), "gzip");
    EXPECT_EQ(request->body, std::string(payload.begin(), payload.end()));  // as the server inflated it
}

TEST_F(ZEDUdovadeTest, GetSendsItsHeadersAndHandsBackStatusHeadersAndBody) {
    server.scriptPrefix("/config/", {{200, {{"ETag", "e1"}}, "config", "application/x-protobuf"}});
    server.script("/config/missing", {{404, {}, "", "text/plain"}});
    struct Case {
        const char* path;
        long status;
        const char* etag;
        const char* body;
    };
    const Case cases[] = {
        {"/config/app/1:2?b=2&a=1&a=%20x", 200, "e1", "config"},
        {"/config/missing", 404, "", ""},
    };
    size_t sent = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Completions done;
        const std::string sessionID = onCaller([&] {
            return client->getURL(server.url(c.path), HTTPHeaders{{"If-None-Match", "e0"}}, queue, false,
                                  done.handler());
        });
        EXPECT_FALSE(sessionID.empty());
        const Outcome outcome = done.wait();
        ASSERT_TRUE(outcome.response);
        // A refusing status is an answer, not a failure of the request.
        EXPECT_FALSE(outcome.error);
        EXPECT_EQ(outcome.response->statusCode, c.status);
        EXPECT_EQ(outcome.response->valueForHTTPHeaderField("ETag").value_or(""), c.etag);
        EXPECT_EQ(outcome.response->expectedContentLength, static_cast<int64_t>(std::string(c.body).size()));
        EXPECT_EQ(std::string(outcome.body->begin(), outcome.body->end()), c.body);
        const auto request = server.waitForRequest(++sent);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->method, "GET");
        EXPECT_EQ(request->header("If-None-Match"), "e0");
    }
    const auto first = server.waitForRequest(1);
    ASSERT_TRUE(first);
    const std::vector<std::pair<std::string, std::string>> query{{"b", "2"}, {"a", "1"}, {"a", " x"}};
    EXPECT_EQ(first->query, query);
}

// Whatever goes wrong, the caller hears of it exactly once, later, on its queue, with status 0.
TEST_F(ZEDUdovadeTest, RequestsThatFailOrNeverStartCompleteOnceWithStatusZeroAndAnError) {
    ScopedManualClock clock;
    ClosedLocalPort closed;
    server.script("/slow", {{204, {}, "", "text/plain", 60}});
    client->setTimeoutInterval(1);
    struct Case {
        const char* name;
        std::string url;
        bool starts;
        int64_t code;
    };
    const Case cases[] = {
        {"closed port", closed.url("/a"), true, URLError::CannotConnectToHost},
        {"server slower than the time-out", server.url("/slow"), true, URLError::TimedOut},
        {"unparsable URL", "http://exa mple.com/a", false, URLError::BadURL},
        {"no host", "file:///etc/passwd", false, URLError::BadURL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Completions done;
        const auto [sessionID, calledInline] = onCaller([&] {
            auto id = client->postURL(c.url, std::nullopt, bytes("x"), queue, false, done.handler());
            return std::make_pair(id, done.count());
        });
        EXPECT_EQ(calledInline, 0u);
        EXPECT_EQ(sessionID.empty(), !c.starts);
        if (c.code == URLError::TimedOut) {
            ASSERT_TRUE(server.waitForRequest(1));
            // The request's last bytes may be counted as progress just after an advance, which
            // restarts its time-out once; time goes on until the time-out has been reported.
            EXPECT_TRUE(eventually([&] {
                clock->advance(1);
                return done.count() > 0;
            }));
        }
        const Outcome outcome = done.wait();
        queue->sync([] {});
        EXPECT_EQ(done.count(), 1u);
        EXPECT_EQ(outcome.queueLabel, kCallerQueue);
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(outcome.response->statusCode, 0);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code, c.code);
        EXPECT_FALSE(client->hasUploadInProgress());
    }
    server.stop();  // the slow answer is let go; it must not reach the caller a second time
    queue->sync([] {});
}

TEST_F(ZEDUdovadeTest, ALoopbackHostIsAlwaysConnected) {
    SimulatedNetwork::setFlags(0);
    SimulatedNetwork::setLoopbackFlags(0);
    EXPECT_TRUE(client->isNetworkConnected());
    EXPECT_TRUE(ZEDUdovade::initWithReachabilityHost("localhost")->isNetworkConnected());
}

TEST_F(ZEDUdovadeTest, AnotherHostFollowsReachabilityAndTellsTheDelegateOfEachChange) {
    using namespace NetworkReachabilityFlag;
    auto remote = ZEDUdovade::initWithReachabilityHost("measurement.zizoda.example");
    auto delegate = std::make_shared<CountingReachabilityDelegate>();
    remote->setReachabilityDelegate(delegate);
    EXPECT_TRUE(remote->isNetworkConnected());

    SimulatedNetwork::setFlags(0);
    RunLoop::runUntilIdle();
    EXPECT_FALSE(remote->isNetworkConnected());
    EXPECT_EQ(delegate->calls, 1);

    SimulatedNetwork::setFlags(Reachable | ConnectionRequired);
    RunLoop::runUntilIdle();
    EXPECT_FALSE(remote->isNetworkConnected());
    EXPECT_EQ(delegate->calls, 2);

    remote->setReachabilityDelegate(nullptr);
    SimulatedNetwork::setFlags(Reachable);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(remote->isNetworkConnected());
    EXPECT_EQ(delegate->calls, 2);
}

TEST_F(ZEDUdovadeTest, LogsFailuresAlwaysAndEachRequestInDebugMode) {
    using Level = ZEDUdovadeLoggerLevel;
    namespace Code = ZEDUdovadeMessageCode;
    auto logger = std::make_shared<RecordingLogger>();
    client->setLoggerDelegate(logger);

    Completions refused;
    client->getURL("not a url", std::nullopt, queue, false, refused.handler());
    refused.wait();
    Completions quiet;
    client->getURL(server.url("/quiet"), std::nullopt, queue, false, quiet.handler());
    quiet.wait();
    queue->sync([] {});
    ASSERT_EQ(logger->codes(), std::vector<int64_t>{Code::InvalidURL});
    EXPECT_EQ(logger->lines()[0].level, Level::Error);

    client->setIsDebugModeEnabled(true);
    Completions traced;
    client->getURL(server.url("/traced"), std::nullopt, queue, false, traced.handler());
    traced.wait();
    queue->sync([] {});
    const auto lines = logger->lines();
    ASSERT_EQ(logger->codes(),
              (std::vector<int64_t>{Code::InvalidURL, Code::RequestStarted, Code::RequestFinished}));
    EXPECT_EQ(lines[1].level, Level::Debug);
    EXPECT_EQ(lines[1].contexts, 2u);

    logger.reset();  // held weakly: a logger that is gone is simply not called
    Completions unlogged;
    client->getURL("not a url", std::nullopt, queue, false, unlogged.handler());
    unlogged.wait();
}

TEST(ZEDUdovade, NeedsAHostAndHasNoBackgroundSessionsToWaitFor) {
    EXPECT_FALSE(ZEDUdovade::initWithReachabilityHost(""));
    bool called = false;
    ZEDUdovade::handleEventsForBackgroundURLSessionID("session", [&] { called = true; });
    EXPECT_TRUE(called);
}

}  // namespace
