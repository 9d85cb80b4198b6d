#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include "DudIzizoz/Internals/HttpClient/DIZCompression.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpCall.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"
#include "DudIzizoz/Internals/HttpClient/DIZ_Reachability.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/Reachability_simulated.h"
#include "platform/network/testing/CompletionRecorder.h"
#include "platform/network/testing/DroppingFront.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "testing/Eventually.h"
#include "testing/OtherThreads.h"

namespace {

using Outcome = HTTPOutcome;
using Handler = CompletionRecorder;

class RecordingDelegate : public DIZHttpClientDelegate {
  public:
    void willSendHTTPRequestToURL(const std::string& url, const HTTPHeaders& headers) override {
        std::lock_guard lock(mutex);
        urls.push_back(url);
        lastHeaders = headers;
    }
    std::mutex mutex;
    std::vector<std::string> urls;
    HTTPHeaders lastHeaders;
};

class DIZHttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.hold("/hang");
        client = DIZHttpClient::make();
        RunLoop::runUntilIdle();  // the notifier starts and reports the network once
    }
    // The client goes first: its session closes the connections the server would otherwise keep
    // alive for seconds.
    void TearDown() override {
        client.reset();
        RunLoop::runUntilIdle();
        server.stop();
    }

    void send(const std::string& path, Handler& handler, std::optional<Data> body = dataFromString("{}")) {
        client->sendAsync(server.url(path), "POST", {{"App-Secret", "secret"}}, std::move(body),
                          handler.handler());
    }
    std::shared_ptr<DIZHttpCall> onlyPendingCall() {
        auto calls = client->pendingCalls();
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? nullptr : calls.front();
    }
    // The call has been answered with a recoverable status and waits for its retry timer.
    bool waitingForRetry(const std::shared_ptr<DIZHttpCall>& call, int32_t retries) {
        return eventually([&] { return call->retryCount() == retries && !call->isInProgress(); });
    }
    void networkBecomes(NetworkReachabilityFlags flags) {
        SimulatedNetwork::setFlags(flags);
        RunLoop::runUntilIdle();
    }

    DIZLogCapture logs;
    ScopedManualClock clock;
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server;
    std::shared_ptr<DIZHttpClient> client;
};

