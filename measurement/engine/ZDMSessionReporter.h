#pragma once
// Sessions: a stretch of activity that ends after `timeoutSessionInterval` seconds without any. The
// session number and the time of the last activity live in the persisted configuration, so a launch
// within the timeout continues the previous session. The clock is wall-clock time, so a clock moved
// back counts by its distance as much as one moved on.
#include <atomic>
#include <memory>

class ZDMPersistedConfig;
class ZDMUserAttribute;

class ZDMSessionReporter {
  public:
    // The timeout starts as the remote configuration's default session timeout.
    static std::shared_ptr<ZDMSessionReporter> initWithPersistedConfig(
        std::shared_ptr<ZDMPersistedConfig> persistedConfig);
    explicit ZDMSessionReporter(std::shared_ptr<ZDMPersistedConfig> persistedConfig);

    // Strictly more than the timeout between now and the last activity, either way.
    bool isSessionExpired() const;
    // Moves the last activity to now; false (nothing moved) when the session has expired.
    bool extendSession();
    // The next session number, with its activity starting now.
    void updatePropertiesForNewSessionStart();

    // "_sid" (origin "auto"): `timestamp` cut to whole seconds, set at `timestamp`.
    std::shared_ptr<ZDMUserAttribute> sessionIDPropertyWithTimestamp(double timestamp) const;
    // "_sno" (origin "auto"): the persisted session number, set now.
    std::shared_ptr<ZDMUserAttribute> sessionNumberProperty() const;

    double timeoutSessionInterval() const { return timeoutSessionInterval_; }
    // A negative interval is logged (33001) and 0 is kept.
    void setTimeoutSessionInterval(double interval);

    bool isReportingEnabled() const { return reportingEnabled_; }
    void setReportingEnabled(bool enabled) { reportingEnabled_ = enabled; }

    const std::shared_ptr<ZDMPersistedConfig>& persistedConfig() const { return persistedConfig_; }

  private:
    const std::shared_ptr<ZDMPersistedConfig> persistedConfig_;
    // Set from the worker queue, read from the main queue.
    std::atomic<double> timeoutSessionInterval_;
    std::atomic<bool> reportingEnabled_{false};
};
