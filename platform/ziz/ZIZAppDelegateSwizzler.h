#pragma once
// The outside utilities' application-delegate proxy: libraries ask whether the proxy is allowed,
// have the app's delegate proxied, and register interceptors, objects adopting the delegate
// protocol that are to hear the delegate's calls too. Interceptors are held weakly. Any thread.
#include <memory>

#include "platform/appkit/NSApplication.h"

class ZIZAppDelegateSwizzler {
  public:
    // YES unless switched off (the app's choice; here a test's, see the _simulated header).
    static bool isAppDelegateProxyEnabled();
    static void proxyOriginalDelegate();
    static void registerAppDelegateInterceptor(const std::shared_ptr<NSApplicationDelegate>& interceptor);
};