Data inflate(const Data& gzip) {
    z_stream stream{};
    inflateInit2(&stream, 15 + 16);
    Data out(64 * 1024);
    stream.next_in = const_cast<Bytef*>(gzip.data());
    stream.avail_in = static_cast<uInt>(gzip.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    out.resize(status == Z_STREAM_END ? stream.total_out : 0);
    inflateEnd(&stream);
    return out;
}

TEST_F(DIZHttpClientTest, BodiesFrom1400BytesGoOutGzipped) {
    auto delegate = std::make_shared<RecordingDelegate>();
    client->setDelegate(delegate);
    for (size_t size : {1399u, 1400u}) {
        const std::string text(size, 'x');
        Handler handler;
        send("/logs", handler, dataFromString(text));
        ASSERT_FALSE(handler.wait().error);

        LocalHttpServer::Request request = server.last();
        const bool gzipped = size >= 1400;
        EXPECT_EQ(request.body, text) << size;  // the server inflates what was sent
        EXPECT_EQ(request.headers.count("Content-Encoding"), gzipped ? 1u : 0u) << size;
        EXPECT_EQ(std::stoul(request.headers.find("Content-Length")->second) < size, gzipped) << size;
        EXPECT_EQ(request.headers.find("Content-Type")->second, "application/json");
        std::lock_guard lock(delegate->mutex);
        EXPECT_EQ(delegate->lastHeaders.count("Content-Encoding"), gzipped ? 1u : 0u);
    }
    EXPECT_EQ(delegate->urls.size(), 2u);
}

TEST_F(DIZHttpClientTest, CallKeepsGivenContentTypeAndCompressesToRealGzip) {
    const Data body(5000, 'a');
    DIZHttpCall call("http://127.0.0.1/", "POST", {{"Content-Type", "text/plain"}}, body,
                     DIZHttpClient::kDefaultRetryIntervals, true, nullptr);
    EXPECT_EQ(call.headers().at("Content-Type"), "text/plain");
    EXPECT_EQ(call.headers().at("Content-Encoding"), "gzip");
    EXPECT_EQ(inflate(*call.data()), body);

    DIZHttpCall plain("http://127.0.0.1/", "POST", {}, body, DIZHttpClient::kDefaultRetryIntervals, false,
                      nullptr);
    EXPECT_EQ(plain.data(), body);
    EXPECT_FALSE(plain.headers().contains("Content-Encoding"));
    // Small inputs need more room than the body itself once wrapped in gzip.
    EXPECT_EQ(inflate(*DIZCompression::compressData(Data{'a'})), Data{'a'});
    EXPECT_FALSE(DIZCompression::compressData(Data{}));
}

TEST_F(DIZHttpClientTest, ServerRetryHintIsHonouredAndTheLastFailureIsHandedOverAndPauses) {
    server.script("/logs", {{503, {{"x-dz-retry-after-ms", "50"}}, "answer 503"}});
    Handler handler;
    send("/logs", handler);
    auto call = onlyPendingCall();

    for (int32_t retry = 1; retry <= 3; ++retry) {
        ASSERT_TRUE(waitingForRetry(call, retry));
        clock->advance(0.049);
        EXPECT_EQ(server.count("/logs"), static_cast<size_t>(retry));
        clock->advance(0.001);
        ASSERT_TRUE(server.waitForRequests("/logs", static_cast<size_t>(retry) + 1));
    }
    Outcome outcome = handler.wait();
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode, 503);
    EXPECT_EQ(stringFromData(*outcome.body), "answer 503");
    EXPECT_TRUE(client->isPaused());
    EXPECT_TRUE(client->pendingCalls().empty());

    server.script("/logs", {{200, {}}});
    Handler later;
    send("/logs", later);
    EXPECT_EQ(later.calls(), 0u);
    EXPECT_EQ(server.count("/logs"), 4u);  // held while paused
    networkBecomes(0);
    networkBecomes(NetworkReachabilityFlag::Reachable);
    EXPECT_EQ(later.wait().response->statusCode, 200);
    EXPECT_FALSE(client->isPaused());
}

TEST_F(DIZHttpClientTest, UsedUpRetriesResumeTheClientOnceTheLastIntervalHasPassedAgain) {
    server.script("/logs", {{503, {}}, {503, {}}, {200, {}}});
    Handler handler;
    client->sendAsync(server.url("/logs"), "POST", {}, dataFromString("{}"), {20}, true, handler.handler());
    ASSERT_TRUE(waitingForRetry(onlyPendingCall(), 1));
    clock->advance(20);
    Outcome last = handler.wait();
    ASSERT_TRUE(last.response);
    EXPECT_EQ(last.response->statusCode, 503);
    EXPECT_TRUE(client->isPaused());

    Handler later;
    send("/logs", later);
    clock->advance(19.9);
    EXPECT_TRUE(client->isPaused());
    EXPECT_EQ(server.count("/logs"), 2u);
    clock->advance(0.1);
    Outcome outcome = later.wait();
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode, 200);
    EXPECT_FALSE(client->isPaused());
}

TEST_F(DIZHttpClientTest, LostConnectionAndTlsFailureWhileTheNetworkIsUpAreRetriedNotParked) {
    struct Case {
        const char* name;
        std::string scheme;
        size_t drops;
        bool answeredByTheRetry;
    };
    // The TLS case comes last: its call is still waiting for a retry when the loop ends.
    for (const Case& c : {Case{"closed without an answer", "http", 1, true},
                          Case{"TLS handshake with a plain server", "https", 0, false}}) {
        SCOPED_TRACE(c.name);
        DroppingFront front(server.port(), c.drops);
        Handler handler;
        client->sendAsync(c.scheme + "://127.0.0.1:" + std::to_string(front.port()) + "/logs", "POST", {},
                          dataFromString("{}"), handler.handler());
        auto call = onlyPendingCall();
        ASSERT_TRUE(waitingForRetry(call, 1));
        EXPECT_FALSE(client->isPaused());
        EXPECT_EQ(handler.calls(), 0u);

        clock->advance(10);
        ASSERT_TRUE(front.waitForConnections(2));
        if (c.answeredByTheRetry) {
            Outcome outcome = handler.wait();
            ASSERT_TRUE(outcome.response);
            EXPECT_EQ(outcome.response->statusCode, 200);
        } else {
            EXPECT_TRUE(waitingForRetry(call, 2));
        }
    }
    EXPECT_FALSE(logs.contains("HTTP call failed with error: Internet connection is down."));
    EXPECT_FALSE(logs.contains("HTTP call failed with error: Could not establish secure connection."));
}

