#pragma once
// The analytics configuration the core library hands the analytics library at start. A change of
// the collection switch reaches the library as a notification posted by this object, so the
// library needs no link back to the core library. It travels in the analytics start options as an
// object Value.
#include <memory>
#include <string>

#include "platform/foundation/Object.h"

inline constexpr const char* kVUZArezivodoConfigurationSetEnabledNotification =
    "VUZArezivodoConfigurationSetEnabledNotification";

class ZUDAnalyticsConfiguration : public Object {
  public:
    std::string className() const override { return "ZUDAnalyticsConfiguration"; }
    // Posts kVUZArezivodoConfigurationSetEnabledNotification on the default center, with this object
    // as sender and the switch as a number under the notification's own name.
    void setAnalyticsCollectionEnabled(bool enabled);
};
