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
    std::vector<NotificationCenter::Token> tokens;
    for (const char* name :
         {NSApplicationWillBecomeActiveNotification, NSApplicationDidBecomeActiveNotification,
          NSApplicationWillResignActiveNotification, NSApplicationDidResignActiveNotification})
        tokens.push_back(center.addObserver(name, record));

    app->deactivate();
    EXPECT_TRUE(posted.empty()) << "an inactive application resigns nothing";
    app->activateIgnoringOtherApps(true);
    app->activateIgnoringOtherApps(true);
    EXPECT_TRUE(app->isActive());
    app->deactivate();
    EXPECT_FALSE(app->isActive());
    app->activateIgnoringOtherApps(true);
    EXPECT_EQ(posted,
              (std::vector<std::string>{
                  NSApplicationWillBecomeActiveNotification, NSApplicationDidBecomeActiveNotification,
                  NSApplicationWillResignActiveNotification, NSApplicationDidResignActiveNotification,
                  NSApplicationWillBecomeActiveNotification, NSApplicationDidBecomeActiveNotification}));
    resetAllForTesting();
}

}  // namespace
