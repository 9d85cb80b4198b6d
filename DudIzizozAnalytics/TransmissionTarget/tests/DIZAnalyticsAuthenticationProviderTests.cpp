#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/Ingestion/DIZDidOzodozudaIngestion.h"
#include "DudIzizoz/Internals/Ingestion/DIZTicketCache.h"
#include "DudIzizoz/Internals/Ingestion/tests/DIZIngestionTesting.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozAnalytics/TransmissionTarget/DIZAnalyticsAuthenticationProvider.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"

namespace {

const std::string kTicketKey = "host-ticket-key";
// SHA-256 of kTicketKey, worked out apart from the code under test.
const std::string kTicketKeyHash = "0735e46fd618f13aea6bb77689bc27603fc13a5b3aadd93ed11e873160580299";
const std::string kToken = "a1b2c3d4e5f6-0718-token-alpha";

// A host that keeps every completion handler it is given and answers when the test says.
class RecordingDelegate : public DIZAnalyticsAuthenticationProviderDelegate {
  public:
    void authenticationProvider(const std::shared_ptr<DIZAnalyticsAuthenticationProvider>&,
                                DIZAcquireTokenCompletionBlock completionHandler) override {
        std::lock_guard lock(mutex_);
        handlers_.push_back(std::move(completionHandler));
    }
    size_t calls() {
        std::lock_guard lock(mutex_);
        return handlers_.size();
    }
    DIZAcquireTokenCompletionBlock handler(size_t index) {
        std::lock_guard lock(mutex_);
        return handlers_.at(index);
    }

  private:
    std::mutex mutex_;
    std::vector<DIZAcquireTokenCompletionBlock> handlers_;
};

// A host that answers at once, on the thread that asks.
class ImmediateDelegate : public DIZAnalyticsAuthenticationProviderDelegate {
  public:
    void authenticationProvider(const std::shared_ptr<DIZAnalyticsAuthenticationProvider>&,
                                DIZAcquireTokenCompletionBlock completionHandler) override {
        ++calls;
        completionHandler("token-" + std::to_string(calls), Date::now().addingTimeInterval(60));
    }
    int calls = 0;
};

class DIZAnalyticsAuthenticationProviderTest : public ::testing::Test {
  protected:
    void TearDown() override { DIZTicketCache::sharedInstance()->clearCache(); }

    std::shared_ptr<DIZAnalyticsAuthenticationProvider> provider(
        DIZAnalyticsAuthenticationType type = DIZAnalyticsAuthenticationType::Delegated) {
        return DIZAnalyticsAuthenticationProvider::initWithAuthenticationType(type, kTicketKey, delegate);
    }
    std::optional<std::string> cachedTicket() {
        return DIZTicketCache::sharedInstance()->ticketFor(kTicketKeyHash);
    }

