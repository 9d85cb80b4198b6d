#pragma once
// Follows the application's delegate: the application hands each delegate callback to the shared
// forwarder, which passes it on to every registered observer while the Info.plist key
// "DudIzizozAppDelegateForwarderEnabled" (absent means YES) leaves it enabled.
#include <memory>

#include "DudIzizoz/Internals/DelegateForwarder/DIZDelegateForwarder.h"
#include "platform/appkit/NSApplication.h"

inline constexpr const char* kDIZAppDelegateForwarderEnabledKey = "DudIzizozAppDelegateForwarderEnabled";

// An observer of the application's delegate; each callback it does not override does nothing.
class DIZCustomApplicationDelegate : public DIZCustomDelegate, public NSApplicationDelegateObserver {};

class DIZAppDelegateForwarder : public DIZDelegateForwarder,
                                public NSApplicationDelegateObserver,
                                public std::enable_shared_from_this<DIZAppDelegateForwarder> {
  public:
    // Made on first use: reads the Info.plist switch, traces it and, when enabled, asks the shared
    // application for its delegate's callbacks.
    static std::shared_ptr<DIZAppDelegateForwarder> sharedInstance();
    static void resetSharedInstance();

    std::string enabledKey() const override { return kDIZAppDelegateForwarderEnabledKey; }

    // Passed on to the observers in registration order.
    void applicationWillFinishLaunching(const Notification& notification) override;
    void applicationDidFinishLaunching(const Notification& notification) override;
    // `returnedValue` is the delegate's own answer; each observer sees the answer given before it,
    // and the last one's is the result (`returnedValue` when there is no observer).
    bool applicationShouldHandleReopen(bool hasVisibleWindows, bool returnedValue) override;
    void applicationWillTerminate(const Notification& notification) override;

  private:
    template <class Call>
    void forEachObserver(const Call& call);
};
