#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"
#include "DudIzizoz/Internals/Ingestion/DIZDidOzodozudaIngestion.h"
#include "DudIzizoz/Internals/Ingestion/DIZDudIzizozIngestion.h"
#include "DudIzizoz/Internals/Ingestion/DIZTicketCache.h"
#include "DudIzizoz/Internals/Ingestion/tests/DIZIngestionTesting.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"

namespace {

const std::string kAppSecret = "0d3f8a42-6b1c-4e5d-9a7f-2c8b1e4d6f90";
const std::string kInstallId = "5B0F3C7E-2A41-4D8B-9E6F-1C2D3E4F5A6B";
const std::string kTokenA = "a1b2c3d4e5f6-0718-token-alpha";
const std::string kTokenB = "f6e5d4c3b2a1-0718-token-bravo";

std::shared_ptr<DIZAbstractLog> eventLog() {
    auto log = std::make_shared<DIZAbstractLog>();
    log->setType("event");
    log->setTimestamp(Date::fromUnixMillis(1767225600000));
    log->setDevice(DIZDeviceTracker::sharedInstance()->updatedDevice());
    return log;
}

std::shared_ptr<DIZCoreSchemaLog> coreSchemaLog(
    const std::string& token, std::optional<std::vector<std::string>> ticketKeys = std::nullopt) {
    auto log = std::make_shared<DIZCoreSchemaLog>();
    log->setVer("3.0");
    log->setName("quorvane.cycled");
    log->setTimestamp(Date::fromUnixMillis(1767225600000));
    log->setIKey(DIZUtility::iKeyFromTargetToken(token));
    log->addTransmissionTargetToken(token);
    if (ticketKeys) {
        auto protocol = std::make_shared<DIZProtocolExtension>();
        protocol->setTicketKeys(std::move(ticketKeys));
        auto ext = std::make_shared<DIZCSExtensions>();
        ext->setProtocolExt(protocol);
        log->setExt(ext);
    }
    return log;
}

std::shared_ptr<DIZLogContainer> container(std::string batchId, std::vector<std::shared_ptr<DIZLog>> logs) {
    return std::make_shared<DIZLogContainer>(std::move(batchId), std::move(logs));
}

std::set<std::string> split(const std::string& text, char separator) {
    std::set<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) parts.insert(part);
    return parts;
}

class DIZIngestionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        client = DIZHttpClient::make();
        RunLoop::runUntilIdle();
        DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    }
    void TearDown() override {
        DIZTicketCache::sharedInstance()->clearCache();
        client.reset();
        RunLoop::runUntilIdle();
    }

    std::shared_ptr<DIZDudIzizozIngestion> dudIzizoz() {
        return DIZDudIzizozIngestion::make(client, server.url(), kInstallId);
    }
    std::shared_ptr<DIZDidOzodozudaIngestion> didOzodozuda() {
        return DIZDidOzodozudaIngestion::make(client, server.url());
    }
    // Every log text of the test, to look for what must never show.
    std::string allLogText() {
        std::string all;
        for (const auto& text : logs.texts()) all += text + "\n";
        return all;
    }

    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
    ScopedManualClock clock{1767225600.25};
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server;
    std::shared_ptr<DIZHttpClient> client;
};

TEST_F(DIZIngestionsTest, DudIzizozBatchCarriesTheFullSecretWhileTheVerboseLogMasksIt) {
    auto ingestion = dudIzizoz();
    EXPECT_FALSE(ingestion->isReadyToSend());
    ingestion->setAppSecret(kAppSecret);
    EXPECT_TRUE(ingestion->isReadyToSend());

    auto batch = container("batch-1", {eventLog(), eventLog()});
    DIZSendRecorder recorder;
    ingestion->sendAsync(batch, recorder.handler());
    auto outcome = recorder.wait();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->callId, "batch-1");
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->response->statusCode, 200);

    auto requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(request.header("App-Secret"), kAppSecret);
    EXPECT_EQ(request.header("Install-ID"), kInstallId);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.body, *batch->serializeLog());
    auto body = json::parse(request.body);
    ASSERT_TRUE(body && body->asDictionary());
    const auto* sent = (*body->asDictionary())["logs"].asArray();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->size(), 2u);

    EXPECT_TRUE(logs.contains("URL: " + server.url("/logs?api-version=1.0.0")));
    // Headers are listed by name, so the secret comes first, whatever else the call carries.
    const std::string log = allLogText();
    EXPECT_NE(
        log.find("Headers: App-Secret = " + std::string(28, '*') + kAppSecret.substr(28) + ", Content-"),
        std::string::npos);
    EXPECT_NE(log.find("Install-ID = " + kInstallId), std::string::npos);
    EXPECT_EQ(log.find(kAppSecret), std::string::npos);
}

