#include <gtest/gtest.h>

#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/Ingestion/DIZHttpIngestion.h"
#include "DudIzizoz/Internals/Ingestion/DIZTicketCache.h"
#include "DudIzizoz/Internals/Ingestion/tests/DIZIngestionTesting.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"

namespace {

const DIZQueryStrings kLogsQuery = {{"api-version", "1.0.0"}};

// Supplies fixed headers and body, and lets the whole response payload into the log.
class ProbeIngestion : public DIZHttpIngestion {
  public:
    static std::shared_ptr<ProbeIngestion> make(std::shared_ptr<DIZHttpClientProtocol> client,
                                                const std::string& baseUrl) {
        return attachedToClient(std::shared_ptr<ProbeIngestion>(
            new ProbeIngestion(std::move(client), baseUrl, "/logs", {{"Fixed", "1"}}, kLogsQuery,
                               kDefaultRetryIntervals, kDefaultMaxNumberOfConnections)));
    }
    HTTPHeaders getHeadersWithData(const std::shared_ptr<DIZLogContainer>&,
                                   const std::optional<std::string>& eTag) override {
        return {{"Probe", eTag.value_or("none")}};
    }
    std::optional<Data> getPayloadWithData(const std::shared_ptr<DIZLogContainer>&) override {
        return dataFromString(R"({"probe":true})");
    }
    std::optional<std::string> obfuscateResponsePayload(
        const std::optional<std::string>& payload) const override {
        return payload;
    }

  private:
    using DIZHttpIngestion::DIZHttpIngestion;
};

class DIZHttpIngestionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        client = DIZHttpClient::make();
        RunLoop::runUntilIdle();
        ingestion = ProbeIngestion::make(client, server.url());
    }
    void TearDown() override {
        ingestion.reset();
        client.reset();
        RunLoop::runUntilIdle();
    }

    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
    ScopedManualClock clock;
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server;
    std::shared_ptr<DIZHttpClient> client;
    std::shared_ptr<ProbeIngestion> ingestion;
};

TEST(DIZHttpIngestionURLTest, SendURLIsBaseAndPathWithTheQueryPercentEncoded) {
    struct Case {
        std::string base, path;
        DIZQueryStrings query;
        std::string expected;
    } cases[] = {
        {"http://127.0.0.1:8080", "/logs", kLogsQuery, "http://127.0.0.1:8080/logs?api-version=1.0.0"},
        {"http://127.0.0.1", "/DidOzodozuda/1.0", {}, "http://127.0.0.1/DidOzodozuda/1.0"},
        {"http://127.0.0.1",
         "/p",
         {{"a", "x y"}, {"b", "1%|2&c=3"}},
         "http://127.0.0.1/p?a=x%20y&b=1%25%7C2&c=3"},
        {"not a url", "/logs", kLogsQuery, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DIZHttpIngestion::buildURLWithBaseURL(c.base, c.path, c.query), c.expected) << c.base;
}

TEST_F(DIZHttpIngestionTest, NewBaseURLReplacesSchemeHostPortAndPathButKeepsTheQuery) {
    struct Case {
        std::string base, expected;
    } cases[] = {
        {"https://localhost:9443", "https://localhost:9443/logs?api-version=1.0.0"},
        {"http://user:pw@127.0.0.1/v2", "http://user:pw@127.0.0.1/v2/logs?api-version=1.0.0"},
    };
    for (const auto& c : cases) {
        auto moved = ProbeIngestion::make(client, "http://127.0.0.1:1234/v0");
        moved->setBaseURL(c.base);
        EXPECT_EQ(moved->sendURL(), c.expected);
        EXPECT_EQ(moved->baseURL(), c.base);
    }

    for (std::string broken : {"not a url", "http://127.0.0.1:99999", "http://127.0.0.1/%zz"}) {
        const std::string before = ingestion->sendURL();
        ingestion->setBaseURL(broken);
        EXPECT_EQ(ingestion->sendURL(), before);
        EXPECT_TRUE(logs.contains("Failed to update HTTP URL " + before + " with " + broken)) << broken;
    }
}

TEST(DIZHttpIngestionETagTest, ETagHeaderIsFoundWhateverItsCase) {
    HTTPURLResponse response;
    EXPECT_EQ(DIZHttpIngestion::eTagFromResponse(&response), std::nullopt);
    EXPECT_EQ(DIZHttpIngestion::eTagFromResponse(nullptr), std::nullopt);
    for (std::string name : {"ETag", "etag", "Etag"}) {
        response.allHeaderFields = {{"Content-Type", "text/plain"}, {name, "\"v1\""}};
        EXPECT_EQ(DIZHttpIngestion::eTagFromResponse(&response), "\"v1\"") << name;
    }
}

TEST_F(DIZHttpIngestionTest, BatchGoesOutAsOnePostWithTheHooksHeadersAndBody) {
    DIZSendRecorder named;
    ingestion->sendAsync(nullptr, "tag-1", "batch-1", named.handler());
    auto outcome = named.wait();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->callId, "batch-1");
    EXPECT_FALSE(outcome->error);
    ASSERT_TRUE(outcome->response);
    EXPECT_EQ(outcome->response->statusCode, 200);
    EXPECT_EQ(outcome->body, dataFromString("{}"));

    DIZSendRecorder unnamed;
    ingestion->sendAsync(nullptr, unnamed.handler());
    outcome = unnamed.wait();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(UUID::fromString(outcome->callId)) << outcome->callId;

    auto requests = server.received();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/logs?api-version=1.0.0");
    EXPECT_EQ(requests[0].header("Probe"), "tag-1");
    EXPECT_EQ(requests[0].body, R"({"probe":true})");
    EXPECT_EQ(requests[1].header("Probe"), "none");
}

