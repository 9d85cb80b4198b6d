#pragma once
// The crash service as a wrapper SDK reaches it. One shared helper holds, weakly, the wrapper's
// delegate that the crash service consults whenever it sets up its crash handlers.
#include <memory>
#include <mutex>

// Told around the crash reporter's configuration; every callback is optional.
class DIZCrashHandlerSetupDelegate {
  public:
    virtual ~DIZCrashHandlerSetupDelegate() = default;
    virtual void willSetUpCrashHandlers() {}
    // Whether the reporter installs its uncaught-exception handler.
    virtual bool shouldEnableUncaughtExceptionHandler() { return true; }
    virtual void didSetUpCrashHandlers() {}
};

class DIZWrapperCrashesHelper {
  public:
    static std::shared_ptr<DIZWrapperCrashesHelper> sharedInstance();

    // Held weakly: reads as nullptr once the wrapper lets its delegate go.
    static void setCrashHandlerSetupDelegate(const std::shared_ptr<DIZCrashHandlerSetupDelegate>& delegate);
    static std::shared_ptr<DIZCrashHandlerSetupDelegate> crashHandlerSetupDelegate();
    static std::shared_ptr<DIZCrashHandlerSetupDelegate> getCrashHandlerSetupDelegate();

    DIZWrapperCrashesHelper() = default;  // use sharedInstance()

  private:
    std::mutex lock_;
    std::weak_ptr<DIZCrashHandlerSetupDelegate> crashHandlerSetupDelegate_;
};