TEST_F(DIZIngestionsTest, InvalidContainersFailWithCode1BeforeAnyNetworkActivity) {
    auto invalid = eventLog();
    invalid->setDevice(nullptr);
    auto nameless = coreSchemaLog(kTokenA);
    nameless->setName(std::nullopt);
    auto dudIzizozIngestion = dudIzizoz();
    dudIzizozIngestion->setAppSecret(kAppSecret);

    struct Case {
        std::shared_ptr<DIZIngestionProtocol> ingestion;
        std::shared_ptr<DIZLogContainer> batch;
        std::string batchId;
    } cases[] = {
        {dudIzizozIngestion, container("batch-3", {eventLog(), eventLog(), invalid}), "batch-3"},
        {dudIzizozIngestion, container("batch-4", {}), "batch-4"},
        {dudIzizozIngestion, nullptr, ""},
        {didOzodozuda(), container("batch-5", {coreSchemaLog(kTokenA), nameless}), "batch-5"},
        {didOzodozuda(), nullptr, ""},
    };
    for (const auto& c : cases) {
        DIZSendRecorder recorder;
        c.ingestion->sendAsync(c.batch, recorder.handler());
        ASSERT_EQ(recorder.count(), 1u) << c.batchId;
        auto outcome = recorder.wait();
        EXPECT_EQ(outcome->callId, c.batchId);
        EXPECT_FALSE(outcome->response);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->domain, kDIZErrorDomain);
        EXPECT_EQ(outcome->error->code, 1);
        EXPECT_EQ(outcome->error->description, "Invalid log container.");
    }
    const auto* message = logs.find("Invalid log container.");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->level, DIZLogLevel::Error);

    DIZSendRecorder valid;
    dudIzizozIngestion->sendAsync(container("batch-6", {eventLog()}), valid.handler());
    ASSERT_TRUE(valid.wait());
    EXPECT_EQ(server.received().size(), 1u);
}

TEST_F(DIZIngestionsTest, DudIzizozWithoutSecretOrNetworkSendsNothing) {
    auto ingestion = dudIzizoz();
    DIZSendRecorder withoutSecret;
    ingestion->sendAsync(container("batch-7", {eventLog()}), withoutSecret.handler());
    EXPECT_TRUE(logs.contains("DudIzizoz ingestion is used without app secret."));
    EXPECT_EQ(withoutSecret.count(), 0u);

    ingestion->setAppSecret(kAppSecret);
    DIZDudIzizozUserDefaults::shared()->setObject(Value(false), "NetworkRequestsAllowed");
    DIZSendRecorder forbidden;
    ingestion->sendAsync(container("batch-8", {eventLog()}), forbidden.handler());
    ASSERT_EQ(forbidden.count(), 1u);
    auto outcome = forbidden.wait();
    EXPECT_EQ(outcome->callId, "batch-8");
    EXPECT_EQ(outcome->error->code, 3);
    EXPECT_TRUE(logs.contains("DIZDudIzizozIngestion is disabled."));

    DIZDudIzizozUserDefaults::shared()->setObject(Value(true), "NetworkRequestsAllowed");
    DIZSendRecorder allowed;
    ingestion->sendAsync(container("batch-9", {eventLog()}), allowed.handler());
    ASSERT_TRUE(allowed.wait());
    auto requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("\"logs\""), std::string::npos);
}

