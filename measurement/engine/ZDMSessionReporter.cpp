#include "measurement/engine/ZDMSessionReporter.h"

#include <algorithm>
#include <cmath>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/ZDMSecondsSinceBoot.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"

using zdm_engine::log;

namespace {
Value int64Value(int64_t value) {
    return Value(ZDMValue::initWithInt64(value));
}

// The running engine's configuration, else the defaults.
std::shared_ptr<ZDMRemoteConfig> remoteConfig() {
    return ZDMMeasurement::remoteConfig();
}

// Engagement is an hour at most per event, however long the app stayed in front.
constexpr double kMaximumEngagementSeconds = 3600;
}  // namespace

std::shared_ptr<ZDMSessionReporter> ZDMSessionReporter::initWithPersistedConfig(
    std::shared_ptr<ZDMPersistedConfig> persistedConfig) {
    return std::make_shared<ZDMSessionReporter>(std::move(persistedConfig));
}

ZDMSessionReporter::ZDMSessionReporter(std::shared_ptr<ZDMPersistedConfig> persistedConfig)
    : persistedConfig_(std::move(persistedConfig)),
      userEngagementTimer_(ZDMAlarm::make(DispatchQueue::main(), kEngagementTimerName)),
      timeoutSessionInterval_(ZDMMeasurement::remoteConfig()->sessionDefaultTimeoutInterval()) {}

ZDMSessionReporter::~ZDMSessionReporter() {
    // The timer belongs to the main queue: it is cancelled there, whichever thread lets the reporter go.
    if (DispatchQueue::isMainThread())
        userEngagementTimer_->cancel();
    else
        DispatchQueue::main()->async([timer = userEngagementTimer_] { timer->cancel(); });
}

bool ZDMSessionReporter::isSessionExpired() const {
    const double sinceActivity = Clock::current().now() - persistedConfig_->lastSessionActivityClockTime();
    return std::fabs(sinceActivity) > timeoutSessionInterval_;
}

bool ZDMSessionReporter::extendSession() {
    if (isSessionExpired()) return false;
    persistedConfig_->setLastSessionActivityClockTime(Clock::current().now());
    return true;
}

void ZDMSessionReporter::updatePropertiesForNewSessionStart() {
    persistedConfig_->setSessionNumber(persistedConfig_->sessionNumber() + 1);
    persistedConfig_->setLastSessionActivityClockTime(Clock::current().now());
}

void ZDMSessionReporter::setTimeoutSessionInterval(double interval) {
    if (interval < 0) {
        ZDMMeasurement::monitor()->logWithLevel(
            3, 33001, "Received negative timeout session duration. Setting to 0.0 instead.");
        interval = 0;
    }
    timeoutSessionInterval_ = interval;
}

std::shared_ptr<ZDMUserAttribute> ZDMSessionReporter::sessionIDPropertyWithTimestamp(double timestamp) const {
    return ZDMUserAttribute::initWithOrigin(
        "auto", "_sid", ZDMValue::initWithInt64(static_cast<int64_t>(timestamp)), timestamp);
}

std::shared_ptr<ZDMUserAttribute> ZDMSessionReporter::sessionNumberProperty() const {
    return ZDMUserAttribute::initWithOrigin(
        "auto", "_sno", ZDMValue::initWithInt64(persistedConfig_->sessionNumber()), Clock::current().now());
}

bool ZDMSessionReporter::shouldStartNewSession() const {
    return ZDMIsAppActive() && isSessionExpired();
}

void ZDMSessionReporter::setSessionID(std::optional<int64_t> sessionID,
                                      std::optional<int64_t> sessionNumber) {
    const auto value = [](std::optional<int64_t> number) {
        return number ? std::optional<Value>(Value(*number)) : std::nullopt;
    };
    ZDMAnalytics::setInternalUserProperty(value(sessionID), "_sid", "auto");
    ZDMAnalytics::setInternalUserProperty(value(sessionNumber), "_sno", "auto");
}

void ZDMSessionReporter::setReportingEnabled(bool enabled) {
    reportingEnabled_ = enabled;
    onMainQueue(enabled ? &ZDMSessionReporter::armUserEngagementTimerWhenIdle
                        : &ZDMSessionReporter::cancelUserEngagementTimer);
}

void ZDMSessionReporter::handleAppDidBecomeActive() {
    const double uptime = ZDMSecondsSinceBoot();
    engagementStartUptime_ = uptime;
    freerideEngagementStartUptime_ = uptime;
    rescheduleUserEngagementTimer();
    if (shouldStartNewSession() && reportingEnabled_) {
        setSessionID(std::nullopt, std::nullopt);
        logSessionStartEvent();
    }
}

void ZDMSessionReporter::logSessionStartEvent() {
    if (!ZDMIsAppActive()) return log(7, 33005, "Session start event not logged. Application is not active");
    if (!reportingEnabled_) return;
    updatePropertiesForNewSessionStart();
    const auto sessionID = static_cast<int64_t>(Clock::current().now());
    const int64_t sessionNumber = persistedConfig_->sessionNumber();
    setSessionID(sessionID, sessionNumber);
    ZDMAnalytics::logInternalEventWithOrigin(
        "auto", "_s", Dictionary{{"_sid", int64Value(sessionID)}, {"_sno", int64Value(sessionNumber)}});
}

