// When the engine uploads, the upload itself, and the configuration fetch that the first upload of an
// install (and every expired configuration) goes through. Everything runs on the worker queue; the
// network's completions are delivered there too, so no state here needs a lock of its own.
#include <cmath>
#include <limits>

#include "measurement/engine/ZDMBundleIdentifiers.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMSecondsSinceBoot.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/dispatch/Clock.h"

namespace {
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
// How long uploads stay suspended, on the boot clock, after uploaded bundles could not be deleted.
constexpr double kSuspensionSeconds = 3600;
constexpr const char* kPlatform = "macos";
// The event-editing interpreter sits in a layer above the engine; the version of its runtime that
// the server is told is fixed, and it is this.
constexpr int64_t kEventEditingRuntimeVersion = 0;
// MeasurementBatch and MeasurementConfig fields by index.
constexpr int32_t kBatchBundles = 0;
constexpr int32_t kConfigAppID = 1, kConfigAudiences = 5;

Value errorValue(const std::optional<Error>& error) {
    return error ? ErrorObject::value(*error) : Value();
}

// Unlike zdm_engine::isSet, a bare code with no domain counts as a failure here too.
bool isSet(const Error& error) {
    return !error.domain.empty() || error.code != 0;
}

double now() {
    return Clock::current().now();
}

std::string stringField(const ZDMPBMeasurementBundle& bundle, int32_t index) {
    return ZDMPBHasField(&bundle, index) ? ZDMPBGetString(&bundle, index).value_or("") : "";
}

// One store query whose failure is logged and counts as no answer.
template <class Query>
auto loggedQuery(int64_t level, int64_t code, const char* text, const Query& query) {
    Error error;
    auto answer = query(&error);
    if (isSet(error)) zdm_engine::logError(level, code, text, error);
    return answer;
}

bool isUploadSuccess(long status) {
    return status == kZEDUdovadeHTTPStatusOK || status == kZEDUdovadeHTTPStatusNoContent;
}

bool asksToBackOff(long status) {
    return status == kZEDUdovadeHTTPStatusCodeUnavailable ||
           status == kZEDUdovadeHTTPStatusCodeCannotAcceptTraffic;
}
}  // namespace

void ZDMMeasurement::updateSchedule() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("updateSchedule");
    const auto stopScheduling = [this] {
        if (alarm_) alarm_->cancel();
        if (network_) network_->setReachabilityDelegate(nullptr);
        terminateBackgroundTask();
    };
    if (const double suspended = suspendedUploadTimestamp(); suspended != 0) {
        const double elapsed = std::fabs(ZDMSecondsSinceBoot() - suspended);
        if (elapsed < kSuspensionSeconds) {
            monitor()->logWithLevel(3, 23023,
                                    "Upload has been suspended. Will update scheduling later. Seconds",
                                    Value(kSuspensionSeconds - elapsed));
            return stopScheduling();
        }
        setSuspendedUploadTimestamp(0);
    }
    const auto config = remoteConfigInstance();
    if (!hasDataToUpload()) {
        if (config) config->activateNewSnapshot();
        monitor()->logWithLevel(8, 23024, "No data to upload. Upload task will not be scheduled");
        return stopScheduling();
    }
    double next = nextUploadingTime();
    if (std::fabs(next) < kEpsilon) {
        monitor()->logWithLevel(8, 23025, "No next uploading time. Upload task will not be scheduled");
        return stopScheduling();
    }
    if (!network_ || !network_->isNetworkConnected()) {
        monitor()->logWithLevel(8, 23026, "No network. Upload task will not be scheduled");
        if (network_) network_->setReachabilityDelegate(shared_from_this());
        if (alarm_) alarm_->cancel();
        return terminateBackgroundTask();
    }
    network_->setReachabilityDelegate(nullptr);

    const double backoff = persistedConfig_->lastBackoffTimestamp();
    const double backoffInterval = config->uploadingBackoffInterval();
    if (std::fabs(backoff) > kEpsilon && backoffInterval > now() - backoff)
        next = std::max(next, backoff + backoffInterval);

    if (const auto& scheduled = alarm_->scheduledTimestamp();
        scheduled && scheduled->timeIntervalSince1970() != 0 && scheduled->timeIntervalSince1970() <= next) {
        monitor()->logWithLevel(
            8, 23027, "Do not schedule an upload task. Task already exists. Will be executed in seconds",
            Value(scheduled->timeIntervalSince1970() - now()));
        return;
    }
    double delay = next - now();
    if (std::fabs(delay) < kEpsilon) delay = 0.001;
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    alarm_->runAfterDelay(
        [weakSelf] {
            if (const auto self = weakSelf.lock()) self->scheduleUploadData();
        },
        delay);
    monitor()->logWithLevel(8, 23028, "Upload task scheduled to be executed in approx. (s)", Value(delay));
}

