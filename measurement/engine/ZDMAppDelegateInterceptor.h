#pragma once
// The facade's application-delegate interceptor: registered with the delegate proxy once, it hears
// the delegate's calls and, wanting none of them, acts on none.
#include <memory>

#include "platform/appkit/NSApplication.h"

class ZDMAppDelegateInterceptor : public NSApplicationDelegate {
  public:
    static std::shared_ptr<ZDMAppDelegateInterceptor> sharedInstance();
};
