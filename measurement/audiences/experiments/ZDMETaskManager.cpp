#include "measurement/audiences/experiments/ZDMETaskManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/audiences/experiments/ZDMEExperimentRequestBuilder.h"
#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"
#include "platform/zed/ZEDUdovade.h"

namespace {
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kFetchInterval = 14400;  // four hours
constexpr double kInitialFetchDelay = 10;
constexpr double kFirstRetryStep = 1800;
constexpr int kRetrySteps = 6;
constexpr double kBackoffInterval = 43200;  // twelve hours
constexpr double kMinimumDelay = 0.001;

constexpr int32_t kResponseSnapshots = 0;
constexpr int32_t kResponseSdkResponses = 1;
constexpr int32_t kSdkResponseName = 0;
constexpr int32_t kSdkResponseStatus = 1;
constexpr int32_t kSdkResponseSnapshot = 2;
constexpr int32_t kSnapshotName = 0;

std::shared_ptr<ZDMEMonitor> monitor() {
    return ZDMEManager::monitor();
}

double now() {
    return Clock::current().now();
}

int64_t errorCodeForStatus(uint32_t status) {
    switch (status) {
        case 1:
            return -2;
        case 2:
            return -3;
        case 3:
            return -4;
        default:
            return -1;
    }
}

template <class Message>
std::vector<std::shared_ptr<const Message>> messagesOf(const NANOMessageBase* message, int32_t index) {
    std::vector<std::shared_ptr<const Message>> messages;
    for (const auto& element :
         ZDMPBGetArray(message, index, &Message::messageClass()).value_or(Value::Array{}))
        if (auto typed = std::dynamic_pointer_cast<const Message>(element.asObject()))
            messages.push_back(typed);
    return messages;
}
}  // namespace

ZDMETaskManager::ZDMETaskManager(std::shared_ptr<DispatchQueue> queue, std::shared_ptr<ZDMAlarm> alarm,
                                 std::shared_ptr<ZEDUdovade> network,
                                 std::shared_ptr<ZDMConfigStore> persistedStorage, std::string databasePath,
                                 double initTimestamp)
    : alarm_(std::move(alarm)),
      network_(std::move(network)),
      persistedStorage_(std::move(persistedStorage)),
      workerQueue_(std::move(queue)),
      databasePath_(std::move(databasePath)),
      initializationTimestamp_(initTimestamp) {}

std::shared_ptr<ZDMETaskManager> ZDMETaskManager::init() {
    auto queue = DispatchQueue::serial(kWorkerQueueLabel);
    return initWithQueue(queue, ZDMAlarm::make(queue, kAlarmName),
                         ZEDUdovade::initWithReachabilityHost(kServiceHost),
                         std::make_shared<ZDMUserDefaults>(kSuiteName),
                         ZDMMeasurementSupportFilePath(ZDMEDatabase::kFileName), now());
}

std::shared_ptr<ZDMETaskManager> ZDMETaskManager::initWithQueue(
    std::shared_ptr<DispatchQueue> queue, std::shared_ptr<ZDMAlarm> alarm,
    std::shared_ptr<ZEDUdovade> network, std::shared_ptr<ZDMConfigStore> persistedStorage,
    std::string databasePath, double initTimestamp) {
    return std::make_shared<ZDMETaskManager>(std::move(queue), std::move(alarm), std::move(network),
                                             std::move(persistedStorage), std::move(databasePath),
                                             initTimestamp);
}

void ZDMETaskManager::dispatchAsyncOnWorkerQueue(std::function<void()> block) {
    workerQueue_->async([block = std::move(block)] {
        monitor()->runCatchingExceptions(block, 820026, "Exception on async worker queue");
    });
}

void ZDMETaskManager::dispatchSyncOnWorkerQueue(const std::function<void()>& block) {
    workerQueue_->sync(
        [&block] { monitor()->runCatchingExceptions(block, 820027, "Exception on sync worker queue"); });
}

void ZDMETaskManager::startTaskManager() {
    dispatchAsyncOnWorkerQueue([self = shared_from_this()] { self->startTaskManagerOnWorkerQueue(); });
}

void ZDMETaskManager::startTaskManagerOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("startTaskManagerOnWorkerQueue");
    // Without storage nothing is loaded or fetched in this run; the next start tries again.
    database_ = ZDMEDatabase::initWithPath(databasePath_);
    if (!database_) return;
    fetchAllSnapshotsOnWorkerQueue();
    scheduleFetchingExperimentsOnWorkerQueue();
}

