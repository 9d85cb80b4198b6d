#include "measurement/audiences/experiments/ZDMEManager.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "measurement/audiences/experiments/ZDMEExperimentRequestBuilder.h"
#include "measurement/audiences/experiments/ZDMPBFlagWithNameAndValue.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMErrors.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kStaleAge = 259200;  // three days
constexpr const char* kVersionString = "10000000";

constinit SharedInstance<ZDMEMonitor> sharedMonitor{
    [] { return std::make_shared<ZDMEMonitor>(ZDMMeasurement::monitor()); }};

std::shared_ptr<ZDMEManager> makeSharedManager() {
    auto manager = ZDMEManager::initWithTaskManager(ZDMETaskManager::init());
    manager->taskManager()->startTaskManager();
    return manager;
}
constinit SharedInstance<ZDMEManager> sharedManager{&makeSharedManager};

}  // namespace

std::shared_ptr<ZDMEManager> ZDMEManager::sharedInstance() {
    return sharedManager.get();
}

std::shared_ptr<ZDMEMonitor> ZDMEManager::monitor() {
    return sharedMonitor.get();
}

void ZDMEManager::setMonitorForTesting(std::shared_ptr<ZDMEMonitor> monitor) {
    sharedMonitor.set(std::move(monitor));
}

int64_t ZDMEManager::version() {
    const std::string_view text = kVersionString;
    if (text.size() < 4) return 0;
    int64_t version = 0;
    std::from_chars(text.data(), text.data() + text.size() - 3, version);
    return version;
}

ZDMEManager::ZDMEManager(std::shared_ptr<ZDMETaskManager> taskManager)
    : taskManager_(std::move(taskManager)), queue_(DispatchQueue::serial("ZDMEExperimentSerialQueue")) {}

std::shared_ptr<ZDMEManager> ZDMEManager::initWithTaskManager(std::shared_ptr<ZDMETaskManager> taskManager) {
    auto manager = std::make_shared<ZDMEManager>(std::move(taskManager));
    if (manager->taskManager_) manager->taskManager_->setDelegate(manager);
    return manager;
}

void ZDMEManager::dispatchAsyncOnSerialQueue(std::function<void()> block) {
    queue_->async([block = std::move(block)] {
        monitor()->runCatchingExceptions(block, 800017, "Exception on async Experimentation serial queue");
    });
}

void ZDMEManager::dispatchSyncOnSerialQueue(const std::function<void()>& block) {
    queue_->sync([&block] {
        monitor()->runCatchingExceptions(block, 800018, "Exception on sync Experimentation serial queue");
    });
}

std::shared_ptr<ZDMEClient> ZDMEManager::registerSDKProperty(const std::shared_ptr<ZDMESDKProperty>& property,
                                                             const Dictionary& defaultFlags) {
    if (!property) {
        monitor()->logWithLevel(0, 800000, "Cannot register client with a nil SDK property");
        return nullptr;
    }
    const std::string name = property->name();
    if (name.empty()) {
        monitor()->logWithLevel(0, 800001, "Cannot register experiment client with no SDK name");
        return nullptr;
    }
    std::vector<ZDMEFlag> flags;
    std::map<std::string, ZDMEFlag> flagsByName;
    for (const auto& [flagName, value] : defaultFlags) {
        auto flag = ZDMPBFlagWithNameAndValue(Value(flagName), value);
        if (!flag) {
            monitor()->logWithLevel(0, 800002,
                                    "Cannot register experiment client invalid flags. Flag name, value",
                                    Value(flagName), value);
            return nullptr;
        }
        flags.push_back(flag);
        flagsByName.insert_or_assign(flagName, flag);
    }
    auto client = ZDMEClient::initWithSDKProperty(property, flags, weak_from_this());
    if (!client) {
        monitor()->logWithLevel(1, 800004, "Cannot register client. SDK name", Value(name));
        return nullptr;
    }
    dispatchAsyncOnSerialQueue([this, self = shared_from_this(), name, client, flagsByName, property] {
        if (registeredClientsBySDKName_.get(name))
            monitor()->logWithLevel(
                3, 800003,
                "Registered an SDK that has already registered. Default flags will be overwritten. SDK name",
                Value(name));
        registeredClientsBySDKName_.set(name, client);
        defaultFlagsBySDKName_.set(name, flagsByName);
        ZDMEExperimentRequestBuilder::sharedInstance()->addSDKProperty(property);
        monitor()->logWithLevel(8, 800005, "Registered client", Value(name));
    });
    return client;
}

