#pragma once
// How long the ads library's ad units were on screen: "_xu" for one unit and "_xa" for the time at
// least one unit was visible, both from origin "am". Times are cut at every screen change, at each
// engagement-timer tick and when the app resigns active, so that every event covers one screen;
// the time between resigning and becoming active again is not counted.
//
// The dictionaries and times live on the reporter's own serial queue. Beginning an exposure is
// asynchronous; every other entry waits for the queue, so none may be called from it.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

class DispatchQueue;

class ZDMAdExposureReporter : public std::enable_shared_from_this<ZDMAdExposureReporter> {
  public:
    static constexpr const char* kQueueLabel = "ZDMAdExposureReporter";
    static constexpr const char* kEngagementTimerDidFireNotification =
        "kZDMSessionReporterEngagementTimerDidFire";
    static constexpr size_t kMaxAdUnits = 100;

    // Whether the app is active and the current screen's parameters. By default the screen-view
    // reporter answers; tests may stand in for it.
    struct ScreenSource {
        std::function<bool()> isAppActive;
        std::function<Dictionary()> screenParameters;
    };

    static std::shared_ptr<ZDMAdExposureReporter> sharedInstance();
    // Observing the engagement timer's notification for as long as it lives.
    static std::shared_ptr<ZDMAdExposureReporter> make(ScreenSource source = {});
    explicit ZDMAdExposureReporter(ScreenSource source);
    ZDMAdExposureReporter(const ZDMAdExposureReporter&) = delete;
    ZDMAdExposureReporter& operator=(const ZDMAdExposureReporter&) = delete;

    void beginAdUnitExposure(const std::string& adUnitID);
    void endAdUnitExposure(const std::string& adUnitID);

    // The screen-view reporter's calls.
    void handleAppDidBecomeActive();
    // `screenParameters`: the parameters of the screen the app resigns on; none or empty means the
    // current screen's.
    void handleAppWillResignActiveWithScreen(const std::optional<Dictionary>& screenParameters);
    // Cuts with the previous screen's parameters, when there was a previous screen.
    void handleScreenDidChangeFromScreen(const std::optional<Dictionary>& fromScreenParameters,
                                         const std::optional<Dictionary>& toScreenParameters);
    void handleEngagementTimer(const Notification& notification);
    void logExposureEventsWithScreenParameters(const Dictionary& screenParameters);

    bool isReportingEnabled() const;
    void setReportingEnabled(bool enabled);

  private:
    double now() const;
    bool isAppActive() const;
    Dictionary currentScreenParameters() const;

    // The reporter's queue only.
    void updateStartTimesOnSerialQueue(double time);
    void logExposureEventsOnSerialQueueWithEndTime(double endTime, const Dictionary& screenParameters);
    void logAdExposureEventOnSerialQueueWithEndTime(double endTime, const Dictionary& screenParameters);
    void logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                   const Dictionary& screenParameters);

    const ScreenSource source_;
    const std::shared_ptr<DispatchQueue> queue_;
    // Queue.
    std::unordered_map<std::string, int64_t> adUnitCounts_;
    std::unordered_map<std::string, double> adUnitStartTimes_;
    double adExposureStartTime_;
    std::atomic<bool> reportingEnabled_{true};
    NotificationCenter::Token engagementTimerObserver_;
};
