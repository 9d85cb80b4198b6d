#include <gtest/gtest.h>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSScreen.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
class Screens : public ::testing::Test {
  protected:
    Screens() { SimulatedDesktop::shared().reset(); }
    ~Screens() override {
        RunLoop::runUntilIdle();
        NSApplication::resetSharedApplication();
        SimulatedDesktop::shared().reset();
    }
};
}  // namespace

TEST_F(Screens, FramesAreInScreenCoordinatesWithTheFirstScreenAtTheOrigin) {
    EXPECT_TRUE(NSScreen::screens().empty());
    EXPECT_FALSE(NSScreen::mainScreen());

    SimulatedScreen primary;
    primary.bounds = {0, 0, 1440, 900};
    primary.insetTop = 25;
    primary.insetBottom = 70;
    SimulatedScreen above;
    above.bounds = {0, -1080, 1920, 1080};
    auto primaryID = SimulatedDesktop::shared().plugScreen(primary);
    SimulatedDesktop::shared().plugScreen(above);

    auto screens = NSScreen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->frame(), CGRect(0, 0, 1440, 900));
    EXPECT_EQ(screens[0]->visibleFrame(), CGRect(0, 70, 1440, 805));
    EXPECT_EQ(screens[0]->deviceDescription()["NSScreenNumber"], Value(primaryID));
    EXPECT_EQ(screens[1]->frame(), CGRect(0, 900, 1920, 1080));
    EXPECT_EQ(NSScreen::mainScreen()->frame(), screens[0]->frame());
}

TEST_F(Screens, PlugAndUnplugPostTheScreenParametersNotification) {
    auto app = NSApplication::sharedApplication();
    int posted = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        NSApplicationDidChangeScreenParametersNotification, [&](const Notification&) { ++posted; },
        app.get());

    SimulatedScreen screen;
    screen.bounds = {0, 0, 1440, 900};
    auto id = SimulatedDesktop::shared().plugScreen(screen);
    RunLoop::runUntilIdle();
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(SimulatedDesktop::shared().unplugScreen(id));
    EXPECT_FALSE(SimulatedDesktop::shared().unplugScreen(id));
    RunLoop::runUntilIdle();
    EXPECT_EQ(posted, 2);
    NotificationCenter::defaultCenter().removeObserver(token);
}
