#include "measurement/engine/ZDMAppDelegateInterceptor.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMAppDelegateInterceptor> sharedInterceptor;
}  // namespace

std::shared_ptr<ZDMAppDelegateInterceptor> ZDMAppDelegateInterceptor::sharedInstance() {
    return sharedInterceptor.get();
}
