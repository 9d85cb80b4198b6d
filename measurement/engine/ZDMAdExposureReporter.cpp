#include "measurement/engine/ZDMAdExposureReporter.h"

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/ZDMSecondsSinceBoot.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"

using zdm_engine::log;

namespace {
constinit SharedInstance<ZDMAdExposureReporter> sharedReporter([] { return ZDMAdExposureReporter::make(); });

Value int64Value(int64_t value) {
    return Value(ZDMValue::initWithInt64(value));
}

Value stringValue(const std::string& text) {
    return Value(ZDMValue::initWithString(Value(text)));
}

// Whole milliseconds from `start` to `end`, cut toward zero.
int64_t exposureMilliseconds(double start, double end) {
    return static_cast<int64_t>((end - start) * 1000);
}
}  // namespace

std::shared_ptr<ZDMAdExposureReporter> ZDMAdExposureReporter::sharedInstance() {
    return sharedReporter.get();
}

std::shared_ptr<ZDMAdExposureReporter> ZDMAdExposureReporter::make(ScreenSource source) {
    auto reporter = std::make_shared<ZDMAdExposureReporter>(std::move(source));
    std::weak_ptr<ZDMAdExposureReporter> weakReporter = reporter;
    reporter->engagementTimerObserver_ = NotificationCenter::defaultCenter().addObserver(
        kEngagementTimerDidFireNotification, [weakReporter](const Notification& notification) {
            if (const auto strongReporter = weakReporter.lock())
                strongReporter->handleEngagementTimer(notification);
        });
    return reporter;
}

ZDMAdExposureReporter::ZDMAdExposureReporter(ScreenSource source)
    : source_(std::move(source)), queue_(DispatchQueue::serial(kQueueLabel)), adExposureStartTime_(now()) {}

double ZDMAdExposureReporter::now() const {
    return ZDMSecondsSinceBoot();
}

bool ZDMAdExposureReporter::isAppActive() const {
    if (source_.isAppActive) return source_.isAppActive();
    return ZDMScreenViewReporter::sharedInstance()->isAppActive();
}

Dictionary ZDMAdExposureReporter::currentScreenParameters() const {
    if (source_.screenParameters) return source_.screenParameters();
    return ZDMScreenViewReporter::sharedInstance()->screenParameters();
}

bool ZDMAdExposureReporter::isReportingEnabled() const {
    return reportingEnabled_;
}

void ZDMAdExposureReporter::setReportingEnabled(bool enabled) {
    reportingEnabled_ = enabled;
}

void ZDMAdExposureReporter::beginAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        log(5, 1000, "Ignoring call to begin ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double time = now();
    std::weak_ptr<ZDMAdExposureReporter> weakSelf = weak_from_this();
    queue_->async([weakSelf, adUnitID, time] {
        const auto self = weakSelf.lock();
        if (!self) return;
        if (self->adUnitCounts_.size() >= kMaxAdUnits) {
            log(5, 1002, "Reached limit on ad units. Ignoring ad unit with ID", Value(adUnitID));
            return;
        }
        if (self->adUnitCounts_.empty()) self->adExposureStartTime_ = time;
        self->adUnitStartTimes_.try_emplace(adUnitID, time);
        ++self->adUnitCounts_[adUnitID];
    });
}

void ZDMAdExposureReporter::endAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        log(5, 1003, "Ignoring call to end ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double time = now();
    const Dictionary screenParameters = currentScreenParameters();
    queue_->sync([&] {
        const auto count = adUnitCounts_.find(adUnitID);
        if (count == adUnitCounts_.end()) {
            log(5, 1004, "Unknown ad unit. Ignoring ad unit with ID", Value(adUnitID));
            return;
        }
        if (count->second >= 2) {
            --count->second;
            return;
        }
        logAdUnitExposureEventOnSerialQueueWithID(adUnitID, time, screenParameters);
        adUnitCounts_.erase(count);
        adUnitStartTimes_.erase(adUnitID);
        if (adUnitCounts_.empty()) {
            logAdExposureEventOnSerialQueueWithEndTime(time, screenParameters);
            adExposureStartTime_ = time;
        }
    });
}

