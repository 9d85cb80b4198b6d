#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>

#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/network/Reachability_simulated.h"
#include "platform/network/URLSession.h"
#include "platform/network/testing/CompletionRecorder.h"
#include "platform/network/testing/LocalHttpServer.h"

namespace {

// The leak check cannot judge a child forked from a threaded process: the threads whose stacks it
// copied do not run there, so what only they point at reads as lost. Such a child turns the check
// off for itself; every other process of this binary keeps it.
std::atomic<bool> forkedChild{false};

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __lsan_is_turned_off() {
    return forkedChild.load() ? 1 : 0;
}
#endif

namespace {

using Outcome = HTTPOutcome;
using Completion = CompletionRecorder;

// "/echo" answers with marks of its own; "/hang" holds its request until the test lets it go.
class LocalServer : public LocalHttpServer {
  public:
    LocalServer() {
        script("/echo", {{201, {{"X-Reply", "yes"}}, "answer:payload", "text/plain"}});
        hold("/hang");
    }
    void waitForHangingRequest() { ASSERT_TRUE(waitForRequests("/hang", 1)); }
    std::string lastBody() { return last().body; }
    std::string lastHeader(const std::string& name) { return last().header(name); }
    size_t headerCount(const std::string& name) { return last().headers.count(name); }
    std::string lastMethod() { return last().method; }
};

URLRequest post(const std::string& url, const std::string& body = "hello") {
    URLRequest request;
    request.url = url;
    request.httpMethod = "POST";
    request.httpBody = dataFromString(body);
    return request;
}

class URLSessionTest : public ::testing::Test {
  protected:
    SimulatedNetwork::Scoped network;
    LocalServer server;
    std::shared_ptr<URLSession> session =
        URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
};

TEST_F(URLSessionTest, PostCarriesMethodHeadersAndBodyAndAnswersWithStatusHeadersAndBody) {
    Completion completion;
    URLRequest request = post(server.url("/echo"), "payload");
    request.allHTTPHeaderFields = {{"Content-Type", "application/json"}, {"App-Secret", "s3"}};
    session->dataTaskWithRequest(request, completion.handler())->resume();

    Outcome outcome = completion.wait();
    ASSERT_FALSE(outcome.error) << outcome.error->description;
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode, 201);
    EXPECT_EQ(outcome.response->valueForHTTPHeaderField("x-reply"), "yes");
    EXPECT_EQ(stringFromData(*outcome.body), "answer:payload");
    // The announced length counts the bytes on the wire, which the server may have compressed.
    const auto announced = outcome.response->valueForHTTPHeaderField("Content-Length");
    ASSERT_TRUE(announced);
    EXPECT_EQ(std::to_string(outcome.response->expectedContentLength), *announced);
    EXPECT_EQ(server.lastMethod(), "POST");
    EXPECT_EQ(server.lastBody(), "payload");
    EXPECT_EQ(server.lastHeader("Content-Type"), "application/json");
    EXPECT_EQ(server.lastHeader("App-Secret"), "s3");
}

TEST_F(URLSessionTest, PostStaysAPostWithItsBodyAcrossEveryRedirect) {
    for (int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        server.script("/moved", {{status, {{"Location", server.url("/echo")}}, "", "text/plain"}});
        Completion completion;
        session->dataTaskWithRequest(post(server.url("/moved"), "payload"), completion.handler())->resume();

        Outcome outcome = completion.wait();
        ASSERT_FALSE(outcome.error) << outcome.error->description;
        EXPECT_EQ(outcome.response->statusCode, 201);
        EXPECT_EQ(outcome.response->url, server.url("/echo"));
        const auto request = server.last();
        EXPECT_EQ(request.path, "/echo");
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.body, "payload");
    }
}

TEST_F(URLSessionTest, HeaderWithLineBreakIsNotSent) {
    Completion completion;
    URLRequest request = post(server.url("/echo"));
    request.allHTTPHeaderFields = {{"X-Evil", "a\r\nX-Injected: 1"}, {"X-Good", "1"}};
    session->dataTaskWithRequest(request, completion.handler())->resume();

    ASSERT_FALSE(completion.wait().error);
    EXPECT_EQ(server.headerCount("X-Injected"), 0u);
    EXPECT_EQ(server.headerCount("X-Evil"), 0u);
    EXPECT_EQ(server.lastHeader("X-Good"), "1");
}

TEST_F(URLSessionTest, TransportFailuresMapToUrlErrorCodes) {
    struct Case {
        std::string url;
        NetworkReachabilityFlags network;
        int64_t code;
    };
    ClosedLocalPort closed;
    const std::string refused = closed.url("/");
    const Case cases[] = {
        {refused, NetworkReachabilityFlag::Reachable, URLError::CannotConnectToHost},
        {refused, 0, URLError::NotConnectedToInternet},
        // TLS spoken to a plain HTTP server fails the handshake.
        {"https://127.0.0.1:" + std::to_string(server.port()) + "/echo", NetworkReachabilityFlag::Reachable,
         URLError::SecureConnectionFailed},
        {"ftp://127.0.0.1/file", NetworkReachabilityFlag::Reachable, URLError::UnsupportedURL},
        {"http://[::1", NetworkReachabilityFlag::Reachable, URLError::BadURL},
    };
    for (const Case& c : cases) {
        SimulatedNetwork::setFlags(c.network);
        Completion completion;
        session->dataTaskWithRequest(post(c.url), completion.handler())->resume();
        Outcome outcome = completion.wait();
        ASSERT_TRUE(outcome.error) << c.url;
        EXPECT_EQ(outcome.error->domain, kURLErrorDomain);
        EXPECT_EQ(outcome.error->code, c.code) << c.url << ": " << outcome.error->description;
        EXPECT_FALSE(outcome.response);
        EXPECT_FALSE(outcome.body);
    }
}

