#include "measurement/foundation/ZDMPersistedConfig.h"

#include <random>

#include "measurement/foundation/ZDMConfigStoreChoice.h"
#include "measurement/foundation/ZDMFileMoves.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMPersistentDictionary.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constexpr double kSynchronizeDelaySeconds = 1.0;
constexpr const char* kMeasurementEnabledStateKey = "/zizoda/measurement/measurement_enabled_state";
constexpr const char* kMidnightOffsetKey = "/zizoda/measurement/midnight_offset";
constexpr const char* kSearchAdCampaignKey = "/zizoda/measurement/is_search_ad_campaign";

std::shared_ptr<ZDMPersistedConfig> makeShared() {
    return ZDMPersistedConfig::make(ZDMPersistedConfig::kSuiteName);
}
constinit SharedInstance<ZDMPersistedConfig> sharedConfig{&makeShared};

// The store the facade's choice asks for, with the values of the other one moved over first.
std::shared_ptr<ZDMConfigStore> makeStore(const std::string& suiteName) {
    if (ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled()) {
        ZDMMigrateDefaultsSuiteToPlistFile(suiteName);
        return ZDMPersistentDictionary::make(suiteName);
    }
    ZDMMigratePlistFileToDefaultsSuite(suiteName);
    return std::make_shared<ZDMUserDefaults>(suiteName);
}

double drawMidnightOffset() {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uniform_int_distribution<int64_t> milliseconds(0, 86'400'000 - 1);
    std::lock_guard lock(mutex);
    return static_cast<double>(milliseconds(engine)) / 1000.0;
}
}  // namespace

std::shared_ptr<ZDMPersistedConfig> ZDMPersistedConfig::sharedInstance() {
    auto config = sharedConfig.get();
    if (!config) ZDMMonitor::sharedMonitor()->logWithLevel(1, 27001, "PersistedConfig's shared instance is nil");
    return config;
}

std::shared_ptr<ZDMPersistedConfig> ZDMPersistedConfig::make(const std::string& suiteName) {
    if (suiteName.empty()) return nullptr;
    return std::make_shared<ZDMPersistedConfig>(suiteName, makeStore(suiteName));
}

ZDMPersistedConfig::ZDMPersistedConfig(std::string name, std::shared_ptr<ZDMConfigStore> store)
    : name_(std::move(name)), store_(std::move(store)), serialQueue_(DispatchQueue::serial("ZDMPersistedConfig")) {}

ZDMPersistedConfig::~ZDMPersistedConfig() {
    cancelScheduledSynchronize();
}

template <class F>
auto ZDMPersistedConfig::onQueue(F&& work) {
    using Result = decltype(work());
    if constexpr (std::is_void_v<Result>) {
        serialQueue_->sync([&] { work(); });
    } else {
        Result result{};
        serialQueue_->sync([&] { result = work(); });
        return result;
    }
}

bool ZDMPersistedConfig::boolForKey(const std::string& key) {
    if (key.empty() || !store_) return false;
    return onQueue([&] { return store_->boolForKey(key); });
}

int64_t ZDMPersistedConfig::int64ForKey(const std::string& key) {
    if (key.empty() || !store_) return 0;
    return int64ForKey(key, *store_);
}

int64_t ZDMPersistedConfig::int64ForKey(const std::string& key, ZDMConfigStore& userDefault) {
    if (key.empty()) return 0;
    return onQueue([&]() -> int64_t {
        auto value = userDefault.objectForKey(key);
        return value && value->isNumber() ? *value->asInteger() : 0;
    });
}

double ZDMPersistedConfig::doubleForKey(const std::string& key) {
    if (key.empty() || !store_) return 0;
    return onQueue([&] { return store_->doubleForKey(key); });
}

std::optional<std::string> ZDMPersistedConfig::stringForKey(const std::string& key) {
    if (key.empty() || !store_) return std::nullopt;
    return onQueue([&] { return store_->stringForKey(key); });
}

std::optional<Dictionary> ZDMPersistedConfig::dictionaryForKey(const std::string& key) {
    if (key.empty() || !store_) return std::nullopt;
    return onQueue([&] { return store_->dictionaryForKey(key); });
}

// Unlike the other reads, an empty key goes on to the store, which logs it.
std::optional<Value> ZDMPersistedConfig::numberForKey(const std::string& key) {
    return plainObject(key);
}

void ZDMPersistedConfig::storeThenSchedule(const Value& value, const std::string& key) {
    if (!store_) return;
    onQueue([&] {
        store_->setObject(value, key);
        scheduleSynchronizeToDisk();
    });
}

void ZDMPersistedConfig::setBool(bool value, const std::string& key) {
    storeThenSchedule(Value(value), key);
}

void ZDMPersistedConfig::setInt64(int64_t value, const std::string& key) {
    storeThenSchedule(Value(value), key);
}

