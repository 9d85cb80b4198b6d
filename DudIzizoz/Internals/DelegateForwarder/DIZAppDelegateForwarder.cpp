#include "DudIzizoz/Internals/DelegateForwarder/DIZAppDelegateForwarder.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<DIZAppDelegateForwarder> sharedForwarder{[] {
    auto forwarder = std::make_shared<DIZAppDelegateForwarder>();
    forwarder->setEnabledFromPlistForKey(forwarder->enabledKey());
    if (forwarder->isEnabled()) NSApplication::sharedApplication()->setDelegateObserver(forwarder);
    return forwarder;
}};
}  // namespace

std::shared_ptr<DIZAppDelegateForwarder> DIZAppDelegateForwarder::sharedInstance() {
    return sharedForwarder.get();
}

void DIZAppDelegateForwarder::resetSharedInstance() {
    sharedForwarder.reset();
}

template <class Call>
void DIZAppDelegateForwarder::forEachObserver(const Call& call) {
    std::lock_guard guard(forwardingLock());
    for (const auto& delegate : delegatesSnapshot()) {
        if (auto observer = std::dynamic_pointer_cast<DIZCustomApplicationDelegate>(delegate))
            call(*observer);
    }
}

void DIZAppDelegateForwarder::applicationWillFinishLaunching(const Notification& notification) {
    forEachObserver([&](DIZCustomApplicationDelegate& o) { o.applicationWillFinishLaunching(notification); });
}

void DIZAppDelegateForwarder::applicationDidFinishLaunching(const Notification& notification) {
    forEachObserver([&](DIZCustomApplicationDelegate& o) { o.applicationDidFinishLaunching(notification); });
}

bool DIZAppDelegateForwarder::applicationShouldHandleReopen(bool hasVisibleWindows, bool returnedValue) {
    forEachObserver([&](DIZCustomApplicationDelegate& o) {
        returnedValue = o.applicationShouldHandleReopen(hasVisibleWindows, returnedValue);
    });
    return returnedValue;
}

void DIZAppDelegateForwarder::applicationWillTerminate(const Notification& notification) {
    forEachObserver([&](DIZCustomApplicationDelegate& o) { o.applicationWillTerminate(notification); });
}
