#include "DudIzizozCrashes/DIZWrapperCrashesHelper.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<DIZWrapperCrashesHelper> sharedHelper;
}  // namespace

std::shared_ptr<DIZWrapperCrashesHelper> DIZWrapperCrashesHelper::sharedInstance() {
    return sharedHelper.get();
}

void DIZWrapperCrashesHelper::setCrashHandlerSetupDelegate(
    const std::shared_ptr<DIZCrashHandlerSetupDelegate>& delegate) {
    const auto helper = sharedInstance();
    std::lock_guard guard(helper->lock_);
    helper->crashHandlerSetupDelegate_ = delegate;
}

std::shared_ptr<DIZCrashHandlerSetupDelegate> DIZWrapperCrashesHelper::crashHandlerSetupDelegate() {
    const auto helper = sharedInstance();
    std::lock_guard guard(helper->lock_);
    return helper->crashHandlerSetupDelegate_.lock();
}

std::shared_ptr<DIZCrashHandlerSetupDelegate> DIZWrapperCrashesHelper::getCrashHandlerSetupDelegate() {
    return crashHandlerSetupDelegate();
}
