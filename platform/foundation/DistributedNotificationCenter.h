#pragma once
// Notifications that the system posts to every process, such as a change of the selected keyboard
// input source. One process stands for the whole session here, so this is one more center beside
// the default one, delivered the same way.
#include "platform/foundation/NotificationCenter.h"

class DistributedNotificationCenter {
  public:
    static NotificationCenter& defaultCenter();
};