std::shared_ptr<ZDMEClient> ZDMEManager::clientForSDKName(const std::string& SDKName) {
    std::shared_ptr<ZDMEClient> client;
    dispatchSyncOnSerialQueue([&] { client = registeredClientsBySDKName_.get(SDKName).value_or(nullptr); });
    return client;
}

std::vector<int64_t> ZDMEManager::experimentIDs() {
    std::vector<int64_t> IDs;
    dispatchSyncOnSerialQueue([&] {
        for (const auto& [name, client] : registeredClientsBySDKName_.copy()) {
            if (client->SDKProperty()->diversionKey()) continue;
            auto activated = activatedSnapshotsBySDKName_.get(name).value_or(nullptr);
            if (!activated) continue;
            for (const auto& experiment : activated->experiments()) IDs.push_back(experiment->experimentID());
        }
    });
    std::sort(IDs.begin(), IDs.end());
    return IDs;
}

Value ZDMEManager::flagValueForFlagName(const Value& flagName, const Value& SDKName) {
    if (!SDKName.isString()) {
        monitor()->logWithLevel(0, 800008, "Cannot get flag value for an invalid SDK name", SDKName);
        return Value();
    }
    if (!flagName.isString()) {
        monitor()->logWithLevel(0, 800009, "Cannot get flag value for invalid flag name. SDK name, flag name",
                                SDKName, flagName);
        return Value();
    }
    if (SDKName.asString()->empty()) {
        monitor()->logWithLevel(0, 800010, "Cannot retrieve flag value for empty SDK name");
        return Value();
    }
    if (flagName.asString()->empty()) {
        monitor()->logWithLevel(0, 800011, "Cannot retrieve flag value for empty flag name");
        return Value();
    }
    Value value;
    dispatchSyncOnSerialQueue(
        [&] { value = flagValueOnSerialQueue(*flagName.asString(), *SDKName.asString()); });
    return value;
}

Value ZDMEManager::flagValueOnSerialQueue(const std::string& flagName, const std::string& SDKName) {
    if (!registeredClientsBySDKName_.get(SDKName)) {
        monitor()->logWithLevel(3, 800012, "SDK is not registered yet", Value(SDKName));
        return Value();
    }
    auto defaults = defaultFlagsBySDKName_.get(SDKName);
    if (!defaults) {
        monitor()->logWithLevel(3, 800013, "Cannot get flag for unregistered SDK. SDK name, flag name",
                                Value(SDKName), Value(flagName));
        return Value();
    }
    const auto description = [](const std::shared_ptr<ZDMESnapshot>& snapshot) {
        return snapshot ? Value(snapshot->SDKName()) : Value();
    };
    // A flag counts only when it holds a value; one without falls through to the next stage.
    auto activated = activatedSnapshotsBySDKName_.get(SDKName).value_or(nullptr);
    monitor()->logWithLevel(8, 800015, "Looking for activated flag. SDK name, flag name, activated snapshot",
                            Value(SDKName), Value(flagName), description(activated));
    if (activated) {
        if (Value value = ZDMPBFlagValue(activated->flagByName(flagName).get()); !value.isNull())
            return value;
    }
    auto launched = launchedSnapshotsBySDKName_.get(SDKName).value_or(nullptr);
    monitor()->logWithLevel(
        8, 800016,
        "Cannot find activated flag. Looking for launched flag. SDK name, flag name, launched flag",
        Value(SDKName), Value(flagName), description(launched));
    if (launched) {
        if (Value value = ZDMPBFlagValue(launched->flagByName(flagName).get()); !value.isNull()) return value;
    }
    if (auto flag = defaults->find(flagName); flag != defaults->end()) {
        Value value = ZDMPBFlagValue(flag->second.get());
        monitor()->logWithLevel(
            8, 800019,
            "Cannot find launched flag. Returned the default flag value. SDK name, flag name, "
            "default flag",
            Value(SDKName), Value(flagName), value);
        return value;
    }
    monitor()->logWithLevel(8, 800014, "No default flag value. SDK name, flag name", Value(SDKName),
                            Value(flagName));
    return Value();
}