TEST_F(DIZHttpIngestionTest, DisabledOrNetworkForbiddenAnswersAtOnceWithCode3AndSendsNothing) {
    auto forbidNetwork = [](bool forbidden) {
        if (forbidden) {
            DIZDudIzizozUserDefaults::shared()->setObject(Value(false), "NetworkRequestsAllowed");
        } else {
            DIZDudIzizozUserDefaults::shared()->removeObjectForKey("NetworkRequestsAllowed");
        }
    };
    for (bool viaNetworkSwitch : {false, true}) {
        if (viaNetworkSwitch) {
            forbidNetwork(true);
        } else {
            ingestion->setEnabled(false, true);
        }
        EXPECT_FALSE(ingestion->isEnabled());

        DIZSendRecorder refused;
        ingestion->sendAsync(nullptr, std::nullopt, "batch-2", refused.handler());
        ASSERT_EQ(refused.count(), 1u) << "answered before returning";
        auto outcome = refused.wait();
        EXPECT_EQ(outcome->callId, "batch-2");
        EXPECT_FALSE(outcome->response);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->domain, kDIZErrorDomain);
        EXPECT_EQ(outcome->error->code, 3);
        EXPECT_EQ(outcome->error->description, "The service is disabled.");

        forbidNetwork(false);
        ingestion->setEnabled(true, false);
        EXPECT_TRUE(ingestion->isEnabled());
    }
    EXPECT_TRUE(logs.contains("DIZHttpIngestion is disabled."));

    // One send that goes through shows the two refused ones never reached the server.
    DIZSendRecorder sent;
    ingestion->sendAsync(nullptr, sent.handler());
    ASSERT_TRUE(sent.wait());
    EXPECT_EQ(server.received().size(), 1u);
}

TEST_F(DIZHttpIngestionTest, VerboseResponseLogShowsThePayloadByContentType) {
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    struct Case {
        std::string contentType, body, payload;
    } cases[] = {
        {"application/json; charset=utf-8", R"({"a":"x/y"})", "{\n  \"a\": \"x/y\"\n}"},
        {"text/plain", "plain text", "plain text"},
        {"", "no type", "no type"},
        {"application/x-json-stream", "line\n", "line\n"},
        {"image/png", "\x89PNG", "<binary>"},
        {"text/plain", "", "(null)"},
        {"text/plain", "\xff\xfe", "(null)"},
    };
    for (const auto& c : cases) {
        HTTPURLResponse response;
        response.statusCode = 202;
        if (!c.contentType.empty()) response.allHeaderFields = {{"Content-Type", c.contentType}};
        ingestion->printResponse(&response, dataFromString(c.body), std::nullopt);
        EXPECT_TRUE(logs.contains("HTTP response received with status code: 202, payload:\n" + c.payload))
            << c.contentType << " " << c.body;
    }

    ingestion->printResponse(nullptr, std::nullopt, Error(kURLErrorDomain, -1004, "Could not connect"));
    const auto* entry = logs.find(
        "HTTP request error with code: -1004, domain: NSURLErrorDomain, description: "
        "Could not connect");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->level, DIZLogLevel::Debug);

    DIZLogger::setCurrentLogLevel(DIZLogLevel::Debug);
    const size_t before = logs.entries().size();
    ingestion->printResponse(nullptr, dataFromString("quiet"), std::nullopt);
    EXPECT_EQ(logs.entries().size(), before);
}

TEST(DIZTicketCacheTest, StoresReplacesRemovesAndClearsTickets) {
    auto cache = DIZTicketCache::sharedInstance();
    EXPECT_EQ(cache, DIZTicketCache::sharedInstance());
    cache->setTicket("d:first", "key1");
    cache->setTicket("p:second", "key1");
    cache->setTicket("d:other", "key2");
    EXPECT_EQ(cache->ticketFor("key1"), "p:second");
    EXPECT_EQ(cache->ticketFor("missing"), std::nullopt);

    cache->setTicket(std::nullopt, "key1");
    EXPECT_EQ(cache->ticketFor("key1"), std::nullopt);
    EXPECT_EQ(cache->ticketFor("key2"), "d:other");

    cache->clearCache();
    EXPECT_EQ(cache->ticketFor("key2"), std::nullopt);
}

}  // namespace
