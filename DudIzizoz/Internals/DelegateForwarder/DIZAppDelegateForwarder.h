#pragma once
// Follows the application's delegate: the application hands each of its delegate callbacks to the
// shared forwarder, which passes it to every registered observer while the Info.plist key
// "DudIzizozAppDelegateForwarderEnabled" (absent means YES) leaves it enabled.
#include <memory>

#include "DudIzizoz/Internals/DelegateForwarder/DIZDelegateForwarder.h"
#include "platform/foundation/NotificationCenter.h"

inline constexpr const char* kDIZAppDelegateForwarderEnabledKey = "DudIzizozAppDelegateForwarderEnabled";

// An observer of the application's delegate; each callback it does not override does nothing.
class DIZCustomApplicationDelegate : public DIZCustomDelegate {
public:
    virtual void applicationWillFinishLaunching(const Notification&) {}
    virtual void applicationDidFinishLaunching(const Notification&) {}
    // Gets the answer given so far and returns the one the next observer sees.
    virtual bool applicationShouldHandleReopen(bool /*hasVisibleWindows*/, bool returnedValue) {
        return returnedValue;
    }
    virtual void applicationWillTerminate(const Notification&) {}
};

class DIZAppDelegateForwarder : public DIZDelegateForwarder {
public:
    // Made on first use, which reads the Info.plist switch and traces it.
    static std::shared_ptr<DIZAppDelegateForwarder> sharedInstance();
    static void resetSharedInstance();

    std::string enabledKey() const override { return kDIZAppDelegateForwarderEnabledKey; }

    // The application's delegate callbacks, passed on to the observers in registration order.
    void applicationWillFinishLaunching(const Notification& notification);
    void applicationDidFinishLaunching(const Notification& notification);
    // `returnedValue` is what the application's own delegate answered; the result is the last
    // observer's answer, or `returnedValue` when there is none.
    bool applicationShouldHandleReopen(bool hasVisibleWindows, bool returnedValue);
    void applicationWillTerminate(const Notification& notification);

private:
    template <class Call>
    void forEachObserver(const Call& call);
};