void ZDMPersistedConfig::setDouble(double value, const std::string& key) {
    storeThenSchedule(Value(value), key);
}

void ZDMPersistedConfig::setString(const std::optional<std::string>& value, const std::string& key) {
    storeThenSchedule(value ? Value(*value) : Value(), key);
}

void ZDMPersistedConfig::setDictionary(const std::optional<Dictionary>& value, const std::string& key) {
    if (!store_) return;
    onQueue([&] {
        try {
            store_->setObject(value ? Value(*value) : Value(), key);
        } catch (const Exception&) {
            ZDMMonitor::sharedMonitor()->logWithLevel(1, 27002, "Unsupported value passed in dictionary");
            return;
        }
        scheduleSynchronizeToDisk();
    });
}

void ZDMPersistedConfig::setNumber(const std::optional<Value>& value, const std::string& key) {
    storeThenSchedule(value.value_or(Value()), key);
}

std::optional<Value> ZDMPersistedConfig::plainObject(const std::string& key) {
    if (!store_) return std::nullopt;
    return onQueue([&] { return store_->objectForKey(key); });
}

void ZDMPersistedConfig::setPlainObject(const std::optional<Value>& value, const std::string& key) {
    if (!store_) return;
    onQueue([&] { store_->setObject(value.value_or(Value()), key); });
}

std::optional<Value> ZDMPersistedConfig::searchAdCampaignValue() {
    return store_ ? store_->objectForKey(kSearchAdCampaignKey) : std::nullopt;
}

void ZDMPersistedConfig::setSearchAdCampaignValue(const std::optional<Value>& value) {
    if (store_ && value && value->isNumber()) store_->setObject(*value, kSearchAdCampaignKey);
}

int64_t ZDMPersistedConfig::measurementEnabledState() {
    return int64ForKey(kMeasurementEnabledStateKey, *ZDMUserDefaults::standardUserDefaults());
}

void ZDMPersistedConfig::setMeasurementEnabledState(int64_t state) {
    onQueue([&] {
        auto standard = ZDMUserDefaults::standardUserDefaults();
        standard->setObject(Value(state), kMeasurementEnabledStateKey);
        standard->synchronize();
    });
}

// Read, draw and store in one block on the queue, so two first readers cannot draw two offsets.
double ZDMPersistedConfig::midnightOffset() {
    if (!store_) return 0;
    return onQueue([&] {
        auto stored = store_->objectForKey(kMidnightOffsetKey);
        if (stored && stored->isNumber()) return *stored->asReal();
        const double offset = drawMidnightOffset();
        store_->setDouble(offset, kMidnightOffsetKey);
        scheduleSynchronizeToDisk();
        return offset;
    });
}

void ZDMPersistedConfig::clearValues() {
    if (!store_) return;
    onQueue([&] { store_->clearAllData(); });
}

void ZDMPersistedConfig::synchronizeToDisk() {
    // The main thread never waits for the disk.
    if (DispatchQueue::isMainThread()) {
        scheduleSynchronizeToDisk();
        return;
    }
    if (store_) store_->synchronize();
}

void ZDMPersistedConfig::scheduleSynchronizeToDisk() {
    cancelScheduledSynchronize();
    {
        std::lock_guard lock(lock_);
        const uint64_t generation = ++synchronizeGeneration_;
        synchronizePending_ = true;
        std::weak_ptr<ZDMPersistedConfig> weak = weak_from_this();
        serialQueue_->after(kSynchronizeDelaySeconds, [weak, generation] {
            if (auto self = weak.lock()) self->runScheduledSynchronize(generation);
        });
    }
    updateConfigStoreMigrationFlagIfNeeded();
}

void ZDMPersistedConfig::runScheduledSynchronize(uint64_t generation) {
    {
        std::lock_guard lock(lock_);
        if (!synchronizePending_ || generation != synchronizeGeneration_) return;
        synchronizePending_ = false;
    }
    synchronizeToDisk();
}

// A cancelled write stays in the queue's timer list but finds its generation outdated.
void ZDMPersistedConfig::cancelScheduledSynchronize() {
    std::lock_guard lock(lock_);
    synchronizePending_ = false;
    ++synchronizeGeneration_;
}

void ZDMPersistedConfig::updateConfigStoreMigrationFlagIfNeeded() {
    {
        std::lock_guard lock(lock_);
        if (!shouldCheckConfigStoreMigrationFlag_) return;
    }
    auto remoteConfig = ZDMConfigStoreChoice::remoteConfig();
    if (!remoteConfig || remoteConfig->isDefaultInstance()) return;
    {
        std::lock_guard lock(lock_);
        if (!shouldCheckConfigStoreMigrationFlag_) return;
        shouldCheckConfigStoreMigrationFlag_ = false;
    }
    ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(
        remoteConfig->persistentConfigInApplicationSupportEnabled());
}
