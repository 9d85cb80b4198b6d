#pragma once
// The screen the user is on: every screen view the app reports gets the next instance number and
// becomes the current screen; the change is logged as "_vs" with the current and the previous
// screen, and every other event can carry the current screen's parameters. Activation and
// resignation of the app reach the session reporter through here.
//
// "Inactive" means the app was active once and is not now; before its first activation the app is
// taken as active, so that a screen view reported during launch is kept. The current and previous
// screen are read and written on the reporter's serial queue; screen-view events leave from it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

class DispatchQueue;

// One screen instance. A copy carries the name, the class name and the instance number only.
class ZDMScreen {
  public:
    static std::shared_ptr<ZDMScreen> initWithName(std::optional<std::string> name,
                                                   std::optional<std::string> className, int64_t instanceID);
    std::shared_ptr<ZDMScreen> copy() const;

    const std::optional<std::string>& name() const { return name_; }
    const std::optional<std::string>& className() const { return className_; }
    int64_t instanceID() const { return instanceID_; }
    // Came from an explicit "screen_view": its event is the app's, at the time the app logged it.
    bool isManuallyTracked() const { return isManuallyTracked_; }
    void setIsManuallyTracked(bool tracked) { isManuallyTracked_ = tracked; }
    bool isManuallySet() const { return isManuallySet_; }
    void setIsManuallySet(bool set) { isManuallySet_ = set; }
    // Seconds since 1970.
    double eventTimestamp() const { return eventTimestamp_; }
    void setEventTimestamp(double timestamp) { eventTimestamp_ = timestamp; }

    // "_si", and "_sc" and "_sn" when non-empty, as ZDMValues.
    Dictionary parameters() const;

    ZDMScreen(std::optional<std::string> name, std::optional<std::string> className, int64_t instanceID)
        : name_(std::move(name)), className_(std::move(className)), instanceID_(instanceID) {}

  private:
    std::optional<std::string> name_;
    std::optional<std::string> className_;
    int64_t instanceID_;
    bool isManuallyTracked_ = false;
    bool isManuallySet_ = false;
    double eventTimestamp_ = 0;
};

class ZDMScreenViewReporter : public std::enable_shared_from_this<ZDMScreenViewReporter> {
  public:
    static constexpr const char* kQueueLabel = "ZDMScreenViewReporter";

    static std::shared_ptr<ZDMScreenViewReporter> sharedInstance();
    // Made subscribed to the app's activation, resignation and windows resigning key.
    static std::shared_ptr<ZDMScreenViewReporter> make();
    ZDMScreenViewReporter();
    ZDMScreenViewReporter(const ZDMScreenViewReporter&) = delete;
    ZDMScreenViewReporter& operator=(const ZDMScreenViewReporter&) = delete;

    // A "screen_view" logged by the app, on the caller's thread, at `timestamp` (seconds since
    // 1970). Refused while inactive (31026) or for a name or class that is no valid screen value
    // (31027, 31028); otherwise the new screen is current before this returns and its event follows
    // on the reporter's queue.
    void trackScreenWithParameters(const Dictionary& parameters, double timestamp);
    // The current screen's "_si", "_sc" and "_sn"; empty while inactive or before any screen.
    Dictionary screenParameters() const;
    void getScreenName(std::optional<std::string>* screenName, std::optional<std::string>* screenClass) const;
    bool isAppActive() const { return isAppActive_; }
    // Screens are only reported through screen views here: this logs that it ignores the call.
    void setScreenName(const std::optional<std::string>& screenName,
                       const std::optional<std::string>& screenClass);

    // While the app is active, tells the session reporter (when there was a previous screen) and
    // the ad-exposure reporter.
    void postScreenDidChangeNotificationWithPreviousScreen(
        const std::shared_ptr<const ZDMScreen>& previousScreen,
        const std::shared_ptr<const ZDMScreen>& newScreen);
    // "_vs" for `newScreen` with `parameters`, the two screens' parameters, "_mst" and, in efficient
    // engagement mode, the engagement the previous screen had to itself ("_et").
    void logViewScreenEventWithPreviousScreen(const std::shared_ptr<const ZDMScreen>& previousScreen,
                                              const std::shared_ptr<const ZDMScreen>& newScreen,
                                              const Dictionary& parameters);
    // Any thread: the next instance number.
    int64_t incrementScreenInstanceID();

    void handleWindowDidResign(const Notification&) {}
    void handleApplicationDidBecomeActive(const Notification&);
    void handleApplicationWillResignActive(const Notification&);
    // Not subscribed on this platform.
    void handleApplicationDidEnterBackground(const Notification&);

    std::shared_ptr<const ZDMScreen> currentScreen() const;
    std::shared_ptr<const ZDMScreen> previousScreen() const;

  private:
    bool isInactive() const { return !isAppActive_ && appHasBeenInitialized_; }
    void subscribe();

    // The ad-exposure reporter's call points: it measures no exposure yet.
    void adExposureHandleAppDidBecomeActive();
    void adExposureHandleAppWillResignActive();
    void adExposureHandleScreenDidChange(const std::shared_ptr<const ZDMScreen>& previousScreen,
                                         const std::shared_ptr<const ZDMScreen>& newScreen);

    const std::shared_ptr<DispatchQueue> queue_;
    // Queue.
    std::shared_ptr<const ZDMScreen> currentScreen_;
    std::shared_ptr<const ZDMScreen> previousScreen_;
    const bool allowScreenParameters_ = true;
    const bool allowPostScreenDidChangeNotification_ = true;
    const bool allowScreenViewEvent_ = true;
    std::atomic<bool> isAppActive_{false};
    std::atomic<bool> appHasBeenInitialized_{false};
    std::atomic<int64_t> currentScreenInstanceID_;
    NotificationCenter::Token windowDidResignKey_;
    NotificationCenter::Token applicationDidBecomeActive_;
    NotificationCenter::Token applicationWillResignActive_;
};

bool ZDMIsAppActive();
