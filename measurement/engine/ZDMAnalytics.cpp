#include "measurement/engine/ZDMAnalytics.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/VUZArezivodoConnector.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMConfigStoreChoice.h"
#include "measurement/foundation/ZDMInternalEventLog.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"

namespace {
struct Observers {
    struct Entry {
        uint64_t id;
        ZDMAnalytics::InternalEventObserver observer;
    };
    std::mutex mutex;
    uint64_t nextID = 0;
    std::vector<Entry> entries;
};

constinit SharedInstance<Observers> observers;
constinit SharedInstance<ZDMAnalyticsState> facadeState;
constinit SharedInstance<ZDMAnalytics> sharedFacade;

// The foundation reports refused input from below this layer; linking the facade connects it.
void connectFoundation() {
    ZDMSetInternalEventLogger(&ZDMAnalytics::logInternalEventWithOrigin);
}
const bool connected = (connectFoundation(), true);
}  // namespace

ZDMAnalyticsState::ZDMAnalyticsState() {
    operationQueue->setName(ZDMAnalytics::kOperationQueueName);
    operationQueue->setMaxConcurrentOperationCount(1);
    operationQueue->setSuspended(true);
}

std::shared_ptr<ZDMAnalyticsState> ZDMAnalyticsCurrentState() {
    return facadeState.get();
}

void ZDMAnalyticsLog(int64_t level, int64_t code, const std::string& message) {
    zdm_engine::log(level, code, message);
}

void ZDMAnalyticsLog(int64_t level, int64_t code, const std::string& message, const Value& context) {
    zdm_engine::log(level, code, message, context);
}

std::shared_ptr<ZDMAnalytics> ZDMAnalytics::sharedInstance() {
    return sharedFacade.get();
}

ZDMAnalytics::~ZDMAnalytics() {
    SKPaymentQueue::defaultQueue()->removeTransactionObserver(this);
}

std::shared_ptr<DispatchQueue> ZDMAnalytics::queue() {
    return facadeState.get()->serialQueue;
}

std::shared_ptr<OperationQueue> ZDMAnalytics::operationQueue() {
    return facadeState.get()->operationQueue;
}

void ZDMAnalytics::dispatchAsyncOnSerialQueue(Block block) {
    queue()->async(std::move(block));
}

void ZDMAnalytics::queueOperationWithBlock(Block block) {
    const auto state = facadeState.get();
    state->operationQueue->addOperation(
        [serialQueue = state->serialQueue, block = std::move(block)] { serialQueue->async(block); });
}

void ZDMAnalytics::queueOperationWithBlockThenWait(Block block) {
    const auto state = facadeState.get();
    queueOperationWithBlock(std::move(block));
    if (state->operationQueue->isSuspended()) return;
    state->operationQueue->waitUntilAllOperationsAreFinished();
    state->operationQueue->setSuspended(true);
    state->serialQueue->after(
        0.5, [operationQueue = state->operationQueue] { operationQueue->setSuspended(false); });
}

void ZDMAnalytics::unsuspendOperationQueue() {
    facadeState.get()->operationQueue->setSuspended(false);
}

bool ZDMAnalytics::isCurrentQueueSerialQueue() {
    return DispatchQueue::currentLabel() == kQueueLabel;
}

void ZDMAnalytics::resetForTesting() {
    // What was handed over finishes first, so that nothing of one test runs into the next.
    if (const auto state = facadeState.existing()) {
        if (!state->operationQueue->isSuspended()) state->operationQueue->waitUntilAllOperationsAreFinished();
        state->timestampQueue->sync([] {});
        state->serialQueue->sync([] {});
    }
    facadeState.reset();
    sharedFacade.reset();
}

void ZDMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const Dictionary& parameters) {
    auto registry = observers.get();
    std::vector<Observers::Entry> entries;
    {
        std::lock_guard lock(registry->mutex);
        entries = registry->entries;
    }
    for (const auto& entry : entries) entry.observer(origin, name, parameters);
    logEventWithOrigin(origin, false, name, parameters);
}

Cancellable ZDMAnalytics::addInternalEventObserver(InternalEventObserver observer) {
    // Also here, for a program that registers before static initialisation reached this file.
    connectFoundation();
    auto registry = observers.get();
    std::lock_guard lock(registry->mutex);
    const uint64_t id = registry->nextID++;
    registry->entries.push_back({id, std::move(observer)});
    std::weak_ptr<Observers> weakRegistry = registry;
    return Cancellable([weakRegistry, id] {
        if (auto registry = weakRegistry.lock()) {
            std::lock_guard lock(registry->mutex);
            std::erase_if(registry->entries, [id](const Observers::Entry& entry) { return entry.id == id; });
        }
    });
}

namespace {
ZDMUserDefaults suite() {
    return ZDMUserDefaults(ZDMAnalytics::kSuiteName);
}

std::optional<Dictionary> suiteDictionary(const char* key) {
    return suite().dictionaryForKey(key);
}

// The load timestamp outlives no test: a reset makes the next read or hook record it anew.
struct LoadTimestamp {
    std::mutex mutex;
    std::optional<double> value;
};
LoadTimestamp& loadTimestampState() {
    static LoadTimestamp* state = [] {
        auto* made = new LoadTimestamp;
        registerResetForTesting([made] {
            std::lock_guard lock(made->mutex);
            made->value.reset();
        });
        return made;
    }();
    return *state;
}
}  // namespace