double ZDMMeasurement::nextUploadingTime() {
    const auto database = this->database();
    const auto config = remoteConfigInstance();
    if (!database || !config) return 0;
    const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
    const double lastFailure = persistedConfig_->lastFailedUploadTimestamp();

    const auto latestRaw =
        loggedQuery(5, 23029, "Failed to query latest raw event time. Error",
                    [&](Error* error) { return database->queryLatestRawEventTime(error); });
    const auto latestBundle =
        loggedQuery(5, 23030, "Failed to query latest bundle time. Error",
                    [&](Error* error) { return database->queryLatestBundleTime(error); });
    const double latest = std::max(latestRaw.value_or(0), latestBundle.value_or(0));
    if (std::fabs(latest) < kEpsilon) return 0;

    const bool debug = monitor()->isDebugModeEnabled();
    const bool realtime =
        debug ||
        loggedQuery(5, 23031, "Failed to query for real-time bundle indicator. Error",
                    [&](Error* error) { return database->containsRealtimeBundlesWithError(error); })
            .value_or(false) ||
        loggedQuery(5, 23032, "Failed to query for real-time raw event indicator. Error", [&](Error* error) {
            return database->containsRealtimeRawEventsWithError(error);
        }).value_or(false);
    const double interval = realtime ? config->uploadingRealTimeInterval() : config->uploadingInterval();

    const double current = now();
    // Data stamped in the future (a clock that was wrong) counts as that far in the past.
    const double dataTime = current - std::fabs(latest - current);
    double candidate = std::fabs(current - lastSuccess) < interval
                           ? lastSuccess + interval
                           : dataTime + config->uploadingInitialDelayInterval();
    if (lastFailure >= dataTime) {
        // The last attempt failed after the data was written: each retry waits twice as long, and
        // once the retries are spent nothing is scheduled until new data or a success.
        for (int32_t round = 0; round < config->uploadingRetryCount(); ++round) {
            candidate += std::ldexp(config->uploadingRetryInterval(), round);
            if (candidate > lastFailure) return candidate;
        }
        return 0;
    }
    return debug ? std::min(candidate, dataTime + config->uploadingDebugModeInterval()) : candidate;
}

void ZDMMeasurement::uploadDataOrRegisterAlarm() {
    if (network_ && network_->isNetworkConnected() && hasDataToUpload()) return scheduleUploadData();
    updateSchedule();
}

// The network client counts a request as busy until its completion has returned, so an upload that
// follows an answer starts as a block of its own, once the answer has been handled.
void ZDMMeasurement::scheduleUploadData() {
    scheduleOnWorkerQueue("ZDMMeasurement:1677", [](ZDMMeasurement& engine) { engine.uploadData(); });
}

