#include <gtest/gtest.h>

#include "DudIzizozAnalytics/DIZAnalyticsCategory.h"
#include "DudIzizozAnalytics/tests/DIZClientTesting.h"
#include "platform/appkit/NSTabViewController.h"
#include "platform/appkit/NSWindow.h"

namespace quorvane {
class AdvancedViewController : public NSViewController {};
class ViewController : public NSViewController {};
class FirstViewController : public NSViewController {};
class SecondViewController : public NSViewController {};
}  // namespace quorvane

namespace {

class DIZAnalyticsCategoryTest : public DIZClientTest {
  protected:
    void SetUp() override {
        DIZAnalyticsCategory::activateCategory();
        DIZAnalyticsCategory::activateCategory();  // a second activation installs nothing more
        startBoth();
        DIZAnalytics::setAutoPageTrackingEnabled(true);
    }

    // Shows `controller` in a window of its own, which makes it (and what it shows) appear.
    void show(const std::shared_ptr<NSViewController>& controller) {
        auto window = std::make_shared<NSWindow>(CGRect{0, 0, 400, 300}, NSWindowStyleMaskTitled,
                                                 NSBackingStoreType::Buffered, false);
        window->setContentViewController(controller);
        window->orderFront(nullptr);
        windows.push_back(window);
    }
    static std::vector<std::string> pages() {
        settle();
        std::vector<std::string> names;
        for (const auto& page : storedLogsOf<DIZPageLog>("Analytics"))
            names.push_back(page->name().value_or(""));
        return names;
    }

    std::vector<std::shared_ptr<NSWindow>> windows;
};

}  // namespace

TEST(DIZAnalyticsCategory, NamesPagesAfterTheControllerClass) {
    struct Case {
        const char* className;
        std::optional<std::string> page;
    } cases[] = {{"quorvane.AdvancedViewController", "Advanced"},
                 {"quorvane.ViewController", "ViewController"},
                 {"ViewController", "ViewController"},
                 {"Settings", "Settings"},
                 {"a.b.PreferencesViewController", "Preferences"},
                 {"NSTabViewController", std::nullopt},
                 {"NSSplitViewController", std::nullopt},
                 {"NSPageController", std::nullopt},
                 {"quorvane.NSTabViewController", "NSTab"}};
    for (const auto& c : cases)
        EXPECT_EQ(DIZAnalyticsCategory::pageNameForClassName(c.className), c.page) << c.className;
}

TEST_F(DIZAnalyticsCategoryTest, RecordsAppearingControllersButNotTheirTabContainer) {
    show(std::make_shared<quorvane::AdvancedViewController>());
    show(std::make_shared<quorvane::ViewController>());
    auto tabs = std::make_shared<NSTabViewController>();
    tabs->addTabViewItem(std::make_shared<quorvane::FirstViewController>());
    tabs->addTabViewItem(std::make_shared<quorvane::SecondViewController>());
    show(tabs);
    tabs->setSelectedTabViewItemIndex(1);
    EXPECT_EQ(pages(), (std::vector<std::string>{"Advanced", "ViewController", "First", "Second"}));
}

TEST_F(DIZAnalyticsCategoryTest, WithTrackingOffAppearancesAreOnlyForwarded) {
    DIZAnalytics::setAutoPageTrackingEnabled(false);
    show(std::make_shared<quorvane::AdvancedViewController>());
    EXPECT_EQ(pages(), std::vector<std::string>{});
}

TEST_F(DIZAnalyticsCategoryTest, TheLastPageMissedWhileDisabledIsRecordedOnceOnEnabling) {
    DIZAnalytics::sharedInstance()->setEnabled(false);
    show(std::make_shared<quorvane::FirstViewController>());
    show(std::make_shared<quorvane::SecondViewController>());
    EXPECT_EQ(DIZAnalyticsCategory::missedPageViewName(), "Second");

    DIZAnalytics::sharedInstance()->setEnabled(true);
    RunLoop::runUntilIdle();
    RunLoop::runUntilIdle();
    EXPECT_EQ(pages(), std::vector<std::string>{"Second"});

    show(std::make_shared<quorvane::AdvancedViewController>());
    EXPECT_EQ(DIZAnalyticsCategory::missedPageViewName(), std::nullopt)
        << "cleared by the next recorded page";
}
