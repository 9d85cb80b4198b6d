#include "measurement/foundation/ZDMNotificationNames.h"

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSWindow.h"

std::string ZDMAppDidBecomeActiveNotificationName() {
    return NSApplicationDidBecomeActiveNotification;
}

std::string ZDMAppDidFinishLaunchingNotificationName() {
    return NSApplicationDidFinishLaunchingNotification;
}

std::string ZDMAppWillResignActiveNotificationName() {
    return NSApplicationWillResignActiveNotification;
}

std::string ZDMWindowDidResignKeyNotificationName() {
    return NSWindowDidResignKeyNotification;
}

void ZDMLinkNotificationNames() {}
