#include "measurement/engine/ZDMBackwardCompatibilityUtil.h"

#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"

bool ZDMBackwardCompatibilityUtil::disableZOVEduduruzuzo() {
    const auto olderClass = Runtime::classNamed(kOlderLibraryClassName);
    if (!olderClass || !olderClass->respondsToSelector("sharedInstance")) return false;
    const auto instance = olderClass->perform("sharedInstance").objectAs<RuntimeObject>();
    if (!instance || !instance->respondsToSelector("setIsEnabled:")) return false;
    instance->performWithObject("setIsEnabled:", Value(false));
    return true;
}
