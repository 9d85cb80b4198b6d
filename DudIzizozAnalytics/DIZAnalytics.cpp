#include "DudIzizozAnalytics/DIZAnalytics.h"

#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozAnalytics/DIZAnalyticsArchiverUtil.h"
#include "DudIzizozAnalytics/DIZAnalyticsCategory.h"
#include "DudIzizozAnalytics/DIZAnalyticsTransmissionTarget.h"
#include "DudIzizozAnalytics/Model/DIZStartSessionLog.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UUID.h"

namespace {
constinit SharedInstance<DIZAnalytics> sharedAnalytics;

// Logs stored by older versions name their classes without the current prefix.
void addMigrationClasses() {
    std::map<std::string, std::string> migrations;
    for (const char* name :
         {"SessionHistoryInfo", "AbstractLog", "EventLog", "PageLog", "EventProperties",
          "LogWithNameAndProperties", "BooleanTypedProperty", "DateTimeTypedProperty", "DoubleTypedProperty",
          "LongTypedProperty", "StringTypedProperty", "TypedProperty", "StartSessionLog"})
        migrations[std::string("DZ") + name] = std::string("DIZ") + name;
    DIZUtility::addMigrationClasses(migrations);
}

std::string criticalGroupId() {
    return std::string(DIZAnalytics::kGroupId) + "_" + DIZAnalytics::kCriticalSuffix;
}
}  // namespace

const DIZServiceClass& DIZAnalytics::classObject() {
    static const DIZServiceClassOf<DIZAnalytics> object;
    return object;
}

std::shared_ptr<DIZAnalytics> DIZAnalytics::sharedInstance() {
    return sharedAnalytics.get();
}

void DIZAnalytics::resetSharedInstance() {
    if (auto existing = sharedAnalytics.existing()) existing->sessionTracker()->stop();
    sharedAnalytics.reset();
}

DIZAnalytics::DIZAnalytics()
    : DIZServiceAbstract(classObject(), kGroupId), flushInterval_(kDIZDefaultFlushInterval) {
    DIZDudIzizozUserDefaults::shared()->migrateKeys(
        {
            {"DZDudIzizozAnalyticsIsEnabled", DIZUserDefaultsPrefixKey("kDZAnalyticsIsEnabledKey")},
            {"DZDudIzizozPastSessions", std::string("pastSessionsKey")},
        },
        kServiceName);
    addMigrationClasses();
    DIZAnalyticsArchiverUtil::addAllowedAnalyitcsModuleClasses();
    // After the migration, so that the sessions it moved are the ones the tracker drops.
    sessionTracker_ = std::make_shared<DIZSessionTracker>();
}

// The class side.

void DIZAnalytics::trackEvent(const std::string& name, const std::optional<Dictionary>& properties,
                              uint64_t flags) {
    sharedInstance()->trackEventWithProperties(name, properties, flags);
}

void DIZAnalytics::trackEvent(const std::string& name,
                              const std::shared_ptr<DIZEventProperties>& typedProperties, uint64_t flags) {
    sharedInstance()->trackEventWithTypedProperties(name, typedProperties, flags);
}

void DIZAnalytics::trackEvent(const std::string& name,
                              const std::shared_ptr<DIZEventProperties>& typedProperties,
                              const std::shared_ptr<DIZAnalyticsTransmissionTarget>& target, uint64_t flags) {
    sharedInstance()->trackEventWithTypedProperties(name, typedProperties, target, flags);
}

void DIZAnalytics::trackPage(const std::string& name, const std::optional<Dictionary>& properties) {
    sharedInstance()->trackPageWithProperties(name, properties);
}

std::shared_ptr<DIZAnalyticsTransmissionTarget> DIZAnalytics::transmissionTargetForToken(
    const std::string& token) {
    return sharedInstance()->registeredTransmissionTargetForToken(token);
}

void DIZAnalytics::pause() {
    sharedInstance()->pauseUnits();
}

void DIZAnalytics::resume() {
    sharedInstance()->resumeUnits();
}

