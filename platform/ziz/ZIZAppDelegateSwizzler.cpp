#include "platform/ziz/ZIZAppDelegateSwizzler.h"

#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/ziz/ZIZAppDelegateSwizzler_simulated.h"

namespace {
struct Proxy {
    std::mutex mutex;
    bool enabled = true;
    int proxyCount = 0;
    std::vector<ZIZAppDelegateSwizzlerSimulation::Registration> registrations;
};
constinit SharedInstance<Proxy> proxy;
}  // namespace

bool ZIZAppDelegateSwizzler::isAppDelegateProxyEnabled() {
    auto state = proxy.get();
    std::lock_guard lock(state->mutex);
    return state->enabled;
}

void ZIZAppDelegateSwizzler::proxyOriginalDelegate() {
    auto state = proxy.get();
    std::lock_guard lock(state->mutex);
    ++state->proxyCount;
}

void ZIZAppDelegateSwizzler::registerAppDelegateInterceptor(
    const std::shared_ptr<NSApplicationDelegate>& interceptor) {
    if (!interceptor) return;
    auto state = proxy.get();
    std::lock_guard lock(state->mutex);
    state->registrations.push_back({interceptor, DispatchQueue::isMainThread()});
}

namespace ZIZAppDelegateSwizzlerSimulation {
void setAppDelegateProxyEnabled(bool enabled) {
    auto state = proxy.get();
    std::lock_guard lock(state->mutex);
    state->enabled = enabled;
}

int proxyOriginalDelegateCount() {
    auto state = proxy.get();
    std::lock_guard lock(state->mutex);
    return state->proxyCount;
}

std::vector<Registration> registrations() {
    auto state = proxy.get();
    std::lock_guard lock(state->mutex);
    return state->registrations;
}
}  // namespace ZIZAppDelegateSwizzlerSimulation