bool ZDMEManager::activateSnapshotOfSDK(const std::optional<std::string>& SDKName, Error* error) {
    if (!ZDMCheckObjectOrSetError(SDKName, error, 1, "SDK name cannot be nil")) {
        monitor()->logWithLevel(3, 800021, "Cannot activate a pending snapshot for a nil SDK name");
        return false;
    }
    if (!ZDMCheckLengthOrSetError(SDKName->size(), error, 1, "SDK name cannot be empty")) {
        monitor()->logWithLevel(3, 800022, "Cannot activate a pending snapshot for an empty SDK name");
        return false;
    }
    const std::string& name = *SDKName;
    bool activated = false;
    dispatchSyncOnSerialQueue([&] {
        auto pending = pendingSnapshotsBySDKName_.get(name).value_or(nullptr);
        if (!pending) {
            monitor()->logWithLevel(3, 800023, "No pending snapshot to activate. SDK name", Value(name));
            return;
        }
        const double now = Clock::current().now();
        auto active = ZDMESnapshot::initWithSDKName(name, {});
        if (!active) return;
        active->setTimestamp(now);
        for (const auto& experiment : pending->experiments()) {
            if (experiment->experimentID() == 0) {
                if (auto launched = ZDMESnapshot::initWithSDKName(name, {experiment}))
                    launchedSnapshotsBySDKName_.set(name, launched);
            } else {
                active->addFlags(experiment->flags(), experiment->experimentID());
            }
        }
        // Stored even when empty, so that lookups fall through to the launched flags.
        activatedSnapshotsBySDKName_.set(name, active);
        pendingSnapshotsBySDKName_.remove(name);
        if (taskManager_) taskManager_->activatePendingSnapshot(pending, now);
        monitor()->logWithLevel(8, 800028, "Successfully activated a snapshot of SDK", Value(name));
        activated = true;
    });
    return activated;
}

int64_t ZDMEManager::activatedSnapshotStatusOfSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor()->logWithLevel(0, 800024, "Cannot check activated snapshot for empty SDK Name");
        return -1;
    }
    int64_t status = -1;
    dispatchSyncOnSerialQueue([&] {
        if (!registeredClientsBySDKName_.get(SDKName)) return;
        auto activated = activatedSnapshotsBySDKName_.get(SDKName).value_or(nullptr);
        if (!activated || activated->timestamp() <= kEpsilon) {
            status = -2;
            return;
        }
        status = std::fabs(activated->timestamp() - Clock::current().now()) > kStaleAge ? 1 : 0;
    });
    return status;
}

void ZDMEManager::resetToDefaultsOfSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor()->logWithLevel(0, 800025, "Cannot reset to defaults for empty SDK Name");
        return;
    }
    dispatchSyncOnSerialQueue([&] {
        if (!activatedSnapshotsBySDKName_.get(SDKName)) {
            monitor()->logWithLevel(0, 800026, "Cannot reset to defaults for unregistered SDK name");
            return;
        }
        activatedSnapshotsBySDKName_.remove(SDKName);
        if (taskManager_) taskManager_->resetToDefaultsForSDKName(SDKName);
        monitor()->logWithLevel(8, 800027, "Reset all experiments to default. SDK name", Value(SDKName));
    });
}

void ZDMEManager::reset() {
    forgetSnapshotsAfter([](ZDMETaskManager& taskManager) { taskManager.reset(); });
}

void ZDMEManager::clearAndDelete() {
    forgetSnapshotsAfter([](ZDMETaskManager& taskManager) { taskManager.clearAndDelete(); });
}