void DIZAnalytics::startSession() {
    sharedInstance()->sessionTracker()->startSession();
}

void DIZAnalytics::enableManualSessionTracker() {
    sharedInstance()->sessionTracker()->enableManualSessionTracker();
}

uint64_t DIZAnalytics::transmissionInterval() {
    return sharedInstance()->flushInterval();
}

void DIZAnalytics::setTransmissionInterval(uint64_t seconds) {
    sharedInstance()->setFlushInterval(seconds);
}

void DIZAnalytics::setDelegate(std::shared_ptr<DIZAnalyticsDelegate> delegate) {
    sharedInstance()->setAnalyticsDelegate(std::move(delegate));
}

void DIZAnalytics::pauseTransmissionTargetForToken(const std::string& token) {
    sharedInstance()->pauseSendingForToken(token);
}

void DIZAnalytics::resumeTransmissionTargetForToken(const std::string& token) {
    sharedInstance()->resumeSendingForToken(token);
}

// Start and enabled state.

void DIZAnalytics::startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                                         const std::optional<std::string>& appSecret,
                                         const std::optional<std::string>& transmissionTargetToken,
                                         bool fromApplication) {
    {
        std::lock_guard guard(lock_);
        channelUnitConfiguration_ = std::make_shared<DIZChannelUnitConfiguration>(groupId(), flushInterval_);
        sessionTracker_->setDelegate(weak_from_this());
    }
    DIZServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken,
                                              fromApplication);
    if (transmissionTargetToken) {
        auto target = createTransmissionTargetForToken(*transmissionTargetToken);
        std::lock_guard guard(lock_);
        defaultTransmissionTarget_ = std::move(target);
    }
    DIZLogVerbose(kLogTag, "Started Analytics service.");
}

void DIZAnalytics::updateConfigurationWithAppSecret(
    const std::optional<std::string>& appSecret, const std::optional<std::string>& transmissionTargetToken) {
    DIZServiceAbstract::updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
    if (!transmissionTargetToken || defaultTransmissionTarget()) return;
    auto target = createTransmissionTargetForToken(*transmissionTargetToken);
    std::lock_guard guard(lock_);
    if (!defaultTransmissionTarget_) defaultTransmissionTarget_ = std::move(target);
}

void DIZAnalytics::setEnabled(bool isEnabled) {
    DIZServiceAbstract::setEnabled(isEnabled);
    std::vector<std::shared_ptr<DIZAnalyticsTransmissionTarget>> targets;
    {
        std::lock_guard guard(lock_);
        for (const auto& [token, target] : transmissionTargets_) targets.push_back(target);
        if (defaultTransmissionTarget_) targets.push_back(defaultTransmissionTarget_);
    }
    // Outside the lock: a target that is enabled again resumes its units through this service.
    for (const auto& target : targets) target->setEnabled(isEnabled);
}

void DIZAnalytics::addChannelUnits(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup) {
    DIZServiceAbstract::addChannelUnits(channelGroup);
    if (!channelGroup) return;
    // The critical unit always flushes after the default interval, whatever the main one does.
    auto critical = channelGroup->addChannelUnitWithConfiguration(
        std::make_shared<DIZChannelUnitConfiguration>(criticalGroupId()));
    std::lock_guard guard(lock_);
    criticalChannelUnit_ = std::move(critical);
}

void DIZAnalytics::applyEnabledState(bool isEnabled) {
    DIZServiceAbstract::applyEnabledState(isEnabled);
    if (auto critical = criticalChannelUnit()) critical->setEnabled(isEnabled, true);
    if (isStartedFromApplication()) {
        auto group = channelGroup();
        if (isEnabled) {
            resumeUnits();
            sessionTracker_->start();
            if (group) {
                group->addDelegate(sessionTracker_);
                group->addDelegate(shared_from_this());
            }
            if (autoPageTrackingEnabled()) {
                // On the main queue, where pages appear and the missed one is kept.
                DispatchQueue::main()->async([] {
                    auto missed = DIZAnalyticsCategory::missedPageViewName();
                    if (missed && !missed->empty()) trackPage(*missed);
                });
            }
        } else {
            if (group) {
                group->removeDelegate(sessionTracker_);
                group->removeDelegate(shared_from_this());
            }
            sessionTracker_->stop();
            DIZSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
        }
    }
    DIZLogInfo(kLogTag, "Analytics service has been %@.", isEnabled ? "enabled" : "disabled");
}

