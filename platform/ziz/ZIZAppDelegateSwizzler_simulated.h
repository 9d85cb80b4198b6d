#pragma once
// What tests control and see of the application-delegate proxy. resetAllForTesting() puts it back:
// proxy allowed, nothing proxied or registered.
#include <memory>
#include <vector>

#include "platform/appkit/NSApplication.h"

namespace ZIZAppDelegateSwizzlerSimulation {
struct Registration {
    std::weak_ptr<NSApplicationDelegate> interceptor;
    bool onMainThread = false;
};
void setAppDelegateProxyEnabled(bool enabled);
// How often proxyOriginalDelegate was called.
int proxyOriginalDelegateCount();
// Every registerAppDelegateInterceptor call, in order.
std::vector<Registration> registrations();
}  // namespace ZIZAppDelegateSwizzlerSimulation