void ZDMAdExposureReporter::logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID,
                                                                      double endTime,
                                                                      const Dictionary& screenParameters) {
    if (!reportingEnabled_) {
        log(5, 1007, "Ad unit exposure not logged. Reporting is disabled.");
        return;
    }
    if (adUnitID.empty()) {
        log(5, 1008, "Ad unit exposure not logged. Received empty ad unit ID");
        return;
    }
    if (!isAppActive()) {
        log(8, 1011, "Ad unit exposure not logged. App is not active.");
        return;
    }
    const auto start = adUnitStartTimes_.find(adUnitID);
    const int64_t milliseconds =
        exposureMilliseconds(start == adUnitStartTimes_.end() ? endTime : start->second, endTime);
    if (milliseconds < 1000) {
        log(8, 1009, "Ad unit exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    Dictionary parameters = screenParameters;
    parameters.set("_ai", stringValue(adUnitID));
    parameters.set("_xt", int64Value(milliseconds));
    ZDMAnalytics::logInternalEventWithOrigin("am", "_xu", parameters);
}

void ZDMAdExposureReporter::logAdExposureEventOnSerialQueueWithEndTime(double endTime,
                                                                       const Dictionary& screenParameters) {
    if (!reportingEnabled_) {
        log(5, 1005, "Ad exposure not logged. Reporting is disabled.");
        return;
    }
    if (!isAppActive()) {
        log(8, 1010, "Ad exposure not logged. App is not active.");
        return;
    }
    const int64_t milliseconds = exposureMilliseconds(adExposureStartTime_, endTime);
    if (milliseconds < 1000) {
        log(8, 1006, "Ad exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    Dictionary parameters = screenParameters;
    parameters.set("_xt", int64Value(milliseconds));
    ZDMAnalytics::logInternalEventWithOrigin("am", "_xa", parameters);
}

void ZDMAdExposureReporter::updateStartTimesOnSerialQueue(double time) {
    if (adUnitCounts_.empty()) return;
    for (auto& [adUnitID, start] : adUnitStartTimes_) start = time;
    adExposureStartTime_ = time;
}

void ZDMAdExposureReporter::logExposureEventsOnSerialQueueWithEndTime(double endTime,
                                                                      const Dictionary& screenParameters) {
    for (const auto& [adUnitID, count] : adUnitCounts_)
        logAdUnitExposureEventOnSerialQueueWithID(adUnitID, endTime, screenParameters);
    if (!adUnitCounts_.empty()) logAdExposureEventOnSerialQueueWithEndTime(endTime, screenParameters);
    updateStartTimesOnSerialQueue(endTime);
}

void ZDMAdExposureReporter::logExposureEventsWithScreenParameters(const Dictionary& screenParameters) {
    const double time = now();
    queue_->sync([&] { logExposureEventsOnSerialQueueWithEndTime(time, screenParameters); });
}

void ZDMAdExposureReporter::handleScreenDidChangeFromScreen(
    const std::optional<Dictionary>& fromScreenParameters,
    const std::optional<Dictionary>& /*toScreenParameters*/) {
    if (fromScreenParameters) logExposureEventsWithScreenParameters(*fromScreenParameters);
}

void ZDMAdExposureReporter::handleEngagementTimer(const Notification& /*notification*/) {
    logExposureEventsWithScreenParameters(currentScreenParameters());
}

void ZDMAdExposureReporter::handleAppWillResignActiveWithScreen(
    const std::optional<Dictionary>& screenParameters) {
    const Dictionary parameters =
        screenParameters && !screenParameters->empty() ? *screenParameters : currentScreenParameters();
    logExposureEventsWithScreenParameters(parameters);
}

void ZDMAdExposureReporter::handleAppDidBecomeActive() {
    const double time = now();
    queue_->sync([&] { updateStartTimesOnSerialQueue(time); });
}