std::shared_ptr<DIZChannelUnitConfiguration> DIZAnalytics::channelUnitConfiguration() const {
    std::lock_guard guard(lock_);
    return channelUnitConfiguration_;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZAnalytics::criticalChannelUnit() const {
    std::lock_guard guard(lock_);
    return criticalChannelUnit_;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZAnalytics::mirrorUnit(
    std::shared_ptr<DIZChannelUnitProtocol>& cache, const std::string& groupId) {
    std::lock_guard guard(lock_);
    if (!cache) {
        if (auto group = channelGroup()) cache = group->channelUnitForGroupId(groupId);
    }
    return cache;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZAnalytics::didOzodozudaChannelUnit() {
    return mirrorUnit(didOzodozudaChannelUnit_, std::string(kGroupId) + kDidOzodozudaSuffix);
}

std::shared_ptr<DIZChannelUnitProtocol> DIZAnalytics::didOzodozudaCriticalChannelUnit() {
    return mirrorUnit(didOzodozudaCriticalChannelUnit_, criticalGroupId() + kDidOzodozudaSuffix);
}

// Tracking.

std::vector<std::pair<std::string, std::string>> DIZAnalytics::removeInvalidProperties(
    const std::optional<Dictionary>& properties) {
    std::vector<std::pair<std::string, std::string>> valid;
    if (!properties) return valid;
    for (const auto& [key, value] : *properties) {
        if (const std::string* text = value.asString()) {
            valid.emplace_back(key, *text);
        } else {
            DIZLogWarning(kLogTag,
                          "Event property contains an invalid value for key %@, dropping the property.", key);
        }
    }
    return valid;
}

void DIZAnalytics::trackEventWithProperties(const std::string& name,
                                            const std::optional<Dictionary>& properties, uint64_t flags) {
    trackEventWithTypedProperties(
        name, std::make_shared<DIZEventProperties>(removeInvalidProperties(properties)), flags);
}

void DIZAnalytics::trackEventWithTypedProperties(const std::string& name,
                                                 const std::shared_ptr<DIZEventProperties>& typedProperties,
                                                 uint64_t flags) {
    trackEventWithTypedProperties(name, typedProperties, nullptr, flags);
}

void DIZAnalytics::trackEventWithTypedProperties(
    const std::string& name, const std::shared_ptr<DIZEventProperties>& typedProperties,
    const std::shared_ptr<DIZAnalyticsTransmissionTarget>& target, uint64_t flags) {
    // Asked before the lock: the facade holds its own lock while it starts and switches this service.
    if (!canBeUsed() || !isEnabled()) return;
    auto sendingTarget = target ? target : defaultTransmissionTarget();
    // The target's state is read before this service's lock is taken: the targets' own lock is
    // never taken the other way round.
    if (sendingTarget && !sendingTarget->isEnabled()) {
        DIZLogError(kLogTag, "This transmission target is disabled.");
        return;
    }
    std::lock_guard guard(lock_);
    uint64_t persistence = flags & 0xFF;
    if (persistence != kDIZFlagsNormal && persistence != kDIZFlagsCritical) {
        DIZLogWarning(kLogTag, "Invalid flags (%u) received, using normal as a default.", persistence);
        persistence = kDIZFlagsNormal;
    }
    auto log = std::make_shared<DIZEventLog>();
    log->setName(name);
    log->setEventId(UUID().uuidString());
    if (sendingTarget) {
        // The Core Schema copies are checked by the core's Did Ozodozuda rules instead.
        log->addTransmissionTargetToken(sendingTarget->transmissionTargetToken());
        log->setTag(sendingTarget);
        if (sendingTarget == defaultTransmissionTarget_)
            log->setUserId(DIZUserIdContext::sharedInstance()->userId());
        log->setTypedProperties(typedProperties);
    } else {
        // Without a transmission target the event takes the Dud Izizoz road, whose limits apply now.
        auto validated = validateDudIzizozEventProperties(typedProperties);
        log->setTypedProperties(validated->isEmpty() ? nullptr : validated);
    }
    sendLog(log, persistence);
}

void DIZAnalytics::sendLog(const std::shared_ptr<DIZLog>& log, uint64_t flags) {
    auto unit = (flags & kDIZFlagsCritical) ? criticalChannelUnit() : channelUnit();
    if (unit) unit->enqueueItem(log, flags);
}

void DIZAnalytics::trackPageWithProperties(const std::string& name,
                                           const std::optional<Dictionary>& properties) {
    if (!canBeUsed() || !isEnabled()) return;
    std::lock_guard guard(lock_);
    auto log = std::make_shared<DIZPageLog>();
    log->setName(name);
    if (properties && !properties->empty()) {
        const auto valid = removeInvalidProperties(properties);
        log->setProperties(DIZProperties(valid.begin(), valid.end()));
    }
    sendLog(log, kDIZFlagsNormal);
}

void DIZAnalytics::sessionTrackerProcessLog(DIZSessionTracker&,
                                            const std::shared_ptr<DIZStartSessionLog>& log) {
    sendLog(log, kDIZFlagsNormal);
}

// Pausing, the interval and the delegate.

void DIZAnalytics::pauseUnits() {
    if (!canBeUsed()) return;
    std::lock_guard guard(lock_);
    const DIZIdentifyingObject self = shared_from_this();
    if (auto unit = channelUnit()) unit->pauseWithIdentifyingObject(self);
    if (auto critical = criticalChannelUnit()) critical->pauseWithIdentifyingObject(self);
}

void DIZAnalytics::resumeUnits() {
    if (!canBeUsed()) return;
    std::lock_guard guard(lock_);
    const DIZIdentifyingObject self = shared_from_this();
    if (auto unit = channelUnit()) unit->resumeWithIdentifyingObject(self);
    if (auto critical = criticalChannelUnit()) critical->resumeWithIdentifyingObject(self);
}

uint64_t DIZAnalytics::flushInterval() const {
    std::lock_guard guard(lock_);
    return flushInterval_;
}

void DIZAnalytics::setFlushInterval(uint64_t seconds) {
    std::lock_guard guard(lock_);
    if (isStarted()) {
        DIZLogError(kLogTag,
                    "The transmission interval should be set before the DIZAnalytics service is started.");
        return;
    }
    if (seconds < kMinFlushInterval || seconds > kMaxFlushInterval) {
        DIZLogError(
            kLogTag,
            "The transmission interval is not valid, it should be between %u second(s) and %u second(s) "
            "(%u day).",
            kMinFlushInterval, kMaxFlushInterval, kMaxFlushInterval / 86400);
        return;
    }
    flushInterval_ = seconds;
    DIZLogDebug(kLogTag, "Transmission interval set to %u second(s)", seconds);
}

void DIZAnalytics::setAnalyticsDelegate(std::shared_ptr<DIZAnalyticsDelegate> delegate) {
    std::lock_guard guard(lock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<DIZAnalyticsTransmissionTarget> DIZAnalytics::registeredTransmissionTargetForToken(
    const std::string& token) {
    {
        std::lock_guard guard(lock_);
        if (auto found = transmissionTargets_.find(token); found != transmissionTargets_.end()) {
            DIZLogDebug(kLogTag, "Returning transmission target found with id %@.",
                        DIZUtility::targetKeyFromTargetToken(token));
            return found->second;
        }
    }
    // Made outside the lock: a new target reads the enabled state of this service.
    auto target = createTransmissionTargetForToken(token);
    std::lock_guard guard(lock_);
    return transmissionTargets_.emplace(token, target).first->second;
}

std::shared_ptr<DIZAnalyticsTransmissionTarget> DIZAnalytics::createTransmissionTargetForToken(
    const std::string& token) {
    auto target =
        DIZAnalyticsTransmissionTarget::initWithTransmissionTargetToken(token, nullptr, channelGroup());
    DIZLogDebug(kLogTag, "Created transmission target with target key %@.",
                DIZUtility::targetKeyFromTargetToken(token));
    return target;
}

bool DIZAnalytics::isAutoPageTrackingEnabled() {
    return sharedInstance()->autoPageTrackingEnabled();
}

void DIZAnalytics::setAutoPageTrackingEnabled(bool enabled) {
    sharedInstance()->setAutoPageTrackingEnabledFlag(enabled);
}

bool DIZAnalytics::autoPageTrackingEnabled() const {
    std::lock_guard guard(lock_);
    return autoPageTrackingEnabled_;
}

void DIZAnalytics::setAutoPageTrackingEnabledFlag(bool enabled) {
    std::lock_guard guard(lock_);
    autoPageTrackingEnabled_ = enabled;
}

std::shared_ptr<DIZAnalyticsTransmissionTarget> DIZAnalytics::defaultTransmissionTarget() const {
    std::lock_guard guard(lock_);
    return defaultTransmissionTarget_;
}

void DIZAnalytics::pauseSendingForToken(const std::string& token) {
    if (auto unit = didOzodozudaChannelUnit()) unit->pauseSendingLogsWithToken(token);
    if (auto unit = didOzodozudaCriticalChannelUnit()) unit->pauseSendingLogsWithToken(token);
}

void DIZAnalytics::resumeSendingForToken(const std::string& token) {
    if (auto unit = didOzodozudaChannelUnit()) unit->resumeSendingLogsWithToken(token);
    if (auto unit = didOzodozudaCriticalChannelUnit()) unit->resumeSendingLogsWithToken(token);
}

// Send results reach the delegate as event or page logs; the delegate is called outside the lock.

namespace {
template <class EventCall, class PageCall>
void tellDelegate(const std::shared_ptr<DIZAnalyticsDelegate>& delegate, const std::shared_ptr<DIZLog>& log,
                  EventCall onEvent, PageCall onPage) {
    if (!delegate) return;
    if (auto event = std::dynamic_pointer_cast<DIZEventLog>(log)) {
        onEvent(*delegate, event);
    } else if (auto page = std::dynamic_pointer_cast<DIZPageLog>(log)) {
        onPage(*delegate, page);
    }
}
}  // namespace

void DIZAnalytics::channelWillSendLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) {
    std::shared_ptr<DIZAnalyticsDelegate> delegate;
    {
        std::lock_guard guard(lock_);
        delegate = delegate_;
    }
    tellDelegate(
        delegate, log,
        [&](DIZAnalyticsDelegate& d, const auto& event) { d.analyticsWillSendEventLog(*this, event); },
        [&](DIZAnalyticsDelegate& d, const auto& page) { d.analyticsWillSendPageLog(*this, page); });
}

void DIZAnalytics::channelDidSucceedSendingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) {
    std::shared_ptr<DIZAnalyticsDelegate> delegate;
    {
        std::lock_guard guard(lock_);
        delegate = delegate_;
    }
    tellDelegate(
        delegate, log,
        [&](DIZAnalyticsDelegate& d, const auto& event) {
            d.analyticsDidSucceedSendingEventLog(*this, event);
        },
        [&](DIZAnalyticsDelegate& d, const auto& page) { d.analyticsDidSucceedSendingPageLog(*this, page); });
}

void DIZAnalytics::channelDidFailSendingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log,
                                            const std::optional<Error>& error) {
    std::shared_ptr<DIZAnalyticsDelegate> delegate;
    {
        std::lock_guard guard(lock_);
        delegate = delegate_;
    }
    tellDelegate(
        delegate, log,
        [&](DIZAnalyticsDelegate& d, const auto& event) {
            d.analyticsDidFailSendingEventLog(*this, event, error);
        },
        [&](DIZAnalyticsDelegate& d, const auto& page) {
            d.analyticsDidFailSendingPageLog(*this, page, error);
        });
}
