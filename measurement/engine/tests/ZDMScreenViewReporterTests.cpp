#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "measurement/engine/ZDMAdExposureReporter.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/tests/ForegroundFixture.h"
#include "measurement/foundation/ZDMEvent.h"

namespace {

Dictionary screen(std::optional<std::string> name, std::optional<std::string> screenClass,
                  Dictionary extra = {}) {
    if (name) extra.set("screen_name", Value(*name));
    if (screenClass) extra.set("screen_class", Value(*screenClass));
    return extra;
}

TEST(Screen, ACopyCarriesNameClassAndInstanceOnly) {
    auto original = ZDMScreen::initWithName("Spaces", "SpacesPane", 42);
    original->setIsManuallyTracked(true);
    original->setIsManuallySet(true);
    original->setEventTimestamp(1767225600);
    const auto copy = original->copy();
    EXPECT_EQ(copy->name(), "Spaces");
    EXPECT_EQ(copy->className(), "SpacesPane");
    EXPECT_EQ(copy->instanceID(), 42);
    EXPECT_FALSE(copy->isManuallyTracked());
    EXPECT_FALSE(copy->isManuallySet());
    EXPECT_EQ(copy->eventTimestamp(), 0);
}

class ScreenViews : public ForegroundFixture {};

TEST_F(ScreenViews, AScreenViewBeforeTheFirstActivationIsTheApps) {
    const double at = clock_->now() - 3;
    reporter_->trackScreenWithParameters(screen("Spaces", "SpacesPane", {{"pane", Value("left")}}), at);
    settle();
    const auto views = stored("_vs");
    ASSERT_EQ(views.size(), 1u);
    const auto current = reporter_->currentScreen();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(views[0].timestamp, at) << "its own time, not the time it was stored";
    EXPECT_EQ(views[0].origin, "app");
    EXPECT_EQ(views[0].integer("_si"), current->instanceID());
    EXPECT_EQ(views[0].text("_sc"), "SpacesPane");
    EXPECT_EQ(views[0].text("_sn"), "Spaces");
    EXPECT_EQ(views[0].integer("_mst"), 1);
    EXPECT_EQ(views[0].text("pane"), "left") << "the app's own parameters go along";
    EXPECT_FALSE(views[0].has("screen_name"));
    EXPECT_FALSE(views[0].has("screen_class"));
    EXPECT_FALSE(views[0].has("_pi"));
}

TEST_F(ScreenViews, ScreensCarryWhatTheyHaveAndTheNextOneCarriesThePrevious) {
    activate();
    screenView(screen(std::nullopt, "GeneralPane"));
    screenView(screen("Spaces", "SpacesPane"));
    const auto views = stored("_vs");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].text("_sc"), "GeneralPane");
    EXPECT_FALSE(views[0].has("_sn"));
    EXPECT_EQ(countOf(31014), 0);

    ASSERT_TRUE(views[0].integer("_si"));
    EXPECT_EQ(views[1].integer("_si"), *views[0].integer("_si") + 1);
    EXPECT_EQ(views[1].integer("_pi"), views[0].integer("_si"));
    EXPECT_EQ(views[1].text("_pc"), "GeneralPane");
    EXPECT_FALSE(views[1].has("_pn"));
    EXPECT_EQ(views[1].text("_pn"), std::nullopt);

    screenView(screen("About", std::nullopt));
    const auto third = stored("_vs").back();
    EXPECT_EQ(third.text("_sn"), "About");
    EXPECT_FALSE(third.has("_sc"));
    EXPECT_EQ(countOf(31014), 1) << "a screen without a class is logged";
    EXPECT_EQ(third.text("_pn"), "Spaces");
    EXPECT_EQ(third.text("_pc"), "SpacesPane");
    EXPECT_EQ(reporter_->previousScreen(), reporter_->currentScreen());
}

TEST_F(ScreenViews, AnInvalidClassIsLeftOutWhenLoggedAndRefusedWhenTracked) {
    const std::string tooLong(101, 'x');
    const auto invalid = ZDMScreen::initWithName("Spaces", tooLong, 7);
    reporter_->logViewScreenEventWithPreviousScreen(nullptr, invalid, {});
    settle();
    const auto views = stored("_vs");
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].integer("_si"), 7);
    EXPECT_FALSE(views[0].has("_sc"));
    EXPECT_FALSE(views[0].has("_sn"));
    EXPECT_EQ(views[0].origin, "auto") << "not an explicit screen view";
    EXPECT_EQ(countOf(31015), 1);

    struct Case {
        Dictionary parameters;
        int64_t code;
    } refused[] = {
        {screen("Spaces", tooLong), 31028},
        {screen(tooLong, "SpacesPane"), 31027},
        {screen("Spaces", ""), 31028},
        {{{"screen_name", Value(int64_t{3})}}, 31027},
    };
    for (const auto& c : refused) {
        const int64_t before = countOf(c.code);
        screenView(c.parameters);
        EXPECT_EQ(countOf(c.code), before + 1) << c.code;
    }
    EXPECT_EQ(stored("_vs").size(), 1u);
    EXPECT_EQ(reporter_->currentScreen(), nullptr);
}

