#include <gtest/gtest.h>

#include "measurement/engine/ZDMSearchAdReporter.h"
#include "measurement/engine/tests/CampaignFixture.h"
#include "platform/adservices/AAAttribution.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {

constexpr const char* kAttributionPath = "/api/v1/";
constexpr const char* kToken = "token-bytes-0123";

struct LoggedEvent {
    std::string origin;
    std::string name;
    Dictionary parameters;
    std::string queueLabel;  // where it was logged from
};

class SearchAds : public CampaignFixture {
  protected:
    SearchAds() {
        AAAttribution::registerClass([](Error*) { return std::optional<std::string>(kToken); });
    }
    ~SearchAds() override {
        if (reporter_) onQueue([&] { reporter_.reset(); });
        AAAttribution::unregisterClass();
    }

    // A started reporter over a configuration of its own, as the engine makes it.
    std::shared_ptr<ZDMSearchAdReporter> startedReporter() {
        onQueue([&] {
            reporter_ = ZDMSearchAdReporter::initWithWorkerQueue(queue_, config_);
            if (!reporter_) return;
            reporter_->setSearchAdReporterEnabled(true);
            reporter_->start();
        });
        return reporter_;
    }
    void onQueue(const std::function<void()>& block) { queue_->sync(block); }
    std::vector<LoggedEvent> campaignEvents() {
        std::lock_guard lock(eventsMutex_);
        return events_;
    }
    std::optional<double> nextAttempt() {
        std::optional<double> at;
        onQueue([&] {
            const auto& alarm = reporter_->searchAdReporterAlarm();
            if (alarm && alarm->scheduledTimestamp())
                at = alarm->scheduledTimestamp()->timeIntervalSince1970();
        });
        return at;
    }

    std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::serial(ZDMScheduler::kWorkerQueueLabel);
    std::shared_ptr<ZDMPersistedConfig> config_ = ZDMPersistedConfig::make("com.example.search-ads");
    std::shared_ptr<ZDMSearchAdReporter> reporter_;

  private:
    std::mutex eventsMutex_;
    std::vector<LoggedEvent> events_;
    Cancellable observer_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
            if (name != "_cmp") return;
            std::lock_guard lock(eventsMutex_);
            events_.push_back({origin, name, parameters, DispatchQueue::currentLabel()});
        });
};

TEST_F(SearchAds, AFreshInstallPostsItsTokenAtOnceAndLogsAnAttributedCampaignOnce) {
    config_->setFirstOpenTimestampMilliseconds(1000);
    server_.script(kAttributionPath,
                   {{200, {}, R"({"attribution": true, "campaignId": 12, "keywordId": 34})"}});
    startedReporter();
    ASSERT_TRUE(server_.waitForRequests(kAttributionPath, 1));
    const auto request = server_.last();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, kToken);
    EXPECT_EQ(request.header("cache-control"), "no-cache");
    EXPECT_EQ(request.header("Content-Type"), "text/plain");

    ASSERT_TRUE(eventually([&] { return campaignEvents().size() == 1; }));
    const auto event = campaignEvents().front();
    EXPECT_EQ(event.origin, "auto");
    EXPECT_EQ(event.queueLabel, ZDMScheduler::kWorkerQueueLabel)
        << "the answer is acted on on the worker queue";
    EXPECT_EQ(event.parameters, (Dictionary{{"source", Value("Apple")},
                                            {"medium", Value("search")},
                                            {"campaign", Value("12")},
                                            {"term", Value("34")},
                                            {"click_timestamp", Value(999)}}));
    EXPECT_TRUE(eventually([&] {
        bool cancelled = false;
        onQueue([&] { cancelled = !reporter_->searchAdReporterAlarm(); });
        return cancelled;
    })) << "no further attempt";
    EXPECT_EQ(config_->searchAdCampaignValue(), Value(true));
    EXPECT_EQ(config_->searchAdRetryCount(), 1);

    clock_->advance(3 * 86400);
    EXPECT_EQ(server_.count(kAttributionPath), 1u);
    EXPECT_EQ(countOf(32002), 0);
    EXPECT_EQ(ZDMSearchAdReporter::initWithWorkerQueue(queue_, config_), nullptr);
    EXPECT_EQ(countOf(32002), 1);
}

