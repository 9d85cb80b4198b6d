#include "measurement/engine/ZDMSessionReporter.h"

#include <cmath>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/Clock.h"

std::shared_ptr<ZDMSessionReporter> ZDMSessionReporter::initWithPersistedConfig(
    std::shared_ptr<ZDMPersistedConfig> persistedConfig) {
    return std::make_shared<ZDMSessionReporter>(std::move(persistedConfig));
}

ZDMSessionReporter::ZDMSessionReporter(std::shared_ptr<ZDMPersistedConfig> persistedConfig)
    : persistedConfig_(std::move(persistedConfig)),
      timeoutSessionInterval_(ZDMMeasurement::remoteConfig()->sessionDefaultTimeoutInterval()) {}

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
