#pragma once
// The single entry of the experiment area. An SDK registers its property and default flag values
// and gets a client; the manager answers flag lookups (activated snapshot, then launched, then the
// defaults), activates pending snapshots on request, reports staleness, resets an SDK to its
// defaults and tells each SDK's observer of new snapshots and fetch errors. It keeps the in-memory
// view of all snapshots; the task manager fetches and writes storage.
//
// Every change of the maps runs on the serial queue "ZDMEExperimentSerialQueue". Lookups that need a
// consistent view run synchronously on it; called from a block already on it they run inline.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEClient.h"
#include "measurement/audiences/experiments/ZDMEConcurrentMap.h"
#include "measurement/audiences/experiments/ZDMEMonitor.h"
#include "measurement/audiences/experiments/ZDMESnapshot.h"
#include "measurement/audiences/experiments/ZDMETaskManager.h"
#include "platform/foundation/Value.h"

class DispatchQueue;

class ZDMEManager : public ZDMETaskManagerDelegate, public std::enable_shared_from_this<ZDMEManager> {
  public:
    // Made on first use with a new task manager, which is then started.
    static std::shared_ptr<ZDMEManager> sharedInstance();
    // The experiment area's log sink, made once around the measurement library's monitor.
    static std::shared_ptr<ZDMEMonitor> monitor();
    // Lets a test see what the experiment area reports, until resetAllForTesting.
    static void setMonitorForTesting(std::shared_ptr<ZDMEMonitor> monitor);
    // 10000: the version text "10000000" without its last three characters.
    static int64_t version();

    // Becomes the task manager's delegate; the caller starts the task manager.
    static std::shared_ptr<ZDMEManager> initWithTaskManager(std::shared_ptr<ZDMETaskManager> taskManager);

    // Defaults: flag name to a number or a string. The client comes back at once; the registration
    // itself is stored asynchronously on the serial queue, so lookups made before that block ran
    // find the SDK unregistered.
    std::shared_ptr<ZDMEClient> registerSDKProperty(const std::shared_ptr<ZDMESDKProperty>& property,
                                                    const Dictionary& defaultFlags);
    std::shared_ptr<ZDMEClient> clientForSDKName(const std::string& SDKName);
    // The experiments in force for SDKs diverted by the installation's key, ascending.
    std::vector<int64_t> experimentIDs();
    // A number or a string; null when nothing is found.
    Value flagValueForFlagName(const Value& flagName, const Value& SDKName);
    bool activateSnapshotOfSDK(const std::optional<std::string>& SDKName, Error* error = nullptr);
    // -1 unregistered, -2 no activated snapshot, 1 activated more than three days ago, else 0.
    int64_t activatedSnapshotStatusOfSDKName(const std::string& SDKName);
    void resetToDefaultsOfSDKName(const std::string& SDKName);
    // Storage reset (respectively deleted) and the snapshots forgotten; registrations stay.
    void reset();
    void clearAndDelete();

    // Run a block on the serial queue; an exception thrown by it is logged and the queue goes on.
    void dispatchAsyncOnSerialQueue(std::function<void()> block);
    void dispatchSyncOnSerialQueue(const std::function<void()>& block);

    const std::shared_ptr<ZDMETaskManager>& taskManager() const { return taskManager_; }

    // ZDMETaskManagerDelegate, called on the task manager's worker queue.
    std::optional<bool> taskManagerShouldFetchExperiments(ZDMETaskManager& taskManager) override;
    void taskManagerDidStart(ZDMETaskManager& taskManager, const std::optional<Snapshots>& activated,
                             const std::optional<Snapshots>& pending,
                             const std::optional<Snapshots>& launched) override;
    void taskManagerDidFinishFetching(ZDMETaskManager& taskManager, const Snapshots& snapshots,
                                      const std::map<std::string, Error>& errors) override;
    void taskManagerDidUpsertPendingSnapshots(ZDMETaskManager& taskManager,
                                              const Snapshots& snapshots) override;

    explicit ZDMEManager(std::shared_ptr<ZDMETaskManager> taskManager);

  private:
    using SnapshotMap = ZDMEConcurrentMap<std::string, std::shared_ptr<ZDMESnapshot>>;
    Value flagValueOnSerialQueue(const std::string& flagName, const std::string& SDKName);
    void notifyNewSnapshots(const Snapshots& snapshots);
    // On the serial queue: the storage request, then the in-memory snapshots dropped.
    void forgetSnapshotsAfter(std::function<void(ZDMETaskManager&)> storageRequest);

    SnapshotMap activatedSnapshotsBySDKName_;
    SnapshotMap pendingSnapshotsBySDKName_;
    SnapshotMap launchedSnapshotsBySDKName_;
    const std::shared_ptr<ZDMETaskManager> taskManager_;
    ZDMEConcurrentMap<std::string, std::shared_ptr<ZDMEClient>> registeredClientsBySDKName_;
    ZDMEConcurrentMap<std::string, std::map<std::string, ZDMEFlag>> defaultFlagsBySDKName_;
    const std::shared_ptr<DispatchQueue> queue_;
};