void ZDMETaskManager::fetchAllSnapshotsOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("fetchAllSnapshotsOnWorkerQueue");
    if (!database_) return;
    // Stale rows go before pending ones are activated, so that a pending snapshot activated now
    // with an old timestamp survives this run.
    const bool started = database_->performTransaction([this] {
        Error error;
        if (!database_->deleteStaleActivatedSnapshots(&error)) {
            monitor()->logWithLevel(1, 820006, "Cannot delete stale activated snapshots. Error",
                                    ErrorObject::value(error));
            return false;
        }
        if (!database_->activatePendingSnapshotsAutomatically(&error)) {
            monitor()->logWithLevel(1, 820007, "Cannot activate pending snapshots automatically. Error",
                                    ErrorObject::value(error));
            return false;
        }
        return true;
    });
    if (!started) {
        monitor()->logWithLevel(2, 820008, "Failed to start the task manager");
        return;
    }
    monitor()->logWithLevel(8, 820009, "Successfully start the task manager");
    auto delegate = this->delegate();
    if (!delegate) return;
    const auto read = [](auto fetched, const Error& error, int64_t code, const char* message) {
        if (!fetched) monitor()->logWithLevel(2, code, message, ErrorObject::value(error));
        return fetched;
    };
    Error activatedError, pendingError, launchedError;
    auto activated = read(database_->fetchAllActivatedSnapshots(&activatedError), activatedError, 820010,
                          "Error in fetching all activated snapshots. Error");
    auto pending = read(database_->fetchAllPendingSnapshots(&pendingError), pendingError, 820011,
                        "Error in fetching all pending snapshots. Error");
    auto launched = read(database_->fetchAllLaunchedSnapshots(&launchedError), launchedError, 820012,
                         "Error in fetching all launched snapshots. Error");
    delegate->taskManagerDidStart(*this, activated, pending, launched);
}

double ZDMETaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure) {
    const double current = now();
    // A success in the future counts as lying that far in the past.
    const double a = current - std::fabs(lastSuccess - current);
    const double t = a + kFetchInterval;
    if (!hasMadeInitialFetch_) {
        hasMadeInitialFetch_ = true;
        return std::max(t, current + kInitialFetchDelay);
    }
    if (lastFailure <= 0) return t;
    // Without any success the ladder counts from the task manager's creation.
    double base = a == 0 ? initializationTimestamp_ : t;
    for (int i = 0; i < kRetrySteps; ++i) {
        base += kFirstRetryStep * std::pow(2.0, i);
        if (base > lastFailure) return base;
    }
    return 0;
}

void ZDMETaskManager::scheduleFetchingExperimentsOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("scheduleFetchingExperimentsOnWorkerQueue");
    double t = fetchTimeFromLastSuccessfulTimestamp(persistedStorage_->doubleForKey(kSuccessTimestampKey),
                                                    persistedStorage_->doubleForKey(kFailureTimestampKey));
    if (std::fabs(t) < kEpsilon) {
        persistedStorage_->removeObjectForKey(kSuccessTimestampKey);
        monitor()->logWithLevel(2, 820024,
                                "Network attempted too many times. Will not schedule new network.");
        return;
    }
    const double current = now();
    const auto& scheduled = alarm_->scheduledTimestamp();
    const double pendingAt = scheduled ? scheduled->timeIntervalSince1970() : 0;
    if (pendingAt != 0 && t >= pendingAt) {
        monitor()->logWithLevel(
            8, 820017, "Do not schedule a fetch task. Task already exists. Will be executed in seconds",
            Value(pendingAt - current));
        return;
    }
    const double backoff = persistedStorage_->doubleForKey(kBackoffTimestampKey);
    if (std::fabs(backoff) >= kEpsilon && current - backoff < kBackoffInterval)
        t = std::max(backoff + kBackoffInterval, t);
    double delay = t - current;
    if (delay < 0 || std::fabs(delay) < kEpsilon) delay = kMinimumDelay;
    auto delegate = this->delegate();
    const bool shouldFetch = !delegate || delegate->taskManagerShouldFetchExperiments(*this).value_or(true);
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    alarm_->runAfterDelay(
        [weak, shouldFetch] {
            auto self = weak.lock();
            if (!self) return;
            if (shouldFetch)
                self->fetchExperiments();
            else
                self->postponeFetchExperiments();
        },
        delay);
}

void ZDMETaskManager::postponeFetchExperiments() {
    persistedStorage_->setDouble(now(), kSuccessTimestampKey);
    persistedStorage_->removeObjectForKey(kFailureTimestampKey);
    persistedStorage_->removeObjectForKey(kBackoffTimestampKey);
    scheduleFetchingExperimentsOnWorkerQueue();
}