TEST_F(SearchAds, AnswersThatNameNoCampaignStoreWhatTheySayWithoutAnEvent) {
    struct Case {
        const char* answer;
        std::optional<Value> stored;
        int64_t code;
    };
    const std::vector<Case> cases = {
        {R"({"attribution": false, "campaignId": 12})", Value(false), 0},
        {R"({"attribution": true, "adId": 1234567890, "campaignId": "1234567890"})", std::nullopt, 32016},
        {R"({})", std::nullopt, 0},
        {R"([1, 2])", std::nullopt, 0},
        {R"({"attribution": tr)", std::nullopt, 32017},
    };
    for (const auto& [answer, stored, code] : cases) {
        config_->clearValues();
        server_.script(kAttributionPath, {{200, {}, answer}});
        const auto before = code ? countOf(code) : 0;
        monitor_->clearMonitoringData();
        const size_t requests = server_.count(kAttributionPath);
        startedReporter();
        ASSERT_TRUE(server_.waitForRequests(kAttributionPath, requests + 1)) << answer;
        if (code) {
            EXPECT_TRUE(eventually([&] { return countOf(code) == before + 1; })) << answer;
        }
        if (stored) {
            EXPECT_TRUE(eventually([&] { return config_->searchAdCampaignValue() == stored; })) << answer;
        } else {
            // An answer that stores nothing finds the next attempt scheduled already.
            EXPECT_TRUE(eventually([&] {
                return lastSampledMessage() == "W:Search Ad Campaign attribution alarm is already scheduled";
            })) << answer;
            EXPECT_EQ(config_->searchAdCampaignValue(), std::nullopt) << answer;
            EXPECT_EQ(nextAttempt(), Clock::current().now() + 86400) << answer;
        }
        onQueue([&] { reporter_.reset(); });
    }
    EXPECT_TRUE(campaignEvents().empty());
}

TEST_F(SearchAds, TheTestAnswerCountsAnAttemptAndTheNextComesADayLater) {
    server_.script(kAttributionPath, {{200, {}, R"({"adId": "1234567890", "campaignId": 1234567890})"}});
    startedReporter();
    ASSERT_TRUE(server_.waitForRequests(kAttributionPath, 1));
    ASSERT_TRUE(eventually([&] { return countOf(32016) == 1; }));
    EXPECT_EQ(nextAttempt(), Clock::current().now() + 86400);

    clock_->advance(86399);
    EXPECT_EQ(server_.count(kAttributionPath), 1u);
    clock_->advance(1);
    ASSERT_TRUE(server_.waitForRequests(kAttributionPath, 2));
    EXPECT_EQ(config_->searchAdRetryCount(), 2);
}

TEST_F(SearchAds, AfterTenAttemptsNoReporterIsMadeAtTheNextStart) {
    auto config = ZDMPersistedConfig::sharedInstance();
    config->setSearchAdRetryCount(9);
    server_.script(kAttributionPath, {{200, {}, "{}"}});
    const auto engine = startedEngine();
    ASSERT_NE(engine->searchAdReporter(), nullptr);
    ASSERT_TRUE(server_.waitForRequests(kAttributionPath, 1));
    EXPECT_TRUE(eventually([&] {
        bool cancelled = false;
        onWorkerQueue(*engine, [&] { cancelled = !engine->searchAdReporter()->searchAdReporterAlarm(); });
        return cancelled;
    })) << "the tenth attempt was the last";
    EXPECT_EQ(config->searchAdRetryCount(), 10);

    EXPECT_EQ(startedEngine()->searchAdReporter(), nullptr);
    EXPECT_EQ(server_.count(kAttributionPath), 1u);
}

TEST_F(SearchAds, WithoutTheTokenSourceTheReporterStaysIdle) {
    AAAttribution::unregisterClass();
    startedReporter();
    EXPECT_EQ(countOf(32014), 1);
    EXPECT_EQ(nextAttempt(), std::nullopt);
    clock_->advance(86400);
    EXPECT_EQ(config_->searchAdRetryCount(), 0);
}

TEST_F(SearchAds, ATokenErrorOrATransportErrorCountsTheAttemptAndTriesTomorrow) {
    AAAttribution::registerClass([](Error* error) {
        *error = Error{"AAAttributionErrorDomain", 1, "no token", {}};
        return std::optional<std::string>();
    });
    startedReporter();
    EXPECT_TRUE(eventually([&] { return countOf(32018) == 1; }));
    EXPECT_EQ(config_->searchAdRetryCount(), 1);
    EXPECT_EQ(nextAttempt(), Clock::current().now() + 86400);

    AAAttribution::registerClass([](Error*) { return std::optional<std::string>(kToken); });
    server_.stop();
    clock_->advance(86400);
    EXPECT_TRUE(eventually([&] { return countOf(32015) == 1; }));
    EXPECT_EQ(config_->searchAdRetryCount(), 2);
    EXPECT_EQ(nextAttempt(), Clock::current().now() + 86400);
}

TEST_F(SearchAds, DisablingCancelsThePendingAttemptAndEnablingSchedulesItAgain) {
    config_->setLastSearchAdLookUpTimestamp(Clock::current().now() - 3600);
    startedReporter();
    EXPECT_EQ(nextAttempt(), Clock::current().now() + 86400 - 3600);
    onQueue([&] { reporter_->setSearchAdReporterEnabled(false); });
    EXPECT_EQ(nextAttempt(), std::nullopt);
    clock_->advance(86400);
    EXPECT_EQ(server_.count(kAttributionPath), 0u);
    onQueue([&] { reporter_->setSearchAdReporterEnabled(true); });
    ASSERT_TRUE(server_.waitForRequests(kAttributionPath, 1)) << "a day has passed since the last attempt";
}

}  // namespace
