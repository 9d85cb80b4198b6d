// How the engine follows the host application's life: what it subscribes to, when, and what each
// notification sets off. Handlers run on the posting thread and only flush the persisted
// configuration or hand work on; the work itself runs on the worker queue.
#include <cmath>
#include <mutex>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/foundation/ZDMNotificationNames.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/NotificationCenter.h"

using zdm_engine::log;

namespace {
// Subscriptions are never removed: their tokens are kept here for the life of the process. A
// handler holds its engine weakly, so an engine that is gone is told nothing.
void keepForProcess(NotificationCenter::Token token) {
    static std::mutex mutex;
    static auto* tokens = new std::vector<NotificationCenter::Token>;
    std::lock_guard lock(mutex);
    tokens->push_back(std::move(token));
}

NotificationCenter::Token subscribe(const std::string& name, NotificationCenter::Observer observer) {
    return NotificationCenter::defaultCenter().addObserver(name, std::move(observer));
}
}  // namespace

void ZDMMeasurement::subscribeForAppDidFinishLaunchingNotifications() {
    static std::once_flag once;
    std::call_once(once, [] {
        keepForProcess(
            subscribe(ZDMAppDidFinishLaunchingNotificationName(),
                      [](const Notification& notification) { handleAppDidFinishLaunching(notification); }));
    });
}

void ZDMMeasurement::handleAppDidFinishLaunching(const Notification& notification) {
    // Made now, so that it already listens when the app first becomes active.
    ZDMScreenViewReporter::sharedInstance();
    if (notification.userInfo.asDictionary()) handleStoredURLAfterAppLaunchWithNotification(notification);
}

void ZDMMeasurement::subscribeForAppForegroundBackgroundNotifications() {
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    keepForProcess(
        subscribe(ZDMAppDidBecomeActiveNotificationName(), [weakSelf](const Notification& notification) {
            if (auto self = weakSelf.lock()) self->handleAppDidBecomeActiveEvent(notification);
        }));
    keepForProcess(
        subscribe(ZDMAppWillResignActiveNotificationName(), [weakSelf](const Notification& notification) {
            if (auto self = weakSelf.lock()) self->handleAppWillResignActiveEvent(notification);
        }));
}

void ZDMMeasurement::handleAppDidBecomeActiveEvent(const Notification& /*notification*/) {
    // Only while the server blocks internal events: then no upload cycle runs to refresh the
    // configuration, so activation is what keeps it from going stale.
    const auto remoteConfig = remoteConfigInstance();
    if (!remoteConfig || !remoteConfig->blocklistInternal()) return;
    scheduleOnWorkerQueue("ZDMMeasurement:3920", [](ZDMMeasurement& self) {
        const double age =
            std::abs(Clock::current().now() - self.remoteConfigInstance()->lastRemoteConfigUpdateTimestamp());
        if (age < kActivationConfigurationMaxAge) return;
        if (self.isNetworkReadyForRequest())
            self.fetchRemoteConfig();
        else
            log(8, 23143, "Network operation is pending. Ignoring request to fetch configuration");
    });
}

void ZDMMeasurement::handleAppWillResignActiveEvent(const Notification& /*notification*/) {
    persistedConfig_->synchronizeToDisk();
    log(8, 23144, "App will resign active state. Scheduling data upload");
    // Through the facade's operation queue, so that a resignation before the facade has started
    // asks for its upload only once it has.
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    ZDMAnalytics::queueOperationWithBlock([weakSelf] {
        if (auto self = weakSelf.lock())
            self->scheduleOnWorkerQueue("ZDMMeasurement:3975",
                                        [](ZDMMeasurement& engine) { engine.uploadData(); });
    });
}

void ZDMMeasurement::handleAppWillEnterForegroundNotification(const Notification& /*notification*/) {
    terminateBackgroundTask();
}