void ZDMETaskManager::fetchExperiments() {
    auto request = ZDMEExperimentRequestBuilder::sharedInstance()->request();
    const Data body = request ? request->protoBuffer().value_or(Data()) : Data();
    monitor()->logWithLevel(8, 820001, "Fetching new experiments. Request",
                            request ? Value(Value::ObjectPtr(request)) : Value());
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    network_->postURL(serviceBaseURL_ + "/sdk-exp", std::nullopt, body, workerQueue_, false,
                      [weak](std::shared_ptr<const HTTPURLResponse> response, std::optional<Data> data,
                             std::optional<Error> error) {
                          auto self = weak.lock();
                          if (!self) return;
                          std::optional<Data> inflated;
                          if (data) {
                              Error inflateError;
                              inflated = ziz_dataByInflatingGzippedData(*data, &inflateError);
                              if (!inflated)
                                  monitor()->logWithLevel(2, 820023,
                                                          "Cannot inflate downloaded experiment data. Error",
                                                          ErrorObject::value(inflateError));
                          }
                          self->handleFetchingExperimentsResponse(response, inflated, error);
                      });
}

void ZDMETaskManager::handleFetchingExperimentsResponse(
    const std::shared_ptr<const HTTPURLResponse>& response, const std::optional<Data>& data,
    const std::optional<Error>& error) {
    const double current = now();
    // No answer at all is a failure like any refused status.
    const long status = response ? response->statusCode : 0;
    if (status != kZEDUdovadeHTTPStatusOK && status != kZEDUdovadeHTTPStatusNoContent) {
        persistedStorage_->setDouble(current, kFailureTimestampKey);
        if (status == kZEDUdovadeHTTPStatusCodeUnavailable ||
            status == kZEDUdovadeHTTPStatusCodeCannotAcceptTraffic)
            persistedStorage_->setDouble(current, kBackoffTimestampKey);
        monitor()->logWithLevel(1, 820002, "Network fetch failed. Will retry later. Code, error",
                                Value(int64_t{status}), error ? ErrorObject::value(*error) : Value());
        scheduleFetchingExperimentsOnWorkerQueue();
        return;
    }
    auto message = ZDMPBExperimentResponse::initWithBuffer(data.value_or(Data()));
    monitor()->logWithLevel(8, 820003, "Successful fetch. Got network response. Code, data",
                            Value(int64_t{status}), message ? Value(Value::ObjectPtr(message)) : Value());
    persistedStorage_->setDouble(current, kSuccessTimestampKey);
    persistedStorage_->removeObjectForKey(kFailureTimestampKey);
    persistedStorage_->removeObjectForKey(kBackoffTimestampKey);
    const Snapshots snapshots =
        experimentSnapshotsFromExperimentResponse(message.get()).value_or(Snapshots{});
    const auto errors = message
                            ? errorsFromExperimentResponse(*message).value_or(std::map<std::string, Error>{})
                            : std::map<std::string, Error>{};
    if (!snapshots.empty()) {
        Error upsertError(kErrorDomain, -1, "Database not open");
        if (!database_ || !database_->upsertPendingExperimentSnapshots(snapshots, &upsertError)) {
            Value::Array names;
            for (const auto& snapshot : snapshots) names.emplace_back(snapshot->SDKName());
            monitor()->logWithLevel(1, 820022, "Cannot upsert pending snapshots. Error, snapshots",
                                    ErrorObject::value(upsertError), Value(names));
        }
    }
    if (auto delegate = this->delegate()) delegate->taskManagerDidFinishFetching(*this, snapshots, errors);
    scheduleFetchingExperimentsOnWorkerQueue();
}

std::optional<ZDMETaskManager::Snapshots> ZDMETaskManager::experimentSnapshotsFromExperimentResponse(
    const ZDMPBExperimentResponse* response) {
    if (!response) {
        monitor()->logWithLevel(2, 820015, "Cannot create experiment snapshots from nil response");
        return std::nullopt;
    }
    auto messages = messagesOf<ZDMPBSnapshot>(response, kResponseSnapshots);
    if (messages.empty()) {
        for (const auto& sdkResponse : messagesOf<ZDMPBSdkResponse>(response, kResponseSdkResponses)) {
            auto snapshot = ZDMPBGetMessage<ZDMPBSnapshot>(sdkResponse.get(), kSdkResponseSnapshot);
            if (!snapshot) continue;
            // The answer's name is the one the service meant, whatever the snapshot carries.
            const auto name = ZDMPBGetString(sdkResponse.get(), kSdkResponseName).value_or("");
            if (!name.empty()) ZDMPBSetString(snapshot.get(), kSnapshotName, name);
            messages.push_back(snapshot);
        }
    }
    Snapshots snapshots;
    for (const auto& message : messages) {
        auto snapshot = ZDMESnapshot::initWithProtobuf(*message);
        if (!snapshot) {
            monitor()->logWithLevel(2, 820016, "Cannot create a snapshot from the proto");
            continue;
        }
        snapshots.push_back(snapshot);
    }
    return snapshots;
}