void ZDMMeasurement::uploadData() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("uploadData");
    if (suspendedUploadTimestamp() > 0) return updateSchedule();
    monitor()->logWithLevel(8, 23033, "Starting data upload");
    if (!isNetworkReadyForRequest())
        return monitor()->logWithLevel(8, 23034, "Network operation is pending. Ignoring upload request");
    if (!network_ || !network_->isNetworkConnected()) {
        monitor()->logWithLevel(7, 23035, "Network not connected, ignoring upload request");
        return updateSchedule();
    }
    const auto database = this->database();
    const auto config = remoteConfigInstance();
    const auto identity = this->identity();
    if (!database || !config || !identity) return;

    // An expired configuration may change what bundling keeps; it is fetched before anything is bundled.
    if (!config->isExpired()) {
        // The limit is read again after each bundle: bundling may not change it, but it is cheap.
        int32_t calls = 0;
        while (calls < config->maxBundlesCreatedPerIteration()) {
            ++calls;
            if (!bundleRawEvents()) break;
        }
    }
    Error error;
    const auto rows = database->queryBundlesWithCountLimit(config->uploadMaxBundlesLimit(),
                                                           config->uploadMaxSizeLimitBytes(), &error);
    if (!rows) {
        zdm_engine::logError(1, 23036, "Failed to query bundles. Error", error);
        return terminateBackgroundTask();
    }
    if (rows->empty()) {
        config->activateNewSnapshot();
        monitor()->logWithLevel(8, 23037, "No data to upload");
        return config->isExpired() ? fetchRemoteConfig() : terminateBackgroundTask();
    }

    // Consent may have changed since bundling: identifiers follow the consent in force now.
    const std::string consentSignals = ZDMConsentSettingsUtil::consentSignals();
    const bool gateIDFA = config->gateIDFAOnATTMASEnabled();
    for (const auto& [bundle, rowID] : *rows)
        ZDMStampBundleIdentifiers(*bundle, consentSignals, gateIDFA, *identity);

    if (const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
        std::fabs(lastSuccess) > kEpsilon)
        monitor()->logWithLevel(8, 23038, "Uploading events. Elapsed time since last successful upload (s)",
                                Value(std::fabs(now() - lastSuccess)));

    const std::string appKey = stringField(*rows->front().first, kBundleAppID);
    std::string adKey, vendorKey;
    for (const auto& [bundle, rowID] : *rows) {
        if (ZDMPBHasField(bundle.get(), kBundleResettableDeviceID)) {
            adKey = stringField(*bundle, kBundleResettableDeviceID);
            break;
        }
        if (ZDMPBHasField(bundle.get(), kBundleVendorDeviceID)) {
            vendorKey = stringField(*bundle, kBundleVendorDeviceID);
            break;
        }
    }
    const QueuedBundles batch = filteredBundlesWithCompatibleAppID(appKey, adKey, vendorKey, *rows);

    const int64_t millis = static_cast<int64_t>(now() * 1000);
    const auto dataControls = config->dataControls();
    const bool checksum = config->checksumEnabled();
    Value::Array bundles, rowIDs;
    for (const auto& [bundle, rowID] : batch) {
        ZDMPBSetInt64(bundle.get(), kBundleUploadLibraryVersion, ZDMIdentity::didAdirezaridoLibraryVersion());
        ZDMPBSetInt64(bundle.get(), kBundleUploadMillis, millis);
        ZDMApplyDataControls(*bundle, dataControls, *identity);
        if (checksum) {
            // The fingerprint covers the bundle as it is sent, less the fingerprint itself.
            const auto encoding = bundle->protoBuffer();
            ZDMPBSetInt64(bundle.get(), kBundleChecksum, zdm_64LSBMD5(encoding.value_or(Data())));
        }
        bundles.push_back(Value(std::static_pointer_cast<const Object>(bundle)));
        rowIDs.push_back(Value(rowID));
    }
    const auto message = ZDMPBMeasurementBatch::initWithMessageInfo(nullptr);
    ZDMPBSetArray(message.get(), kBatchBundles, bundles);
    monitor()->logWithLevel(7, 23039, "Measurement data sent to network. Timestamp (ms), data", Value(millis),
                            Value(std::static_pointer_cast<const Object>(message)));
    if (!setUploadInProgressWithBundleIDs(rowIDs)) return;

    // An attempt that never completes counts as failed.
    persistedConfig_->setLastFailedUploadTimestamp(now());
    setIsNetworkRequestPending(true);
    network_->setTimeoutInterval(config->networkTimeout());
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    const std::string sessionID = network_->postURL(
        config->uploadURL(), std::nullopt, message->protoBuffer().value_or(Data()), scheduler_->workerQueue(),
        shouldUseBackgroundSession(),
        [weakSelf](std::shared_ptr<const HTTPURLResponse> response, std::optional<Data>,
                   std::optional<Error> error) {
            const auto self = weakSelf.lock();
            if (!self) return;
            self->setIsNetworkRequestPending(false);
            self->networkUploadCompletionHandlerWithResponse(response ? *response : HTTPURLResponse{}, error);
        });
    if (sessionID.empty()) {
        monitor()->logWithLevel(2, 23040, "Unable to create network session.");
        uploadingBundleIDs_.reset();
    }
}

