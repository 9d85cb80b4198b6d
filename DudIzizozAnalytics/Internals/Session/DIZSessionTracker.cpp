#include "DudIzizozAnalytics/Internals/Session/DIZSessionTracker.h"

#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozAnalytics/Model/DIZStartSessionLog.h"
#include "platform/appkit/NSApplication.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UUID.h"

namespace {
constexpr const char* kLogTag = "DudIzizozAnalytics";
constexpr const char* kPastSessionsKey = "PastSessions";

// An application extension ends its sessions on silence alone: it has no active state of its own.
// Its executable lies inside its ".appex" bundle.
bool isApplicationExtension() {
    const auto bundle = Bundle::mainBundle();
    const auto executable = bundle->bundlePath() / bundle->executableName();
    return executable.string().find(".appex/") != std::string::npos;
}
}  // namespace

DIZSessionTracker::DIZSessionTracker() : context_(DIZSessionContext::sharedInstance()) {
    DIZDudIzizozUserDefaults::shared()->removeObjectForKey(kPastSessionsKey);
}

void DIZSessionTracker::setDelegate(std::weak_ptr<DIZSessionTrackerDelegate> delegate) {
    std::lock_guard guard(lock_);
    delegate_ = std::move(delegate);
}

void DIZSessionTracker::start() {
    {
        std::lock_guard guard(lock_);
        if (started_ || manualSessionTrackerEnabled_) return;
        started_ = true;
    }
    if (DIZUtility::applicationState() < DIZApplicationState::Background) renewSessionId();
    // The handlers hold the tracker weakly: it stops observing when it goes.
    std::weak_ptr<DIZSessionTracker> weak = weak_from_this();
    auto& center = NotificationCenter::defaultCenter();
    auto resign = center.addObserver(NSApplicationDidResignActiveNotification, [weak](const Notification&) {
        if (auto tracker = weak.lock()) tracker->applicationDidEnterBackground();
    });
    auto become = center.addObserver(NSApplicationWillBecomeActiveNotification, [weak](const Notification&) {
        if (auto tracker = weak.lock()) tracker->applicationWillEnterForeground();
    });
    std::lock_guard guard(lock_);
    didResignActive_ = std::move(resign);
    willBecomeActive_ = std::move(become);
}

void DIZSessionTracker::stop() {
    NotificationCenter::Token resign, become;
    {
        std::lock_guard guard(lock_);
        if (!started_ || manualSessionTrackerEnabled_) return;
        resign = std::move(didResignActive_);
        become = std::move(willBecomeActive_);
        started_ = false;
    }
    resign.cancel();
    become.cancel();
    context_->setSessionId(std::nullopt);
}

bool DIZSessionTracker::isStarted() const {
    std::lock_guard guard(lock_);
    return started_;
}

void DIZSessionTracker::enableManualSessionTracker() {
    std::lock_guard guard(lock_);
    if (started_) {
        DIZLogInfo(kLogTag,
                   "Manual session tracker should be set before the DIZAnalytics service is started.");
        return;
    }
    manualSessionTrackerEnabled_ = true;
    DIZLogInfo(kLogTag, "Manual session tracker is enabled.");
}

bool DIZSessionTracker::isManualSessionTrackerEnabled() const {
    std::lock_guard guard(lock_);
    return manualSessionTrackerEnabled_;
}

void DIZSessionTracker::startSession() {
    if (!isManualSessionTrackerEnabled()) {
        DIZLogInfo(kLogTag, "Can't start new session because manual session tracker is disabled.");
        return;
    }
    sendStartSession();
    DIZLogInfo(kLogTag, "Started a new session: %@", context_->sessionId());
}

void DIZSessionTracker::renewSessionId() {
    std::lock_guard guard(lock_);
    if (!started_) return;
    if (!context_->sessionId() || hasSessionTimedOut()) sendStartSession();
}

void DIZSessionTracker::sendStartSession() {
    const std::string sessionId = UUID().uuidString();
    context_->setSessionId(sessionId);
    DIZLogInfo(kLogTag, "New session ID: %@", sessionId);
    auto log = std::make_shared<DIZStartSessionLog>();
    log->setSid(sessionId);
    std::shared_ptr<DIZSessionTrackerDelegate> delegate;
    {
        std::lock_guard guard(lock_);
        delegate = delegate_.lock();
    }
    if (delegate) delegate->sessionTrackerProcessLog(*this, log);
}

bool DIZSessionTracker::hasSessionTimedOut() const {
    std::lock_guard guard(lock_);
    const Date now = Date::now();
    const bool noLogForLong =
        !lastCreatedLogTime_ || now.timeIntervalSince(*lastCreatedLogTime_) >= kSessionTimeout;
    if (isApplicationExtension()) return noLogForLong;
    const auto& background = lastEnteredBackgroundTime_;
    const auto& foreground = lastEnteredForegroundTime_;
    const bool inBackgroundForLong = background && foreground && *background > *foreground &&
                                     now.timeIntervalSince(*background) >= kSessionTimeout;
    const bool wasInBackgroundForLong =
        background && (foreground ? foreground->timeIntervalSince(*background) : 0) >= kSessionTimeout;
    return noLogForLong && (inBackgroundForLong || wasInBackgroundForLong);
}

void DIZSessionTracker::applicationDidEnterBackground() {
    std::lock_guard guard(lock_);
    if (manualSessionTrackerEnabled_) {
        DIZLogInfo(kLogTag,
                   "Manual session tracker is enabled. Skip tracking a session status request after enter "
                   "background.");
        return;
    }
    lastEnteredBackgroundTime_ = Date::now();
}

void DIZSessionTracker::applicationWillEnterForeground() {
    std::lock_guard guard(lock_);
    if (manualSessionTrackerEnabled_) {
        DIZLogInfo(kLogTag,
                   "Manual session tracker is enabled. Skip tracking a session status request after enter "
                   "foreground.");
        return;
    }
    lastEnteredForegroundTime_ = Date::now();
    renewSessionId();
}

void DIZSessionTracker::channelPrepareLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) {
    if (!log || dynamic_cast<DIZStartSessionLog*>(log.get()) || dynamic_cast<DIZStartServiceLog*>(log.get()))
        return;
    std::lock_guard guard(lock_);
    if (!dynamic_cast<DIZNoAutoAssignSessionIdLog*>(log.get())) log->setSid(context_->sessionId());
    lastCreatedLogTime_ = Date::now();
}