    DIZLogCapture logs;
    ScopedManualClock clock{1767225600.25};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

}  // namespace

TEST_F(DIZAnalyticsAuthenticationProviderTest, AsksAgainOnlyWithinTheRefreshMarginInWholeSeconds) {
    struct Case {
        double expiresIn;  // from a clock at .25 s: 600.7 s ends in the same whole second as 600
        size_t requestsAfterCheck;
    } cases[] = {{601, 1}, {600.7, 2}, {600, 2}, {1, 2}, {-5, 2}};
    for (const auto& c : cases) {
        delegate = std::make_shared<RecordingDelegate>();
        auto subject = provider();
        subject->acquireTokenAsync();
        ASSERT_EQ(delegate->calls(), 1u);
        delegate->handler(0)(kToken, Date::now().addingTimeInterval(c.expiresIn));
        subject->checkTokenExpiry();
        EXPECT_EQ(delegate->calls(), c.requestsAfterCheck) << "expiring in " << c.expiresIn << " s";
    }
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, OneRequestIsInFlightAtATime) {
    auto subject = provider();
    subject->checkTokenExpiry();
    EXPECT_EQ(delegate->calls(), 0u) << "no token yet, so nothing expires";

    subject->acquireTokenAsync();
    delegate->handler(0)(kToken, Date::now().addingTimeInterval(30));
    subject->checkTokenExpiry();
    subject->checkTokenExpiry();
    subject->acquireTokenAsync();
    EXPECT_EQ(delegate->calls(), 2u);

    delegate->handler(1)("second", Date::now().addingTimeInterval(3600));
    EXPECT_EQ(cachedTicket(), "d:second");
    subject->checkTokenExpiry();
    EXPECT_EQ(delegate->calls(), 2u);
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, ARefusedDeliveryStoresNothingAndAllowsANewRequest) {
    struct Case {
        std::optional<std::string> token;
        std::optional<Date> expiryDate;
        const char* message;
    } cases[] = {{kToken, std::nullopt, "Date must not be null"},
                 {std::nullopt, Date::now().addingTimeInterval(3600), "Token must not be null"}};
    for (const auto& c : cases) {
        delegate = std::make_shared<RecordingDelegate>();
        auto subject = provider();
        subject->acquireTokenAsync();
        delegate->handler(0)(c.token, c.expiryDate);
        const auto* entry = logs.find(c.message);
        ASSERT_NE(entry, nullptr) << c.message;
        EXPECT_EQ(entry->level, DIZLogLevel::Error);
        EXPECT_EQ(entry->tag, "DudIzizozAnalytics");
        EXPECT_EQ(cachedTicket(), std::nullopt);
        EXPECT_EQ(subject->expiryDate(), std::nullopt);
        subject->acquireTokenAsync();
        EXPECT_EQ(delegate->calls(), 2u) << c.message;
    }
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, StoresTheTicketOfItsTypeUnderTheHashOfItsKey) {
    struct Case {
        DIZAnalyticsAuthenticationType type;
        std::optional<std::string> ticket;
    } cases[] = {{DIZAnalyticsAuthenticationType::Personal, "p:" + kToken},
                 {DIZAnalyticsAuthenticationType::Delegated, "d:" + kToken},
                 {static_cast<DIZAnalyticsAuthenticationType>(2), std::nullopt}};
    for (const auto& c : cases) {
        DIZTicketCache::sharedInstance()->clearCache();
        auto subject = provider(c.type);
        EXPECT_EQ(subject->ticketKeyHash(), kTicketKeyHash);
        delegate = std::make_shared<RecordingDelegate>();
        subject = provider(c.type);
        subject->acquireTokenAsync();
        Date expiry = Date::now().addingTimeInterval(3600);
        delegate->handler(0)(kToken, expiry);
        EXPECT_EQ(cachedTicket(), c.ticket);
        EXPECT_EQ(subject->expiryDate(), c.ticket ? std::optional(expiry) : std::nullopt);
    }
    const auto* refusal = logs.find("Authentication type 2 has no ticket prefix; the token is not stored.");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->level, DIZLogLevel::Error);
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, AnAnsweredHandlerCalledAgainChangesNothing) {
    auto subject = provider();
    subject->acquireTokenAsync();
    auto first = delegate->handler(0);
    first("one", Date::now().addingTimeInterval(30));
    first("late", Date::now().addingTimeInterval(7200));
    EXPECT_EQ(cachedTicket(), "d:one");

    subject->checkTokenExpiry();
    ASSERT_EQ(delegate->calls(), 2u);
    first("stale", Date::now().addingTimeInterval(7200));
    EXPECT_EQ(cachedTicket(), "d:one") << "the old handler does not answer the new request";
    delegate->handler(1)("two", Date::now().addingTimeInterval(7200));
    EXPECT_EQ(cachedTicket(), "d:two");
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, AHostThatAnswersAtOnceIsAskedOutsideTheLock) {
    auto immediate = std::make_shared<ImmediateDelegate>();
    auto subject = DIZAnalyticsAuthenticationProvider::initWithAuthenticationType(
        DIZAnalyticsAuthenticationType::Personal, kTicketKey, immediate);
    subject->acquireTokenAsync();
    subject->checkTokenExpiry();
    EXPECT_EQ(immediate->calls, 2);
    EXPECT_EQ(cachedTicket(), "p:token-2");
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, WithoutADelegateLogsAndAsksNobody) {
    auto subject = provider();
    delegate.reset();
    subject->acquireTokenAsync();
    const auto* entry = logs.find("No completionhandler to acquire token has been set.");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->level, DIZLogLevel::Error);
}

TEST_F(DIZAnalyticsAuthenticationProviderTest, TheNextDidOzodozudaRequestCarriesTheTicket) {
    TestHome home{DIZHostBundle()};
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server;
    auto client = DIZHttpClient::make();

    auto subject = provider(DIZAnalyticsAuthenticationType::Delegated);
    subject->acquireTokenAsync();
    delegate->handler(0)(kToken, Date::now().addingTimeInterval(3600));

    const std::string targetToken = "f6e5d4c3b2a1-0718-token-bravo";
    auto log = std::make_shared<DIZCoreSchemaLog>();
    log->setVer("3.0");
    log->setName("quorvane.cycled");
    log->setTimestamp(Date::now());
    log->setIKey(DIZUtility::iKeyFromTargetToken(targetToken));
    log->addTransmissionTargetToken(targetToken);
    auto protocol = std::make_shared<DIZProtocolExtension>();
    protocol->setTicketKeys(std::vector<std::string>{*subject->ticketKeyHash()});
    auto ext = std::make_shared<DIZCSExtensions>();
    ext->setProtocolExt(protocol);
    log->setExt(ext);

    DIZSendRecorder recorder;
    DIZDidOzodozudaIngestion::make(client, server.url())
        ->sendAsync(std::make_shared<DIZLogContainer>("batch-1", std::vector<std::shared_ptr<DIZLog>>{log}),
                    recorder.handler());
    ASSERT_TRUE(recorder.wait());
    auto requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Tickets"), "{\"" + kTicketKeyHash + "\":\"d:" + kToken + "\"}");
    client.reset();
    RunLoop::runUntilIdle();
}