TEST_F(ScreenViews, NoScreenViewOnceTheAppWentToTheBackground) {
    activate();
    reporter_->handleApplicationDidEnterBackground({});
    EXPECT_FALSE(reporter_->isAppActive());
    screenView(screen("Spaces", "SpacesPane"));
    EXPECT_EQ(countOf(31026), 1);
    EXPECT_TRUE(stored("_vs").empty());
    EXPECT_EQ(reporter_->currentScreen(), nullptr);
    EXPECT_TRUE(reporter_->screenParameters().empty());
}

TEST_F(ScreenViews, OtherEventsTakeTheCurrentScreenUnlessTheyNameTheirOwn) {
    EXPECT_TRUE(reporter_->screenParameters().empty());
    screenView(screen("Spaces", "SpacesPane"));
    const auto parameters = reporter_->screenParameters();
    const auto current = reporter_->currentScreen();
    EXPECT_EQ(parameters["_si"].objectAs<ZDMValue>()->int64Value(), current->instanceID());
    EXPECT_EQ(parameters["_sc"].objectAs<ZDMValue>()->stringValue(), "SpacesPane");
    EXPECT_EQ(parameters["_sn"].objectAs<ZDMValue>()->stringValue(), "Spaces");

    ZDMAnalytics::logEventWithName("cycled", std::nullopt);
    ZDMAnalytics::logInternalEventWithOrigin("auto", "_e",
                                             {{"_et", Value(ZDMValue::initWithInt64(1))},
                                              {"_sn", Value(ZDMValue::initWithString(Value("Mine")))}});
    settle();
    const auto cycled = stored("cycled");
    ASSERT_EQ(cycled.size(), 1u);
    EXPECT_EQ(cycled[0].integer("_si"), current->instanceID());
    EXPECT_EQ(cycled[0].text("_sc"), "SpacesPane");
    EXPECT_EQ(cycled[0].text("_sn"), "Spaces");
    const auto own = stored("_e");
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].text("_sn"), "Mine");
    EXPECT_FALSE(own[0].has("_si")) << "an event naming its own screen takes nothing of the current one";

    std::optional<std::string> name, screenClass;
    reporter_->getScreenName(&name, &screenClass);
    EXPECT_EQ(name, "Spaces");
    EXPECT_EQ(screenClass, "SpacesPane");
}

TEST_F(ScreenViews, EfficientEngagementGoesWithTheNextScreenView) {
    setting("measurement.collection.efficient_engagement_reporting_enabled", "1");
    activate();
    screenView(screen("Spaces", "SpacesPane"));
    clock_->advance(5);
    screenView(screen("General", "GeneralPane"));
    const auto views = stored("_vs");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_FALSE(views[0].has("_et"));
    EXPECT_EQ(views[1].integer("_et"), 5000);
    const auto engagement = stored("_e");
    ASSERT_EQ(engagement.size(), 1u) << "the previous screen's engagement, marked as covered";
    EXPECT_EQ(engagement[0].integer("_fr"), 1);
    EXPECT_EQ(engagement[0].text("_sn"), "Spaces");
}

TEST_F(ScreenViews, ScreenNamesCannotBeSetDirectly) {
    reporter_->setScreenName("Spaces", "SpacesPane");
    EXPECT_EQ(countOf(31000), 1);
    EXPECT_EQ(reporter_->currentScreen(), nullptr);
}

TEST_F(ScreenViews, InstanceNumbersAreUniqueAcrossThreads) {
    std::vector<std::vector<int64_t>> taken(4);
    std::vector<std::thread> threads;
    for (auto& numbers : taken)
        threads.emplace_back([&numbers, this] {
            for (int i = 0; i < 1000; ++i) numbers.push_back(reporter_->incrementScreenInstanceID());
        });
    for (auto& thread : threads) thread.join();
    std::set<int64_t> distinct;
    for (const auto& numbers : taken) distinct.insert(numbers.begin(), numbers.end());
    EXPECT_EQ(distinct.size(), 4000u);
}

TEST_F(ScreenViews, ResigningKeepsTheAppActiveForScreens) {
    activate();
    deactivate();
    EXPECT_TRUE(reporter_->isAppActive());
    screenView(screen("Spaces", "SpacesPane"));
    EXPECT_EQ(stored("_vs").size(), 1u);
}

// The ad exposure reporter hears of screen changes and of resignation through here: each cut
// carries the screen the time was spent on.
TEST_F(ScreenViews, AdExposureIsCutAtAScreenChangeAndAtResignation) {
    activate();
    screenView(Dictionary{{"screen_name", Value("First")}});
    ZDMAdExposureReporter::sharedInstance()->beginAdUnitExposure("A");
    clock_->advance(2);
    screenView(Dictionary{{"screen_name", Value("Second")}});
    auto units = stored("_xu");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].origin, "am");
    EXPECT_EQ(units[0].text("_sn"), "First");
    EXPECT_EQ(units[0].integer("_xt"), 2000);
    EXPECT_EQ(stored("_xa").size(), 1u);
    clock_->advance(3);
    deactivate();
    units = stored("_xu");
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1].text("_sn"), "Second");
    EXPECT_EQ(units[1].integer("_xt"), 3000);
}

}  // namespace
