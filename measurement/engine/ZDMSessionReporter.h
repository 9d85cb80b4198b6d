#pragma once
// Sessions: a stretch of activity that ends after `timeoutSessionInterval` seconds without any. The
// session number and the time of the last activity live in the persisted configuration, so a launch
// within the timeout continues the previous session. The clock is wall-clock time, so a clock moved
// back counts by its distance as much as one moved on.
//
// In the foreground the reporter also measures engagement: the time since the last "_e", reported
// when the screen changes, when the app resigns and every `sessionEventUserEngagementInterval` by the
// "Engagement timer". Its lifecycle and screen calls come from the screen-view reporter; the timer
// lives on the main queue, and is armed and cancelled only there whatever thread asks.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class ZDMAlarm;
class ZDMPersistedConfig;
class ZDMScreen;
class ZDMUserAttribute;

class ZDMSessionReporter : public std::enable_shared_from_this<ZDMSessionReporter> {
  public:
    static constexpr const char* kEngagementTimerName = "Engagement timer";
    static constexpr const char* kEngagementTimerDidFireNotification =
        "kZDMSessionReporterEngagementTimerDidFire";

    // The timeout starts as the remote configuration's default session timeout.
    static std::shared_ptr<ZDMSessionReporter> initWithPersistedConfig(
        std::shared_ptr<ZDMPersistedConfig> persistedConfig);
    explicit ZDMSessionReporter(std::shared_ptr<ZDMPersistedConfig> persistedConfig);
    ~ZDMSessionReporter();
    ZDMSessionReporter(const ZDMSessionReporter&) = delete;
    ZDMSessionReporter& operator=(const ZDMSessionReporter&) = delete;

    // Strictly more than the timeout between now and the last activity, either way.
    bool isSessionExpired() const;
    // Moves the last activity to now; false (nothing moved) when the session has expired.
    bool extendSession();
    // The app is active and its session has expired.
    bool shouldStartNewSession() const;
    // The next session number, with its activity starting now.
    void updatePropertiesForNewSessionStart();
    // Sets "_sid" and "_sno" (origin "auto") through the facade; nullopt removes each.
    void setSessionID(std::optional<int64_t> sessionID, std::optional<int64_t> sessionNumber);

    // "_sid" (origin "auto"): `timestamp` cut to whole seconds, set at `timestamp`.
    std::shared_ptr<ZDMUserAttribute> sessionIDPropertyWithTimestamp(double timestamp) const;
    // "_sno" (origin "auto"): the persisted session number, set now.
    std::shared_ptr<ZDMUserAttribute> sessionNumberProperty() const;

    double timeoutSessionInterval() const { return timeoutSessionInterval_; }
    // A negative interval is logged (33001) and 0 is kept.
    void setTimeoutSessionInterval(double interval);

    bool isReportingEnabled() const { return reportingEnabled_; }
    // Off cancels the timer; on arms it while the app is active and it is idle.
    void setReportingEnabled(bool enabled);

    // Main queue. Starts engagement and the timer; starts a session when the last one expired.
    void handleAppDidBecomeActive();
    // "_s" with the next session number and its start second as "_sid" (33005 while inactive).
    void logSessionStartEvent();
    // Seconds of engagement not yet reported: since the last "_e", or, in efficient mode, since the
    // last engagement any event carried. Never negative (33004).
    double incurredEngagementTime();
    // "_e" with at most an hour of engagement ("_et", milliseconds), the screen's parameters, and in
    // efficient mode "_fr" when another event already covers it; then engagement starts again.
    // Answers the milliseconds reported (0 while reporting is off or the app inactive, 33006).
    int64_t logEngagementEventAndReturnTimeWithScreen(const std::shared_ptr<const ZDMScreen>& screen,
                                                      bool isRedundant);
    void logUserEngagementEvent();
    // (Re)arms the timer for `sessionEventUserEngagementInterval` seconds.
    void rescheduleUserEngagementTimer();
    // In efficient mode, the engagement an event takes along (milliseconds), restarting its count; 0
    // otherwise.
    int64_t cutFreerideEngagementTimeMillis();
    // Logs the previous screen's engagement once at least a second of it is unreported.
    void handleScreenDidChangeFromScreen(const std::shared_ptr<const ZDMScreen>& previousScreen,
                                         const std::shared_ptr<const ZDMScreen>& newScreen);
    // Reports the engagement so far and "_ab" (when app-backgrounded tracking is on), then cancels
    // the timer.
    void handleAppWillResignActiveWithScreen(const std::shared_ptr<const ZDMScreen>& screen);
    void logAppBackgroundEvent(int64_t millis);

    const std::shared_ptr<ZDMPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    // Main queue only.
    const std::shared_ptr<ZDMAlarm>& userEngagementTimer() const { return userEngagementTimer_; }

  private:
    // Runs `work` with the reporter on the main queue: at once when already there, else later while
    // the reporter lives.
    void onMainQueue(void (ZDMSessionReporter::*work)());
    void armUserEngagementTimer();
    void cancelUserEngagementTimer();
    void armUserEngagementTimerWhenIdle();

    const std::shared_ptr<ZDMPersistedConfig> persistedConfig_;
    const std::shared_ptr<ZDMAlarm> userEngagementTimer_;
    // Set from the worker queue, read from the main queue.
    std::atomic<double> timeoutSessionInterval_;
    std::atomic<bool> reportingEnabled_{false};
    // Seconds of uptime; the screen-view reporter's queue cuts the free-ride share too.
    std::atomic<double> engagementStartUptime_{0};
    std::atomic<double> freerideEngagementStartUptime_{0};
};