bool ZDMMeasurement::isNetworkReadyForRequest() {
    const bool busy = network_ && network_->hasUploadInProgress();
    if (!isNetworkRequestPending()) return !busy;
    if (!busy) monitor()->logWithLevel(1, 23041, "Analytics is uploading but network is not uploading");
    return false;
}

ZDMMeasurement::QueuedBundles ZDMMeasurement::filteredBundlesWithCompatibleAppID(
    const std::string& appID, const std::string& resettableDeviceID, const std::string& vendorDeviceID,
    const QueuedBundles& bundlesToUpload) {
    if (!resettableDeviceID.empty() && !vendorDeviceID.empty()) {
        monitor()->logWithLevel(2, 23042,
                                "Bundle filter must not specify both resettableDeviceID and vendorDeviceID");
        return {};
    }
    const bool byResettableID = !resettableDeviceID.empty();
    const std::string& key = byResettableID ? resettableDeviceID : vendorDeviceID;
    const int32_t keyField = byResettableID ? kBundleResettableDeviceID : kBundleVendorDeviceID;
    QueuedBundles batch;
    for (const auto& row : bundlesToUpload) {
        const std::string deviceID = stringField(*row.first, keyField);
        const bool matches = stringField(*row.first, kBundleAppID) == appID &&
                             (deviceID.empty() || key.empty() || deviceID == key);
        // Order matters on the server: a bundle that does not fit waits, and so does all after it.
        if (!matches) break;
        batch.push_back(row);
    }
    return batch;
}

bool ZDMMeasurement::setUploadInProgressWithBundleIDs(const Value::Array& bundleIDs) {
    if (bundleIDs.empty()) {
        monitor()->logWithLevel(2, 23046, "Bundle list is empty. Cancelling upload");
        return false;
    }
    if (uploadingBundleIDs_ && !uploadingBundleIDs_->empty()) {
        // Posting bundles under another upload's row IDs would delete rows that were never sent.
        monitor()->logWithLevel(2, 23047, "Set uploading progress before finishing the previous upload");
        return false;
    }
    uploadingBundleIDs_ = bundleIDs;
    return true;
}

void ZDMMeasurement::incrementRetryCounter() {
    const auto database = this->database();
    if (!database || !uploadingBundleIDs_) return;
    if (Error error;
        !database->incrementRetryCounterForBundlesWithIDs(*uploadingBundleIDs_, &error) && isSet(error))
        zdm_engine::logError(2, 23166, "Failed to update the bundles' retry counts. Error", error);
}

void ZDMMeasurement::networkUploadCompletionHandlerWithResponse(const HTTPURLResponse& response,
                                                                const std::optional<Error>& error) {
    const long status = response.statusCode;
    const double current = now();
    if (!isUploadSuccess(status)) {
        persistedConfig_->setLastFailedUploadTimestamp(current);
        if (asksToBackOff(status)) persistedConfig_->setLastBackoffTimestamp(current);
        monitor()->logWithLevel(7, 23043, "Network upload failed. Will retry later. Code, error",
                                Value(int64_t(status)), errorValue(error));
        incrementRetryCounter();
        uploadingBundleIDs_.reset();
        return updateSchedule();
    }
    monitor()->logWithLevel(7, 23044, "Successful upload. Got network response. Code, size",
                            Value(int64_t(status)), Value(response.expectedContentLength));
    persistedConfig_->setLastSuccessfulUploadTimestamp(current);
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);
    updateSchedule();
    if (removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_.value_or(Value::Array{}))) {
        setSuspendedUploadTimestamp(0);
    } else {
        monitor()->logWithLevel(1, 23045,
                                "Unable to delete uploaded bundles. Uploads will be suspended for seconds",
                                Value(kSuspensionSeconds));
        setSuspendedUploadTimestamp(ZDMSecondsSinceBoot());
    }
    uploadingBundleIDs_.reset();
    const auto config = remoteConfigInstance();
    if ((network_ && network_->isNetworkConnected() && hasDataToUpload()) || (config && config->isExpired()))
        return scheduleUploadData();
    if (isPSMRequestPostponed()) {
        setIsPSMRequestPostponed(false);
        // The network counts this upload as running until its completion has returned: the query
        // waits for that.
        return scheduleOnWorkerQueue("ZDMMeasurement:3141",
                                     [](ZDMMeasurement& self) { self.retrievePSMResponse(); });
    }
    updateSchedule();
}