TEST_F(DIZHttpClientTest, WithoutAUsableHintTheDelayIsJitteredFromHalfTheInterval) {
    for (const char* hint : {"", "-50", "soon"}) {
        SCOPED_TRACE(hint);
        const std::string path = std::string("/jitter") + (*hint ? "-" : "") + hint;
        httplib::Headers headers;
        if (*hint) headers.emplace("x-dz-retry-after-ms", hint);
        server.script(path, {{500, headers}, {200, {}}});
        Handler handler;
        send(path, handler);
        auto call = onlyPendingCall();
        ASSERT_TRUE(waitingForRetry(call, 1));
        clock->advance(4.999);
        EXPECT_EQ(server.count(path), 1u);
        clock->advance(5.001);
        EXPECT_EQ(handler.wait().response->statusCode, 200);
    }
}

TEST_F(DIZHttpClientTest, NonRecoverableStatusDisablesTheClientAndCancelsTheRest) {
    server.script("/bad", {{400, {}}});
    Handler hanging, bad, late;
    send("/hang", hanging);
    ASSERT_TRUE(server.waitForRequests("/hang", 1));
    send("/bad", bad);

    Outcome answer = bad.wait();
    EXPECT_FALSE(answer.error);
    EXPECT_EQ(answer.response->statusCode, 400);
    Outcome cancelled = hanging.wait();
    ASSERT_TRUE(cancelled.error);
    EXPECT_EQ(cancelled.error->domain, kDIZErrorDomain);
    EXPECT_EQ(cancelled.error->code, 2);
    EXPECT_EQ(cancelled.error->description, "The operation was canceled.");
    EXPECT_FALSE(client->isEnabled());

    send("/logs", late);
    ASSERT_EQ(late.calls(), 1u);  // at once, on the caller's thread
    EXPECT_EQ(late.wait().error->code, 3);
    EXPECT_EQ(late.wait().error->description, "The service is disabled.");

    // The cancelled transfer still completes inside the session, and must reach no handler.
    EXPECT_TRUE(eventually([&] { return logs.contains("HTTP call was canceled; do not process further."); }));
    EXPECT_EQ(hanging.calls(), 1u);
    EXPECT_EQ(server.count("/logs"), 0u);
}

TEST_F(DIZHttpClientTest, ReenablingGivesANewSessionThatSends) {
    client->setEnabled(false, true);
    EXPECT_FALSE(client->session());
    client->setEnabled(true, false);
    Handler handler;
    send("/logs", handler);
    EXPECT_EQ(handler.wait().response->statusCode, 200);
}

TEST_F(DIZHttpClientTest, ConnectionRefusedWhileOfflineWaitsForTheNetwork) {
    // A port with no listener now, and a server on it later.
    ClosedLocalPort closed;
    const int port = closed.port();

    SimulatedNetwork::setFlags(0);  // gone, and the client has not heard of it yet
    Handler handler;
    client->sendAsync(closed.url("/logs"), "POST", {}, dataFromString("{}"), handler.handler());
    auto call = onlyPendingCall();
    ASSERT_TRUE(eventually(
        [&] { return logs.contains("HTTP call failed with error: Internet connection is down."); }));
    EXPECT_FALSE(call->isInProgress());
    EXPECT_EQ(handler.calls(), 0u);
    EXPECT_EQ(client->pendingCalls().size(), 1u);

    closed.release();
    LocalHttpServer later(port);
    ASSERT_EQ(later.port(), port);
    networkBecomes(0);  // now the client hears of it
    EXPECT_TRUE(client->isPaused());
    networkBecomes(NetworkReachabilityFlag::Reachable);
    Outcome outcome = handler.wait();
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode, 200);
    EXPECT_EQ(later.count("/logs"), 1u);
    client.reset();  // closes its connection before the server stops
}

