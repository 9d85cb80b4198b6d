#pragma once
// The platform's application life-cycle notification names, for code that observes them without
// including the application framework.
#include <string>

std::string ZDMAppDidBecomeActiveNotificationName();
std::string ZDMAppDidFinishLaunchingNotificationName();
std::string ZDMAppWillResignActiveNotificationName();
std::string ZDMWindowDidResignKeyNotificationName();
// Nothing to link on this platform: the names above are plain constants.
void ZDMLinkNotificationNames();