double ZDMAnalytics::loadTimestamp() {
    auto& state = loadTimestampState();
    std::lock_guard lock(state.mutex);
    if (!state.value) state.value = Clock::current().now();
    return *state.value;
}

void ZDMAnalytics::setLoadTimestamp(double timestamp) {
    auto& state = loadTimestampState();
    std::lock_guard lock(state.mutex);
    state.value = timestamp;
}

void registerMeasurementHooks() {
    ZDMMeasurement::subscribeForAppDidFinishLaunchingNotifications();
    ZDMAnalytics::loadTimestamp();
    VUZArezivodoRegisterClass();
    VUZArezivodoConnector::load();
}

int64_t ZDMAnalytics::resetRetryCount() {
    return suite().integerForKey(kResetRetryCountKey);
}

void ZDMAnalytics::setResetRetryCount(int64_t count) {
    if (count < 1) return suite().removeObjectForKey(kResetRetryCountKey);
    suite().setInteger(count, kResetRetryCountKey);
}

bool ZDMAnalytics::needFirstOpenAfterReset() {
    return suite().boolForKey(kNeedFirstOpenAfterResetKey);
}

void ZDMAnalytics::setNeedFirstOpenAfterReset(bool need) {
    suite().setBool(need, kNeedFirstOpenAfterResetKey);
}

void ZDMAnalytics::removeNeedFirstOpenAfterReset() {
    suite().removeObjectForKey(kNeedFirstOpenAfterResetKey);
}

std::optional<std::string> ZDMAnalytics::appInstanceIDAfterReset() {
    return suite().stringForKey(kAppInstanceIDAfterResetKey);
}

void ZDMAnalytics::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
    if (!appInstanceID || appInstanceID->empty())
        return suite().removeObjectForKey(kAppInstanceIDAfterResetKey);
    suite().setObject(Value(*appInstanceID), kAppInstanceIDAfterResetKey);
}

std::optional<Value> ZDMAnalytics::deferredAnalyticsCollection() {
    return suite().objectForKey(kDeferredAnalyticsCollectionKey);
}

void ZDMAnalytics::setDeferredAnalyticsCollection(const std::optional<Value>& value) {
    if (!value || value->isNull()) return suite().removeObjectForKey(kDeferredAnalyticsCollectionKey);
    suite().setObject(*value, kDeferredAnalyticsCollectionKey);
}

bool ZDMAnalytics::persistentConfigInApplicationSupportEnabled() {
    return ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled();
}

void ZDMAnalytics::setPersistentConfigInApplicationSupportEnabled(bool enabled) {
    ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(enabled);
}

void ZDMAnalytics::persistConsentSettings(const Dictionary& settings, int64_t source) {
    auto store = suite();
    store.setObject(Value(settings), source < 21 ? kConsentSettings3PKey : kConsentSettingsKey);
    store.setInteger(source, kConsentSourceKey);
}

std::optional<Dictionary> ZDMAnalytics::consentSettings1P() {
    return suiteDictionary(kConsentSettingsKey);
}

std::optional<Dictionary> ZDMAnalytics::consentSettings3P() {
    return suiteDictionary(kConsentSettings3PKey);
}

std::optional<Dictionary> ZDMAnalytics::consentSettings1PStart() {
    return suiteDictionary(kConsentSettingsOnStartKey);
}

int64_t ZDMAnalytics::persistedConsentSource() {
    const auto stored = suite().objectForKey(kConsentSourceKey);
    if (!stored || !stored->isNumber()) return ZDMConsentSettingsUtil::kSourceNone;
    return suite().integerForKey(kConsentSourceKey);
}

void ZDMAnalytics::removeStartUpConsentSettings() {
    suite().removeObjectForKey(kConsentSettingsOnStartKey);
}

bool ZDMAnalytics::deferredResetOnDeniedConsent() {
    return suite().boolForKey(kDeferredConsentResetKey);
}

void ZDMAnalytics::removeDeferredResetOnDeniedConsent() {
    suite().removeObjectForKey(kDeferredConsentResetKey);
}

void ZDMAnalytics::clearConsent() {
    auto store = suite();
    for (const char* key : {kConsentSourceKey, kConsentSettings3PKey, kConsentSettingsKey,
                            kConsentSettingsOnStartKey, kDeferredConsentResetKey})
        store.removeObjectForKey(key);
    ZDMConsentSettingsUtil::setConsentSettings(std::nullopt);
}

void ZDMAnalyticsStoreStartUpConsentSettings(const Dictionary& settings) {
    suite().setObject(Value(settings), ZDMAnalytics::kConsentSettingsOnStartKey);
}

void ZDMAnalyticsStoreDeferredConsentReset() {
    suite().setBool(true, ZDMAnalytics::kDeferredConsentResetKey);
}

void ZDMAnalytics::loadPersistedConsentSettings() {
    int64_t source = persistedConsentSource();
    if (source == ZDMConsentSettingsUtil::kSourceNone) return;
    if (const auto thirdParty = consentSettings3P()) {
        ZDMConsentSettingsUtil::setConsentSettings(thirdParty);
        source = std::min(source, ZDMConsentSettingsUtil::kSourceInfoPlist);
    } else if (const auto app = consentSettings1P()) {
        ZDMConsentSettingsUtil::setConsentSettings(app);
        source = std::min(source, ZDMConsentSettingsUtil::kSourceStoredOnStart);
    }
    ZDMConsentSettingsUtil::setConsentSource(source);
}