void ZDMMeasurement::terminateBackgroundTask() {
    persistedConfig_->synchronizeToDisk();
}

void ZDMMeasurement::fetchRemoteConfig() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("fetchRemoteConfig");
    const auto config = remoteConfigInstance();
    const auto identity = this->identity();
    if (!config || !identity || !network_) return;
    const auto url = config->remoteConfigURLWithAppInstanceID(identity->appInstanceID(), kPlatform,
                                                              ZDMIdentity::didAdirezaridoLibraryVersion(),
                                                              kEventEditingRuntimeVersion);
    if (!url) return monitor()->logWithLevel(2, 23125, "Invalid server URL to get configuration");
    monitor()->logWithLevel(8, 23126, "Fetching configuration from the server");

    HTTPHeaders headers;
    if (const auto lastModified = persistedConfig_->configServerLastModifiedString();
        lastModified && lastModified->asString() && !lastModified->asString()->empty())
        headers["If-Modified-Since"] = *lastModified->asString();
    if (const auto etag = persistedConfig_->configServerETag(); etag && !etag->empty())
        headers["If-None-Match"] = *etag;

    setIsNetworkRequestPending(true);
    network_->setTimeoutInterval(config->networkTimeout());
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    network_->getURL(*url, headers, scheduler_->workerQueue(), shouldUseBackgroundSession(),
                     [weakSelf](std::shared_ptr<const HTTPURLResponse> response, std::optional<Data> data,
                                std::optional<Error> error) {
                         const auto self = weakSelf.lock();
                         if (!self) return;
                         self->setIsNetworkRequestPending(false);
                         self->networkRemoteConfigFetchCompletionHandler(
                             response ? *response : HTTPURLResponse{}, data, error);
                     });
}

void ZDMMeasurement::networkRemoteConfigFetchCompletionHandler(const HTTPURLResponse& response,
                                                               const std::optional<Data>& data,
                                                               const std::optional<Error>& error) {
    const long status = response.statusCode;
    const double current = now();
    monitor()->logWithLevel(8, 23127, "Fetched configuration. Status code", Value(int64_t(status)));
    const bool answered = isUploadSuccess(status) || status == kZEDUdovadeHTTPStatusCodeNotModified ||
                          status == kZEDUdovadeHTTPStatusCodeNotFound;
    if (!answered) {
        monitor()->logWithLevel(3, 23128, "Network request failed to fetch remote config. Code, Error",
                                Value(int64_t(status)), errorValue(error));
        // The fetch shares the upload's retry and back-off schedule.
        persistedConfig_->setLastFailedUploadTimestamp(current);
        if (asksToBackOff(status)) persistedConfig_->setLastBackoffTimestamp(current);
        monitor()->logWithLevel(3, 23129, "Network fetch failed. Will retry later. Code, error",
                                Value(int64_t(status)), errorValue(error));
        return updateSchedule();
    }
    persistedConfig_->setConfigServerLastModifiedString(response.valueForHTTPHeaderField("Last-Modified"));
    persistedConfig_->setConfigServerETag(response.valueForHTTPHeaderField("ETag"));
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);

    const auto database = this->database();
    const auto storeSuccessTime = [&](int64_t failureCode, const char* failureText) {
        Error storeError;
        if (database && database->updateRemoteConfigSuccessfulTimestamp(current, &storeError)) return true;
        if (isSet(storeError))
            monitor()->logWithLevel(1, failureCode, failureText, ErrorObject::value(storeError));
        return false;
    };
    bool stored = false;
    if (isUploadSuccess(status)) {
        monitor()->logWithLevel(8, 23133, "Successfully fetched configuration from the server. Code, size",
                                Value(int64_t(status)), Value(response.expectedContentLength));
        stored = storeSuccessTime(23134, "Failed to set last set timestamp in database. Error");
        if (database && data && !data->empty()) applyRemoteConfigData(*database, *data);
    } else {
        if (status == kZEDUdovadeHTTPStatusCodeNotFound)
            monitor()->logWithLevel(3, 23130, "Configuration not found. Using default configuration");
        else
            monitor()->logWithLevel(8, 23131,
                                    "Configuration has not been modified. Using the same configuration. Code",
                                    Value(int64_t(status)));
        stored = storeSuccessTime(23132, "Failed to update config last set timestamp. Error");
    }
    // Without a stored success time the configuration would stay expired and every upload would
    // fetch again at once.
    setSuspendedUploadTimestamp(stored ? 0 : ZDMSecondsSinceBoot());
    uploadDataOrRegisterAlarm();
}

