#pragma once
// The background work of the experiment area, all of it on the serial worker queue
// "ZDMExperimentWorkerQueue": opens the snapshot store at start and hands the stored snapshots to
// its delegate, fetches new snapshots from the measurement service every four hours (with a
// ladder of retries after failures and a twelve-hour back-off when the service asks for it),
// turns replies into pending snapshots and fetch errors, and carries out the manager's storage
// requests. Network failures never surface: they move the stored timestamps and reschedule.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEDatabase.h"
#include "measurement/audiences/experiments/ZDMESnapshot.h"
#include "platform/foundation/Error.h"
#include "platform/network/URLSession.h"

class DispatchQueue;
class ZDMAlarm;
class ZDMConfigStore;
class ZDMETaskManager;
class ZEDUdovade;

class ZDMETaskManagerDelegate {
  public:
    using Snapshots = std::vector<std::shared_ptr<ZDMESnapshot>>;
    virtual ~ZDMETaskManagerDelegate() = default;
    // nullopt: not implemented, which lets every fetch go ahead.
    virtual std::optional<bool> taskManagerShouldFetchExperiments(ZDMETaskManager&) { return std::nullopt; }
    // nullopt where a read failed.
    virtual void taskManagerDidStart(ZDMETaskManager&, const std::optional<Snapshots>& /*activated*/,
                                     const std::optional<Snapshots>& /*pending*/,
                                     const std::optional<Snapshots>& /*launched*/) {}
    virtual void taskManagerDidFinishFetching(ZDMETaskManager&, const Snapshots& /*snapshots*/,
                                              const std::map<std::string, Error>& /*errors*/) {}
    virtual void taskManagerDidUpsertPendingSnapshots(ZDMETaskManager&, const Snapshots& /*snapshots*/) {}
};

class ZDMETaskManager : public std::enable_shared_from_this<ZDMETaskManager> {
  public:
    using Snapshots = ZDMETaskManagerDelegate::Snapshots;

    static constexpr const char* kWorkerQueueLabel = "ZDMExperimentWorkerQueue";
    static constexpr const char* kAlarmName = "ZDMExperimentAlarm";
    static constexpr const char* kSuiteName = "ZDMExperimentSuiteName";
    static constexpr const char* kSuccessTimestampKey = "ZDMExperimentFetchSuccessTimestamp";
    static constexpr const char* kFailureTimestampKey = "ZDMExperimentFetchFailureTimestamp";
    static constexpr const char* kBackoffTimestampKey = "ZDMExperimentFetchBackoffTimestamp";
    static constexpr const char* kErrorDomain = "com.zizoda.measurement.experiments";
    // The measurement service's host: reachability is watched on it and the fetch posts to
    // https://<host>/sdk-exp.
    static constexpr const char* kServiceHost = "measurement.zizoda.example";

    // The worker queue, alarm, network, suite, store path and now as creation time.
    static std::shared_ptr<ZDMETaskManager> init();
    static std::shared_ptr<ZDMETaskManager> initWithQueue(std::shared_ptr<DispatchQueue> queue,
                                                          std::shared_ptr<ZDMAlarm> alarm,
                                                          std::shared_ptr<ZEDUdovade> network,
                                                          std::shared_ptr<ZDMConfigStore> persistedStorage,
                                                          std::string databasePath, double initTimestamp);

    void startTaskManager();
    // Worker-queue steps: called on the main thread they report it (30001) and go on.
    void startTaskManagerOnWorkerQueue();
    void fetchAllSnapshotsOnWorkerQueue();
    void scheduleFetchingExperimentsOnWorkerQueue();
    // The next fetch time, 0 when the retries are used up. The first call of a life also marks the
    // initial fetch as made.
    double fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure);
    void fetchExperiments();
    void postponeFetchExperiments();
    // `data` is the inflated reply; no response means the request never got an answer.
    void handleFetchingExperimentsResponse(const std::shared_ptr<const HTTPURLResponse>& response,
                                           const std::optional<Data>& data,
                                           const std::optional<Error>& error);

    std::optional<Snapshots> experimentSnapshotsFromExperimentResponse(
        const ZDMPBExperimentResponse* response);
    std::optional<std::map<std::string, Error>> errorsFromExperimentResponse(
        const ZDMPBExperimentResponse& response);
    std::optional<Snapshots> experimentSnapshotsFromData(const std::optional<Data>& data);

    // The manager's requests, each carried out asynchronously on the worker queue.
    void activatePendingSnapshot(const std::shared_ptr<ZDMESnapshot>& snapshot, double timestamp);
    void resetToDefaultsForSDKName(const std::string& SDKName);
    void upsertPendingSnapshots(const Snapshots& snapshots);
    void reset();
    void clearAndDelete();

    // An exception thrown by the block is logged (820026, 820027) and the queue goes on.
    void dispatchAsyncOnWorkerQueue(std::function<void()> block);
    void dispatchSyncOnWorkerQueue(const std::function<void()>& block);

    std::shared_ptr<ZDMETaskManagerDelegate> delegate() const { return delegate_.lock(); }
    // Set before the task manager starts; read on the worker queue only.
    void setDelegate(std::weak_ptr<ZDMETaskManagerDelegate> delegate) { delegate_ = std::move(delegate); }
    bool hasMadeInitialFetch() const { return hasMadeInitialFetch_; }
    void setHasMadeInitialFetch(bool made) { hasMadeInitialFetch_ = made; }
    double initializationTimestamp() const { return initializationTimestamp_; }
    void setInitializationTimestamp(double timestamp) { initializationTimestamp_ = timestamp; }
    const std::shared_ptr<DispatchQueue>& workerQueue() const { return workerQueue_; }
    const std::shared_ptr<ZDMAlarm>& alarm() const { return alarm_; }
    // Where the fetch posts, "https://<host>"; a test points it at its local server.
    void setServiceBaseURL(std::string url) { serviceBaseURL_ = std::move(url); }
    // The store once started; on the worker queue only.
    ZDMEDatabase* database() const { return database_.get(); }

    ZDMETaskManager(std::shared_ptr<DispatchQueue> queue, std::shared_ptr<ZDMAlarm> alarm,
                    std::shared_ptr<ZEDUdovade> network, std::shared_ptr<ZDMConfigStore> persistedStorage,
                    std::string databasePath, double initTimestamp);

  private:
    void removeFetchTimestamps();

    const std::shared_ptr<ZDMAlarm> alarm_;
    const std::shared_ptr<ZEDUdovade> network_;
    const std::shared_ptr<ZDMConfigStore> persistedStorage_;
    const std::shared_ptr<DispatchQueue> workerQueue_;
    std::unique_ptr<ZDMEDatabase> database_;
    const std::string databasePath_;
    bool hasMadeInitialFetch_ = false;
    std::weak_ptr<ZDMETaskManagerDelegate> delegate_;
    double initializationTimestamp_;
    std::string serviceBaseURL_ = std::string("https://") + kServiceHost;
};