double ZDMSessionReporter::incurredEngagementTime() {
    const double start = remoteConfig()->efficientEngagementReportingEnabled()
                             ? freerideEngagementStartUptime_.load()
                             : engagementStartUptime_.load();
    const double incurred = ZDMSecondsSinceBoot() - start;
    if (incurred >= 0) return incurred;
    log(4, 33004, "Incurred engagement time is negative. Setting to 0.0 instead");
    return 0;
}

int64_t ZDMSessionReporter::logEngagementEventAndReturnTimeWithScreen(
    const std::shared_ptr<const ZDMScreen>& screen, bool isRedundant) {
    if (!ZDMIsAppActive()) {
        log(7, 33006, "User engagement event not logged. Application is not active");
        return 0;
    }
    const bool efficient = remoteConfig()->efficientEngagementReportingEnabled();
    int64_t millis = 0;
    if (reportingEnabled_) {
        millis = static_cast<int64_t>(std::min(incurredEngagementTime(), kMaximumEngagementSeconds) * 1000);
        Dictionary parameters{{"_et", int64Value(millis)}};
        if (screen)
            for (const auto& [key, value] : screen->parameters()) parameters.set(key, value);
        if (efficient && isRedundant) parameters.set("_fr", int64Value(1));
        ZDMAnalytics::logInternalEventWithOrigin("auto", "_e", parameters);
    }
    const double uptime = ZDMSecondsSinceBoot();
    engagementStartUptime_ = uptime;
    if (efficient && !isRedundant) freerideEngagementStartUptime_ = uptime;
    persistedConfig_->setLastSessionActivityClockTime(Clock::current().now());
    rescheduleUserEngagementTimer();
    return millis;
}

void ZDMSessionReporter::logUserEngagementEvent() {
    logEngagementEventAndReturnTimeWithScreen(nullptr, false);
}

void ZDMSessionReporter::rescheduleUserEngagementTimer() {
    onMainQueue(&ZDMSessionReporter::armUserEngagementTimer);
}

int64_t ZDMSessionReporter::cutFreerideEngagementTimeMillis() {
    if (!remoteConfig()->efficientEngagementReportingEnabled()) return 0;
    const auto millis = static_cast<int64_t>(incurredEngagementTime() * 1000);
    freerideEngagementStartUptime_ = ZDMSecondsSinceBoot();
    return millis;
}

void ZDMSessionReporter::handleScreenDidChangeFromScreen(
    const std::shared_ptr<const ZDMScreen>& previousScreen,
    const std::shared_ptr<const ZDMScreen>& /*newScreen*/) {
    if (incurredEngagementTime() < 1 || !previousScreen) return;
    const auto config = remoteConfig();
    if (!config->efficientEngagementReportingEnabled())
        logEngagementEventAndReturnTimeWithScreen(previousScreen, false);
    else if (!config->redundantEngagementRemovalEnabled())
        logEngagementEventAndReturnTimeWithScreen(previousScreen, true);
}

void ZDMSessionReporter::handleAppWillResignActiveWithScreen(const std::shared_ptr<const ZDMScreen>& screen) {
    const bool backgroundedTracking = remoteConfig()->appBackgroundedEventEnabled();
    const int64_t millis = backgroundedTracking && remoteConfig()->redundantEngagementRemovalEnabled()
                               ? cutFreerideEngagementTimeMillis()
                               : logEngagementEventAndReturnTimeWithScreen(screen, backgroundedTracking);
    logAppBackgroundEvent(millis);
    onMainQueue(&ZDMSessionReporter::cancelUserEngagementTimer);
}

void ZDMSessionReporter::logAppBackgroundEvent(int64_t millis) {
    if (!reportingEnabled_ || !remoteConfig()->appBackgroundedEventEnabled()) return;
    if (!ZDMIsAppActive())
        return log(7, 33008, "App backgrounded event not logged. Application is not active");
    Dictionary parameters;
    if (remoteConfig()->efficientEngagementReportingEnabled() && millis > 0)
        parameters.set("_et", int64Value(millis));
    ZDMAnalytics::logInternalEventWithOrigin("auto", "_ab", parameters);
}

void ZDMSessionReporter::onMainQueue(void (ZDMSessionReporter::*work)()) {
    if (DispatchQueue::isMainThread()) return (this->*work)();
    DispatchQueue::main()->async([weak = weak_from_this(), work] {
        if (const auto self = weak.lock()) ((*self).*work)();
    });
}

void ZDMSessionReporter::armUserEngagementTimer() {
    std::weak_ptr<ZDMSessionReporter> weak = weak_from_this();
    userEngagementTimer_->runAfterDelay(
        [weak] {
            NotificationCenter::defaultCenter().post(kEngagementTimerDidFireNotification);
            if (const auto self = weak.lock()) self->logUserEngagementEvent();
        },
        remoteConfig()->sessionEventUserEngagementInterval());
}

void ZDMSessionReporter::cancelUserEngagementTimer() {
    userEngagementTimer_->cancel();
}

void ZDMSessionReporter::armUserEngagementTimerWhenIdle() {
    if (ZDMIsAppActive() && !userEngagementTimer_->scheduledTimestamp()) armUserEngagementTimer();
}
