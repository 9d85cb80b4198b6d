#include <gtest/gtest.h>

#include "measurement/engine/LoggedAnalyticsModifier.h"
#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/tests/ForegroundFixture.h"
#include "platform/foundation/Runtime.h"
#include "platform/swiftui/testing/HostingView.h"
#include "platform/zudedaro/ZUDApp.h"

namespace {

class SpacesPane : public View {};

// The app's views report through the analytics interface, once the core library is configured.
class LoggedScreens : public ForegroundFixture {
  protected:
    LoggedScreens() { ZUDApp::configureWithOptions(ZUDOptions{kEngineTestAppID}); }
    ~LoggedScreens() override { Runtime::unregisterClass(VUZArezivodo::kClassName); }
};

TEST_F(LoggedScreens, EachAppearanceLogsTheScreenOverTheExtraParameters) {
    const auto view = loggedAnalyticsScreen(*std::make_shared<SpacesPane>(), "Spaces", "SpacesPane",
                                            {{"screen_name", Value("extra name")},
                                             {"screen_class", Value("ExtraClass")},
                                             {"pane", Value("left")}});
    HostingView host(view);
    host.appear();
    settle();
    host.disappear();
    settle();
    EXPECT_EQ(stored("_vs").size(), 1u) << "nothing on disappearing";
    host.appear();
    settle();

    const auto views = stored("_vs");
    ASSERT_EQ(views.size(), 2u);
    for (const auto& screenView : views) {
        EXPECT_EQ(screenView.origin, "app");
        EXPECT_EQ(screenView.text("_sn"), "Spaces");
        EXPECT_EQ(screenView.text("_sc"), "SpacesPane");
        EXPECT_EQ(screenView.text("pane"), "left");
    }
    EXPECT_EQ(views[1].integer("_pi"), views[0].integer("_si"));
}

TEST_F(LoggedScreens, EmptyNamesAreTheReportersToRefuse) {
    HostingView(loggedAnalyticsScreen(*std::make_shared<SpacesPane>(), "", "")).appear();
    settle();
    EXPECT_EQ(countOf(31027), 1);
    EXPECT_TRUE(stored("_vs").empty());
}

TEST(LoggedAnalyticsModifier, CopiesAreIndependentValues) {
    const LoggedAnalyticsModifier original("Spaces", "SpacesPane", {{"pane", Value("left")}});
    LoggedAnalyticsModifier copy = original;
    copy.screenName = "General";
    copy.extraParameters.set("pane", Value("right"));
    EXPECT_EQ(original.screenName, "Spaces");
    EXPECT_EQ(original.extraParameters["pane"], Value("left"));
}

}  // namespace
