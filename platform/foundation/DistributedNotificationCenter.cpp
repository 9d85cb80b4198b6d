#include "platform/foundation/DistributedNotificationCenter.h"

NotificationCenter& DistributedNotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter;  // never destroyed: observers may post during exit
    return *center;
}