TEST_F(DIZIngestionsTest, DidOzodozudaSendsOneLinePerLogWithDistinctTokensAndCachedTickets) {
    auto ingestion = didOzodozuda();
    EXPECT_TRUE(ingestion->isReadyToSend());
    std::vector<std::shared_ptr<DIZLog>> logsOfBatch = {
        coreSchemaLog(kTokenA), coreSchemaLog(kTokenB, {{"k1", "k2"}}), coreSchemaLog(kTokenA)};
    DIZSendRecorder first;
    ingestion->sendAsync(container("batch-10", logsOfBatch), first.handler());
    auto outcome = first.wait();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->callId, "batch-10");

    DIZTicketCache::sharedInstance()->setTicket("d:ticket-secret-one", "k1");
    DIZSendRecorder second;
    ingestion->sendAsync(container("batch-11", logsOfBatch), second.handler());
    ASSERT_TRUE(second.wait());

    auto requests = server.received();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.target, "/DidOzodozuda/1.0");
        EXPECT_EQ(request.header("Content-Type"), "application/x-json-stream; charset=utf-8");
        EXPECT_EQ(request.header("Client-Version"),
                  "DIZ-iOS-ObjectiveC-no-" + DIZUtility::sdkVersion() + "-no");
        EXPECT_EQ(split(request.header("apikey"), ','), (std::set<std::string>{kTokenA, kTokenB}));
        EXPECT_EQ(request.header("apikey").size(), kTokenA.size() + 1 + kTokenB.size());
        EXPECT_EQ(request.header("Upload-Time"), "1767225600250");

        std::string lines;
        for (const auto& log : logsOfBatch) lines += log->serializeLogWithPrettyPrinting(false) + "\n";
        EXPECT_EQ(request.body, lines);
        EXPECT_EQ(std::count(request.body.begin(), request.body.end(), '\n'), 3);
    }
    EXPECT_FALSE(requests[0].hasHeader("Tickets"));
    EXPECT_EQ(requests[1].header("Tickets"), R"({"k1":"d:ticket-secret-one"})");

    const std::string maskedTokens =
        std::string(kTokenA.size() - 8, '*') + kTokenA.substr(kTokenA.size() - 8) + "," +
        std::string(kTokenB.size() - 8, '*') + kTokenB.substr(kTokenB.size() - 8);
    EXPECT_NE(allLogText().find("apikey = " + maskedTokens), std::string::npos);
    EXPECT_NE(allLogText().find(R"(Tickets = {"k1":"d:***"})"), std::string::npos);
    for (const auto& secret : {kTokenA, kTokenB, std::string("ticket-secret-one")})
        EXPECT_EQ(allLogText().find(secret), std::string::npos) << secret;
}

TEST_F(DIZIngestionsTest, LongTokenInAVerboseAnswerIsMaskedInTheLog) {
    const std::string token(100 * 1024, 't');
    server.script("/DidOzodozuda/1.0", {{200, {}, R"({"token":")" + token + R"("})"}});
    DIZSendRecorder recorder;
    didOzodozuda()->sendAsync(container("batch-1", {coreSchemaLog(kTokenA)}), recorder.handler());
    ASSERT_TRUE(recorder.wait());
    const std::string text = allLogText();
    EXPECT_NE(text.find(R"("token" : "***")"), std::string::npos);
    EXPECT_EQ(text.find("tttttttt"), std::string::npos);
}

TEST(DIZDidOzodozudaMaskingTest, TokenValuesInAnswersAndTicketValuesAreMasked) {
    auto ingestion = DIZDidOzodozudaIngestion::make(DIZHttpClient::make(), "http://127.0.0.1");
    struct Case {
        std::string text, masked;
    } answers[] = {
        {R"({"token":"abc"})", R"({"token" : "***"})"},
        {"{\"TOKEN\" \n:\t \"abc\", \"other\":\"x\"}", R"({"token" : "***", "other":"x"})"},
        {R"([{"token": "a"},{"token" :"b"}])", R"([{"token" : "***"},{"token" : "***"}])"},
        {R"({"token":""})", R"({"token":""})"},
        {R"({"tokens":"abc"})", R"({"tokens":"abc"})"},
    };
    for (const auto& c : answers) EXPECT_EQ(ingestion->obfuscateResponsePayload(c.text), c.masked) << c.text;

    EXPECT_EQ(DIZDidOzodozudaIngestion::obfuscateTickets(R"({"k1":"d:tok:en","k2":"plain","k3":"p:x"})"),
              R"({"k1":"d:***","k2":"plain","k3":"p:***"})");
    EXPECT_EQ(DIZDidOzodozudaIngestion::obfuscateTargetTokens("123456789,short,"), "*23456789,*****,");
}

}  // namespace