std::optional<std::map<std::string, Error>> ZDMETaskManager::errorsFromExperimentResponse(
    const ZDMPBExperimentResponse& response) {
    const auto sdkResponses = messagesOf<ZDMPBSdkResponse>(&response, kResponseSdkResponses);
    if (sdkResponses.empty()) return std::nullopt;
    std::map<std::string, Error> errors;
    for (const auto& sdkResponse : sdkResponses) {
        if (!ZDMPBHasField(sdkResponse.get(), kSdkResponseStatus)) continue;
        const auto status = static_cast<uint32_t>(ZDMPBGetInt32(sdkResponse.get(), kSdkResponseStatus));
        const auto name = ZDMPBGetString(sdkResponse.get(), kSdkResponseName).value_or("");
        if (status == 0 || name.empty()) continue;
        errors.insert_or_assign(name, Error(kErrorDomain, errorCodeForStatus(status)));
    }
    return errors;
}

std::optional<ZDMETaskManager::Snapshots> ZDMETaskManager::experimentSnapshotsFromData(
    const std::optional<Data>& data) {
    if (!data || data->empty()) {
        monitor()->logWithLevel(2, 820025, "Cannot create experiment snapshots from empty data");
        return std::nullopt;
    }
    auto message = ZDMPBExperimentResponse::initWithBuffer(*data);
    return experimentSnapshotsFromExperimentResponse(message.get());
}

void ZDMETaskManager::activatePendingSnapshot(const std::shared_ptr<ZDMESnapshot>& snapshot,
                                              double timestamp) {
    if (!snapshot) {
        monitor()->logWithLevel(0, 820013, "Cannot activate an empty snapshot");
        return;
    }
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, snapshot, timestamp] {
        auto self = weak.lock();
        if (!self || !self->database_) return;
        self->database_->performTransaction([&] {
            Error error;
            if (self->database_->activateSnapshot(snapshot, timestamp, &error)) return true;
            monitor()->logWithLevel(1, 820014, "Cannot activate snapshot for SDK Name. Error",
                                    Value(snapshot->SDKName()), ErrorObject::value(error));
            return false;
        });
    });
}

void ZDMETaskManager::resetToDefaultsForSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor()->logWithLevel(1, 820018, "Cannot reset to defaults for empty SDK name");
        return;
    }
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, SDKName] {
        auto self = weak.lock();
        if (!self || !self->database_) return;
        Error error;
        if (!self->database_->deleteActivatedExperimentsOfSDKName(SDKName, &error))
            monitor()->logWithLevel(1, 820019, "Cannot reset to defaults in the database. SDK Name, error",
                                    Value(SDKName), ErrorObject::value(error));
    });
}

void ZDMETaskManager::upsertPendingSnapshots(const Snapshots& snapshots) {
    if (snapshots.empty()) {
        monitor()->logWithLevel(2, 820020, "Cannot upsert empty pending snapshot list");
        return;
    }
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, snapshots] {
        auto self = weak.lock();
        if (!self) return;
        Error error(kErrorDomain, -1, "Database not open");
        if (self->database_ && self->database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
            if (auto delegate = self->delegate())
                delegate->taskManagerDidUpsertPendingSnapshots(*self, snapshots);
        } else {
            monitor()->logWithLevel(1, 820021, "Cannot upsert pending snapshots into the database. Error",
                                    ErrorObject::value(error));
        }
    });
}

void ZDMETaskManager::removeFetchTimestamps() {
    persistedStorage_->removeObjectForKey(kSuccessTimestampKey);
    persistedStorage_->removeObjectForKey(kFailureTimestampKey);
    persistedStorage_->removeObjectForKey(kBackoffTimestampKey);
}

void ZDMETaskManager::reset() {
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->database_) self->database_->reset();
        self->removeFetchTimestamps();
        self->scheduleFetchingExperimentsOnWorkerQueue();
    });
}

void ZDMETaskManager::clearAndDelete() {
    std::weak_ptr<ZDMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->database_) self->database_->closeAndDelete();
        self->removeFetchTimestamps();
        // A timer left pending would fetch into a store that is gone.
        self->alarm_->cancel();
    });
}