TEST_F(DIZHttpClientTest, StalledRequestFailsAfterSixtySecondsOfClockTime) {
    Handler handler;
    send("/hang", handler);
    ASSERT_TRUE(server.waitForRequests("/hang", 1));
    clock->advance(59.9);
    EXPECT_EQ(handler.calls(), 0u);
    clock->advance(0.1);
    Outcome outcome = handler.wait();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, kURLErrorDomain);
    EXPECT_EQ(outcome.error->code, URLError::TimedOut);
    EXPECT_TRUE(client->pendingCalls().empty());
}

// What the client calls out to may call the client again, on its own thread or on another one
// that it waits for.
TEST_F(DIZHttpClientTest, HandlersAndTheDelegateMayCallTheClientAgain) {
    struct Delegate : DIZHttpClientDelegate {
        void willSendHTTPRequestToURL(const std::string&, const HTTPHeaders&) override {
            const bool answered = threads.run([this] { client->isPaused(); });
            std::lock_guard lock(mutex);
            answers.push_back(answered);
        }
        OtherThreads threads;
        std::shared_ptr<DIZHttpClient> client;
        std::mutex mutex;
        std::vector<bool> answers;
    };
    auto delegate = std::make_shared<Delegate>();
    delegate->client = client;
    client->setDelegate(delegate);

    OtherThreads threads;
    Handler second;
    std::atomic<bool> sentFromAnotherThread{false};
    client->sendAsync(server.url("/logs"), "POST", {}, dataFromString("{}"),
                      [&](std::optional<Data>, std::shared_ptr<const HTTPURLResponse>, std::optional<Error>) {
                          sentFromAnotherThread = threads.run([&] { send("/logs", second); });
                          client->pause();
                      });

    Outcome answer = second.wait();
    ASSERT_TRUE(answer.response);
    EXPECT_EQ(answer.response->statusCode, 200);
    EXPECT_TRUE(sentFromAnotherThread);
    EXPECT_TRUE(client->isPaused());
    std::lock_guard lock(delegate->mutex);
    EXPECT_EQ(delegate->answers, (std::vector<bool>{true, true}));
}

TEST(DIZHttpCallTest, RetryDelaysFallInTheirJitterWindows) {
    DIZHttpCall call("http://127.0.0.1/", "POST", {}, std::nullopt, DIZHttpClient::kDefaultRetryIntervals,
                     true, nullptr);
    const uint32_t windows[][2] = {{5000, 10000}, {150000, 300000}, {600000, 1200000}};
    for (int32_t index = 0; index < 3; ++index) {
        for (int draw = 0; draw < 50; ++draw) {
            const uint32_t delay = call.delayForRetryCount(index);
            EXPECT_GE(delay, windows[index][0]);
            EXPECT_LT(delay, windows[index][1]);
        }
    }
    EXPECT_FALSE(call.hasReachedMaxRetries());
    EXPECT_FALSE(call.headers().contains("Content-Type"));  // no body, no content type
}