void ZDMEManager::forgetSnapshotsAfter(std::function<void(ZDMETaskManager&)> storageRequest) {
    std::weak_ptr<ZDMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak, storageRequest = std::move(storageRequest)] {
        auto self = weak.lock();
        if (!self) return;
        if (self->taskManager_) storageRequest(*self->taskManager_);
        self->activatedSnapshotsBySDKName_.clear();
        self->pendingSnapshotsBySDKName_.clear();
        self->launchedSnapshotsBySDKName_.clear();
    });
}

std::optional<bool> ZDMEManager::taskManagerShouldFetchExperiments(ZDMETaskManager&) {
    for (const auto& [name, client] : registeredClientsBySDKName_.copy()) {
        auto delegate = client->delegate();
        if (!delegate) return true;
        if (delegate->shouldFetchExperimentsForClient(client).value_or(true)) return true;
    }
    return false;
}

void ZDMEManager::taskManagerDidStart(ZDMETaskManager&, const std::optional<Snapshots>& activated,
                                      const std::optional<Snapshots>& pending,
                                      const std::optional<Snapshots>& launched) {
    std::weak_ptr<ZDMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak, activated, pending, launched] {
        auto self = weak.lock();
        if (!self) return;
        // Copies carry the time of copying, so staleness counts from the start of this run.
        const auto load = [](SnapshotMap& map, const std::optional<Snapshots>& snapshots) {
            for (const auto& snapshot : snapshots.value_or(Snapshots{}))
                if (auto copy = snapshot ? snapshot->copy() : nullptr) map.set(copy->SDKName(), copy);
        };
        load(self->activatedSnapshotsBySDKName_, activated);
        load(self->pendingSnapshotsBySDKName_, pending);
        load(self->launchedSnapshotsBySDKName_, launched);
    });
}

void ZDMEManager::taskManagerDidFinishFetching(ZDMETaskManager&, const Snapshots& snapshots,
                                               const std::map<std::string, Error>& errors) {
    if (snapshots.empty() && errors.empty()) {
        monitor()->logWithLevel(3, 800020, "No pending snapshots to notify the clients");
        return;
    }
    std::weak_ptr<ZDMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak, snapshots, errors] {
        auto self = weak.lock();
        if (!self) return;
        Snapshots waiting;
        for (const auto& snapshot : snapshots) {
            auto copy = snapshot ? snapshot->copy() : nullptr;
            if (!copy) continue;
            auto client = self->registeredClientsBySDKName_.get(copy->SDKName()).value_or(nullptr);
            auto delegate = client ? client->delegate() : nullptr;
            if (delegate && delegate->takesNewSnapshots()) {
                copy->setManuallyActivated(true);
                waiting.push_back(copy);
            }
            self->pendingSnapshotsBySDKName_.set(copy->SDKName(), copy);
        }
        for (const auto& [name, error] : errors) {
            auto client = self->registeredClientsBySDKName_.get(name).value_or(nullptr);
            auto delegate = client ? client->delegate() : nullptr;
            if (delegate && delegate->takesFetchErrors()) delegate->clientDidReceiveFetchError(client, error);
        }
        if (!waiting.empty() && self->taskManager_) self->taskManager_->upsertPendingSnapshots(waiting);
    });
}

void ZDMEManager::taskManagerDidUpsertPendingSnapshots(ZDMETaskManager&, const Snapshots& snapshots) {
    notifyNewSnapshots(snapshots);
}

void ZDMEManager::notifyNewSnapshots(const Snapshots& snapshots) {
    for (const auto& snapshot : snapshots) {
        if (!snapshot) continue;
        auto client = registeredClientsBySDKName_.get(snapshot->SDKName()).value_or(nullptr);
        auto delegate = client ? client->delegate() : nullptr;
        if (!delegate || !delegate->takesNewSnapshots()) {
            monitor()->logWithLevel(0, 800021,
                                    "Cannot notify new snapshot for SDK because the delegate does not "
                                    "implement -clientDidReceiveNewSnapshot:",
                                    Value(snapshot->SDKName()));
            continue;
        }
        std::shared_ptr<DispatchQueue> queue = delegate->queue().value_or(nullptr);
        if (!queue) queue = DispatchQueue::main();
        queue->async([delegate, client] { delegate->clientDidReceiveNewSnapshot(client); });
    }
}
