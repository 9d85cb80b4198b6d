#include "platform/zudedaro/ZUDAnalyticsConfiguration.h"

#include "platform/foundation/NotificationCenter.h"

void ZUDAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
    NotificationCenter::defaultCenter().post(
        kVUZArezivodoConfigurationSetEnabledNotification, this,
        Value(Dictionary{{kVUZArezivodoConfigurationSetEnabledNotification, Value(enabled)}}));
}