TEST(DIZHttpUtilTest, ClassifiesStatusesAndErrors) {
    for (long status : {0L, 408L, 429L, 500L, 503L, 599L})
        EXPECT_TRUE(DIZHttpUtil::isRecoverableError(status)) << status;
    for (long status : {200L, 204L, 400L, 401L, 403L, 404L, 499L})
        EXPECT_FALSE(DIZHttpUtil::isRecoverableError(status)) << status;
    EXPECT_TRUE(DIZHttpUtil::isSuccessStatusCode(200));
    EXPECT_TRUE(DIZHttpUtil::isSuccessStatusCode(299));
    EXPECT_FALSE(DIZHttpUtil::isSuccessStatusCode(300));

    EXPECT_TRUE(DIZHttpUtil::isNoInternetConnectionError(Error(kURLErrorDomain, -1009)));
    EXPECT_TRUE(DIZHttpUtil::isNoInternetConnectionError(Error(kURLErrorDomain, -1005)));
    EXPECT_FALSE(DIZHttpUtil::isNoInternetConnectionError(Error("other", -1009)));
    EXPECT_TRUE(DIZHttpUtil::isSSLConnectionError(Error(kURLErrorDomain, -1200)));
    EXPECT_TRUE(DIZHttpUtil::isSSLConnectionError(Error(kURLErrorDomain, -2000)));
    EXPECT_FALSE(DIZHttpUtil::isSSLConnectionError(Error(kURLErrorDomain, -1199)));
    EXPECT_FALSE(DIZHttpUtil::isSSLConnectionError(Error(kURLErrorDomain, -2001)));
}

TEST(DIZHttpUtilTest, HidesAllButTheLastEightCharacters) {
    const std::string secret = "0123abcd-4567-89ef-0123-456789abcdef";
    ASSERT_EQ(secret.size(), 36u);
    EXPECT_EQ(DIZHttpUtil::hideSecret(secret), std::string(28, '*') + "89abcdef");
    EXPECT_EQ(DIZHttpUtil::hideSecret("12345678"), "********");
    EXPECT_EQ(DIZHttpUtil::hideSecret("123456789"), "*23456789");
    EXPECT_EQ(DIZHttpUtil::hideSecret(""), "");
    EXPECT_EQ(DIZHttpUtil::hideSecret("\xC3\xA9"
                                      "12345678"),
              "*12345678");  // one character, two bytes
    EXPECT_EQ(DIZHttpUtil::hideSecretInString("a=" + secret + ";b=" + secret, secret),
              "a=" + DIZHttpUtil::hideSecret(secret) + ";b=" + DIZHttpUtil::hideSecret(secret));
    EXPECT_EQ(DIZHttpUtil::hideSecretInString("text", ""), "text");
}

TEST(DIZReachabilityTest, StatusFollowsTheFlags) {
    using namespace NetworkReachabilityFlag;
    struct Case {
        NetworkReachabilityFlags flags;
        DIZNetworkStatus status;
    };
    const Case cases[] = {
        {0, NotReachable},
        {Reachable, ReachableViaNetwork},
        {Reachable | ConnectionRequired, NotReachable},
        {Reachable | ConnectionRequired | ConnectionOnTraffic, ReachableViaNetwork},
        {Reachable | ConnectionRequired | ConnectionOnDemand, ReachableViaNetwork},
        {Reachable | ConnectionRequired | ConnectionOnDemand | InterventionRequired, NotReachable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DIZ_Reachability::networkStatusForFlags(c.flags), c.status) << c.flags;
}

TEST(DIZReachabilityTest, NotifierPostsOnceAtStartAndOnEveryChange) {
    SimulatedNetwork::Scoped network(NetworkReachabilityFlag::Reachable);
    auto reachability = DIZ_Reachability::reachabilityForInternetConnection();
    std::vector<DIZNetworkStatus> seen;
    auto token = NotificationCenter::defaultCenter().addObserver(
        kDZNetworkReachabilityChangedNotification,
        [&](const Notification& n) {
            seen.push_back(static_cast<const DIZ_Reachability*>(n.object)->currentReachabilityStatus());
        },
        reachability.get());
    reachability->startNotifier();
    RunLoop::runUntilIdle();
    SimulatedNetwork::setFlags(0);
    RunLoop::runUntilIdle();
    reachability->stopNotifier();
    RunLoop::runUntilIdle();
    SimulatedNetwork::setFlags(NetworkReachabilityFlag::Reachable);
    RunLoop::runUntilIdle();
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(seen, (std::vector<DIZNetworkStatus>{ReachableViaNetwork, NotReachable}));
}

}  // namespace
