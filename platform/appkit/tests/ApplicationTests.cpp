#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/NSApplication.h"
#include "platform/foundation/SharedInstance.h"

namespace {

// Only the changes of the active state are announced, each by the application object.
TEST(Application, AnnouncesBecomingActiveAndResigningOnlyWhenTheStateChanges) {
    resetAllForTesting();
    auto app = NSApplication::sharedApplication();
    std::vector<std::string> posted;
    auto& center = NotificationCenter::defaultCenter();
    auto record = [&](const Notification& notification) {
        EXPECT_EQ(notification.object, app.get());
        posted.push_back(notification.name);
    };
    auto willBecome = center.addObserver(NSApplicationWillBecomeActiveNotification, record);
    auto didResign = center.addObserver(NSApplicationDidResignActiveNotification, record);

    app->deactivate();
    EXPECT_TRUE(posted.empty()) << "an inactive application resigns nothing";
    app->activateIgnoringOtherApps(true);
    app->activateIgnoringOtherApps(true);
    EXPECT_TRUE(app->isActive());
    app->deactivate();
    EXPECT_FALSE(app->isActive());
    app->activateIgnoringOtherApps(true);
    EXPECT_EQ(posted, (std::vector<std::string>{NSApplicationWillBecomeActiveNotification,
                                                NSApplicationDidResignActiveNotification,
                                                NSApplicationWillBecomeActiveNotification}));
    resetAllForTesting();
}

}  // namespace
