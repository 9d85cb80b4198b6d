#include "measurement/engine/ZDMDeepLink.h"

#include <cmath>

#include "measurement/foundation/ZDMConfigStore.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/dispatch/Clock.h"

void ZDMStoreDeepLink(ZDMConfigStore& store, const std::string& url) {
    store.setObject(Value(url), kZDMDeepLinkKey);
    store.setDouble(Clock::current().now(), kZDMDeepLinkTimestampKey);
}

void ZDMRemoveStoredDeepLink(ZDMConfigStore& store) {
    store.removeObjectForKey(kZDMDeepLinkKey);
    store.removeObjectForKey(kZDMDeepLinkTimestampKey);
}

bool ZDMHasStoredDeepLink(ZDMConfigStore& store) {
    const auto link = store.objectForKey(kZDMDeepLinkKey);
    const auto timestamp = store.objectForKey(kZDMDeepLinkTimestampKey);
    return link && link->asString() && timestamp && timestamp->isNumber();
}

bool ZDMIsStoredDeepLinkOlderThan(ZDMConfigStore& store, double seconds) {
    const auto timestamp = store.objectForKey(kZDMDeepLinkTimestampKey);
    if (!timestamp || !timestamp->isNumber()) return false;
    return std::fabs(Clock::current().now() - timestamp->realOr(0)) > seconds;
}

bool ZDMRemoveStoredDeepLinkIfExpired(ZDMRemoteConfig& remoteConfig) {
    auto store = ZDMUserDefaults::standardUserDefaults();
    if (!ZDMIsStoredDeepLinkOlderThan(*store, remoteConfig.attributionCacheTTLInterval())) return false;
    ZDMRemoveStoredDeepLink(*store);
    return true;
}

int64_t ZDMHourStartBeforeMillis(int64_t millis) {
    constexpr int64_t kHour = 3600000;
    return millis / kHour * kHour - kHour;
}