TEST_F(URLSessionTest, AnswerBodyLongerThanTheLimitFailsTheTask) {
    URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration();
    configuration.maximumResponseBodyLength = 1024;
    auto limited = URLSession::sessionWithConfiguration(configuration);
    server.script("/fits", {{200, {}, std::string(1024, 'a'), "text/plain"}});
    server.script("/long", {{200, {}, std::string(64 * 1024, 'b'), "text/plain"}});

    Completion fits, tooLong;
    limited->dataTaskWithRequest(post(server.url("/fits")), fits.handler())->resume();
    limited->dataTaskWithRequest(post(server.url("/long")), tooLong.handler())->resume();

    Outcome kept = fits.wait();
    ASSERT_FALSE(kept.error) << kept.error->description;
    EXPECT_EQ(kept.body->size(), 1024u);
    Outcome refused = tooLong.wait();
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, URLError::DataLengthExceedsMaximum);
    EXPECT_EQ(refused.error->description, "The answer body is longer than 1024 bytes.");
    EXPECT_FALSE(refused.body);
    EXPECT_FALSE(refused.response);
}

TEST_F(URLSessionTest, CancelEndsRunningTaskOnceWithCancelled) {
    Completion completion;
    auto task = session->dataTaskWithRequest(post(server.url("/hang")), completion.handler());
    task->resume();
    server.waitForHangingRequest();
    task->cancel();
    task->cancel();

    EXPECT_EQ(completion.wait().error->code, URLError::Cancelled);
    server.release();
    session->invalidateAndCancel();
    EXPECT_EQ(completion.calls(), 1u);
}

TEST_F(URLSessionTest, RunningTaskIsBackgroundActivityUntilItsOutcomeHasBeenHandled) {
    Completion completion;
    session->dataTaskWithRequest(post(server.url("/hang")), completion.handler())->resume();
    server.waitForHangingRequest();
    EXPECT_FALSE(BackgroundActivity::waitUntilIdle(0));

    server.release();
    EXPECT_TRUE(BackgroundActivity::waitUntilIdle(20));
    EXPECT_EQ(completion.calls(), 1u);
}

TEST_F(URLSessionTest, StalledRequestTimesOutOnTheClock) {
    ScopedManualClock clock;
    Completion completion;
    URLRequest request = post(server.url("/hang"));
    request.timeoutInterval = 60;
    session->dataTaskWithRequest(request, completion.handler())->resume();
    server.waitForHangingRequest();

    clock->advance(59);
    EXPECT_EQ(completion.calls(), 0u);
    clock->advance(1);
    EXPECT_EQ(completion.wait().error->code, URLError::TimedOut);
}

TEST_F(URLSessionTest, InvalidatingCancelsRunningTasksAndRefusesNewOnes) {
    Completion running, late;
    session->dataTaskWithRequest(post(server.url("/hang")), running.handler())->resume();
    server.waitForHangingRequest();
    session->invalidateAndCancel();
    EXPECT_EQ(running.wait().error->code, URLError::Cancelled);

    session->dataTaskWithRequest(post(server.url("/echo")), late.handler())->resume();
    EXPECT_EQ(late.wait().error->code, URLError::Cancelled);
}

// A child forked while sessions' workers run has none of those threads; its exit must not join them.
// With a dozen, the child's thread library has let go of some of their stacks.
TEST_F(URLSessionTest, ProcessForkedWhileSessionsRunExitsCleanly) {
    std::vector<std::shared_ptr<URLSession>> sessions(12);
    for (auto& running : sessions) {
        running =
            URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
        Completion completion;
        URLRequest request = post(server.url("/echo"));
        request.allHTTPHeaderFields = {{"Connection", "close"}};  // no idle connection holds a server thread
        running->dataTaskWithRequest(request, completion.handler())->resume();
        ASSERT_FALSE(completion.wait().error);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        forkedChild = true;
        std::exit(0);  // runs the exit handlers that must not wait for the absent workers
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST_F(URLSessionTest, DroppingASessionCancelsItsRunningTask) {
    Completion completion;
    session->dataTaskWithRequest(post(server.url("/hang")), completion.handler())->resume();
    server.waitForHangingRequest();
    session.reset();
    EXPECT_EQ(completion.wait().error->code, URLError::Cancelled);
}

TEST_F(URLSessionTest, DroppingAFinishingSessionLetsItsTaskComplete) {
    Completion completion;
    session->dataTaskWithRequest(post(server.url("/hang")), completion.handler())->resume();
    server.waitForHangingRequest();
    session->finishTasksAndInvalidate();
    session.reset();
    server.release();

    Outcome outcome = completion.wait();
    ASSERT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode, 200);
}

}  // namespace
