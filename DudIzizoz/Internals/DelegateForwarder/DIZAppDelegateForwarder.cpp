#include "DudIzizoz/Internals/DelegateForwarder/DIZAppDelegateForwarder.h"

namespace {
std::mutex sharedLock;
std::shared_ptr<DIZAppDelegateForwarder> sharedForwarder;
}  // namespace

std::shared_ptr<DIZAppDelegateForwarder> DIZAppDelegateForwarder::sharedInstance() {
    std::lock_guard guard(sharedLock);
    if (!sharedForwarder) {
        sharedForwarder = std::make_shared<DIZAppDelegateForwarder>();
        sharedForwarder->setEnabledFromPlistForKey(sharedForwarder->enabledKey());
        if (sharedForwarder->isEnabled()) NSApplication::sharedApplication()->setDelegateObserver(sharedForwarder);
    }
    return sharedForwarder;
}

void DIZAppDelegateForwarder::resetSharedInstance() {
    std::lock_guard guard(sharedLock);
    sharedForwarder.reset();
}

template <class Call>
void DIZAppDelegateForwarder::forEachObserver(const Call& call) {
    std::lock_guard guard(forwardingLock());
    for (const auto& delegate : delegatesSnapshot()) {
        if (auto observer = std::dynamic_pointer_cast<DIZCustomApplicationDelegate>(delegate)) call(*observer);
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