void ZDMMeasurement::applyRemoteConfigData(ZDMDatabase& database, const Data& data) {
    const auto remoteConfig = remoteConfigInstance();
    const auto previous = remoteConfig ? remoteConfig->remoteConfigProto() : nullptr;
    if (database.performTransaction([&] { return updateRemoteConfigWithData(data); }) || !remoteConfig ||
        remoteConfig->remoteConfigProto() == previous)
        return;
    // The configuration took the new message before a later step failed: the rollback put the
    // stored one back, and the one in force goes back with it.
    if (previous)
        remoteConfig->updateMeasurementConfig(previous);
    else
        remoteConfig->reset();
}

bool ZDMMeasurement::updateRemoteConfigWithData(const Data& data) {
    const auto config = ZDMPBMeasurementConfig::initWithBuffer(data);
    if (!config || !config->protoBuffer()) {
        monitor()->logWithLevel(2, 23135, "Configuration data is invalid.");
        return false;
    }
    const auto identity = this->identity();
    const auto appID = identity ? identity->appIDFromZOR() : std::nullopt;
    if (!appID || ZDMPBGetString(config.get(), kConfigAppID) != appID) {
        monitor()->logWithLevel(2, 23136, "Configuration does not have valid Zizoda App ID.");
        return false;
    }
    // Audiences are kept by the audience evaluator, never in the stored configuration.
    std::vector<std::shared_ptr<ZDMPBAudience>> audiences;
    if (const auto elements = ZDMPBGetArray(config.get(), kConfigAudiences, &ZDMPBAudience::messageClass())) {
        for (const Value& element : *elements)
            if (const auto audience = element.objectAs<ZDMPBAudience>())
                audiences.push_back(std::const_pointer_cast<ZDMPBAudience>(audience));
    }
    ZDMPBClearField(config.get(), kConfigAudiences);
    const auto remoteConfig = remoteConfigInstance();
    if (!remoteConfig || !remoteConfig->updateMeasurementConfig(config)) {
        monitor()->logWithLevel(2, 23138, "Failed to update configuration with new server configuration",
                                Value(data));
        return false;
    }
    const auto evaluator = audience();
    if (!evaluator || !evaluator->updateAudiences(audiences)) {
        monitor()->logWithLevel(2, 23137, "Failed to update audiences with new server configuration",
                                Value(data));
        return false;
    }
    return true;
}

bool ZDMMeasurement::hasDataToUpload() {
    const auto database = this->database();
    if (!database) return false;
    const auto queueEmpty =
        loggedQuery(1, 23117, "Failed to check if queue table is empty. Error",
                    [&](Error* error) { return database->isQueuedBundleTableEmpty(error); });
    if (!queueEmpty) return false;
    if (!*queueEmpty) return true;
    const auto rawEmpty = loggedQuery(1, 23118, "Failed to check if raw events table is empty. Error",
                                      [&](Error* error) { return database->isRawEventsTableEmpty(error); });
    return rawEmpty && !*rawEmpty;
}

bool ZDMMeasurement::removeBundlesFromDatabaseWithIDs(const Value::Array& bundleIDs) {
    const auto database = this->database();
    Error error;
    if (database && database->deleteBundlesWithRowIDs(bundleIDs, &error)) return true;
    zdm_engine::logError(1, 23122, "Failed to delete bundles from database. Error", error);
    return false;
}
