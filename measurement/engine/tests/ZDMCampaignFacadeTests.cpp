// Campaigns over the facade and the shared engine it starts: links handed to the facade and the
// search-ad answer end as stored campaign events.
#include <gtest/gtest.h>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMSearchAdReporter.h"
#include "measurement/engine/tests/CampaignFixture.h"
#include "platform/adservices/AAAttribution.h"
#include "platform/foundation/NSUserActivity.h"

namespace {

class CampaignsThroughTheFacade : public CampaignFixture {
  protected:
    ~CampaignsThroughTheFacade() override {
        settle();
        ZDMAnalytics::resetForTesting();
        for (const char* name : {"ZUDADatabase", "VUZArezivodo", "ZTMManager"})
            Runtime::unregisterClass(name);
        AAAttribution::unregisterClass();
    }
    static std::shared_ptr<ZDMMeasurement> startedFacade() {
        ZDMAnalytics::startWithAppID(kAppID, "za", {});
        settle();
        return ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
    }
};

TEST_F(CampaignsThroughTheFacade, AnOpenedURLAndABrowsingActivityBecomeCampaignEvents) {
    const auto engine = startedFacade();
    ASSERT_TRUE(engine);
    ZDMAnalytics::handleOpenURL("quorvane://spaces?utm_source=news&utm_medium=mail");
    ZDMAnalytics::handleUserActivity(Value(std::make_shared<const NSUserActivity>(
        NSUserActivityTypeBrowsingWeb,
        URL::URLWithString("https://quorvane.example/spaces?utm_campaign=spring"))));
    ZDMAnalytics::handleOpenURL("not a url?utm_source=news");
    settle();
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(plainParameters(*events[0]),
              (std::map<std::string, Value>{{"source", Value("news")}, {"medium", Value("mail")}}));
    EXPECT_EQ(plainParameters(*events[1]), (std::map<std::string, Value>{{"campaign", Value("spring")}}));
}

TEST_F(CampaignsThroughTheFacade, AnAttributedSearchAdInstallStoresItsCampaignEvent) {
    AAAttribution::registerClass([](Error*) { return std::optional<std::string>("token"); });
    server_.script("/api/v1/", {{200, {}, R"({"attribution": true, "campaignId": "12", "keywordId": 34})"}});
    const auto engine = startedFacade();
    ASSERT_TRUE(engine);
    ASSERT_TRUE(server_.waitForRequests("/api/v1/", 1));
    ASSERT_TRUE(eventually([&] {
        settle();
        return !storedEvents(*engine).empty();
    })) << "codes logged: "
        << testing::PrintToString(loggedCodes());
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->name(), "_cmp");
    // The install's first open, reported at the start, dates the click.
    const int64_t firstOpenMillis = ZDMPersistedConfig::sharedInstance()->firstOpenTimestampMilliseconds();
    ASSERT_GT(firstOpenMillis, 1);
    EXPECT_EQ(plainParameters(*events[0]),
              (std::map<std::string, Value>{{"source", Value("Apple")},
                                            {"medium", Value("search")},
                                            {"campaign", Value("12")},
                                            {"term", Value("34")},
                                            {"click_timestamp", Value(firstOpenMillis - 1)}}));
}

}  // namespace
