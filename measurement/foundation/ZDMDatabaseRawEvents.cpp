// The raw-event, metadata and upload-queue operations of the measurement database.
#include <cmath>
#include <cstdlib>
#include <limits>

#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/dispatch/Clock.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"

namespace {

using Record = ZDMDatabase::Record;

constexpr const char* kRawEventsTable = "raw_events";
constexpr const char* kRawEventsMetadataTable = "raw_events_metadata";
constexpr const char* kQueueTable = "queue";
constexpr int64_t kMaxRawEventsMetadataRows = 100000;
constexpr int64_t kMaxRetryCount = std::numeric_limits<int32_t>::max();

// Bundle fields by index.
constexpr int32_t kBundleEndTimestampIndex = 5;
constexpr int32_t kBundleAppIDIndex = 14;
constexpr int32_t kBundleRetryCountIndex = 35;

ZDMMonitor& monitor() {
    return *ZDMMonitor::sharedMonitor();
}

double now() {
    return Clock::current().now();
}

// "rowid IN (?,?,…)" for the given IDs, which must all be numbers.
std::optional<std::string> rowIDCondition(const Value::Array& rowIDs, Error* error) {
    if (!ZDMCheckLengthOrSetError(rowIDs.size(), error, 3, "Received empty row IDs to process"))
        return std::nullopt;
    std::string placeholders;
    for (const Value& rowID : rowIDs) {
        if (!ZDMCheckConditionOrSetError(rowID.isNumber(), error, 3,
                                         "Received invalid type for row ID to process"))
            return std::nullopt;
        placeholders += placeholders.empty() ? "?" : ",?";
    }
    return "rowid IN (" + placeholders + ")";
}

std::shared_ptr<ZDMPBMeasurementBundle> metadataFromRow(const Record& row, Error* error) {
    const Data* metadata = row["metadata"].asData();
    if (!metadata || metadata->empty()) {
        ZDMSetError(error, 3, "Event metadata should not be empty for getting measurement bundle");
        return nullptr;
    }
    return ZDMPBMeasurementBundle::initWithBuffer(*metadata);
}

}  // namespace

std::shared_ptr<ZDMRemoteConfig> ZDMDatabase::remoteConfig() {
    return ZDMInstalledRemoteConfig();
}

std::optional<bool> ZDMDatabase::booleanForQuery(const std::string& query, const Value::Array& values,
                                                 Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto number = sqliteStore_->numberForQuery(query, values, error);
    if (!number) return std::nullopt;
    return number->asInteger().value_or(0) != 0;
}

// Any count of deleted rows, 0 included, is a success.
bool ZDMDatabase::deleteRecords(const std::string& table, const std::string& condition,
                                const Value::Array& values, Error* error) {
    return sqliteStore_ && sqliteStore_->deleteRecordsFromTableWithName(table, condition, values, error);
}

bool ZDMDatabase::insertIfNotExistsRawEventMetadata(const ZDMPBMeasurementBundle* metadata, Error* error) {
    const std::optional<Data> encoding = metadata ? metadata->protoBuffer() : std::nullopt;
    if (!encoding) {
        ZDMSetError(error, 3,
                    "Received empty measurement bundle metadata for getting dictionary representation");
        return false;
    }
    const int64_t fingerprint = zdm_64LSBMD5(*encoding);
    if (queryRawEventsMetadataWithFingerprint(fingerprint, error)) return true;
    const Record row{{"metadata_fingerprint", Value(fingerprint)}, {"metadata", Value(*encoding)}};
    return upsertDataType(row, kRawEventsMetadataTable, "metadata_fingerprint", Value(fingerprint),
                          kMaxRawEventsMetadataRows, error);
}

std::shared_ptr<ZDMPBMeasurementBundle> ZDMDatabase::queryRawEventsMetadataWithFingerprint(
    int64_t fingerprint, Error* error) {
    auto records = dataTypesFromTableWithName<std::shared_ptr<ZDMPBMeasurementBundle>>(
        kRawEventsMetadataTable, "metadata_fingerprint", Value(fingerprint), error,
        [](const Record& row, Error* rowError) -> std::optional<std::shared_ptr<ZDMPBMeasurementBundle>> {
            auto bundle = metadataFromRow(row, rowError);
            if (!bundle) return std::nullopt;
            return bundle;
        });
    if (!records || records->empty()) return nullptr;
    return records->front();
}

bool ZDMDatabase::deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, Error* error) {
    return deleteRecords(kRawEventsMetadataTable, "metadata_fingerprint == ?", {Value(fingerprint)}, error);
}

bool ZDMDatabase::deleteUnusedRawEventsMetadata(Error* error) {
    return deleteRecords(kRawEventsMetadataTable,
                         "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)",
                         {}, error);
}

std::optional<int64_t> ZDMDatabase::deleteRawEventsOverAbsoluteLimit(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    // The newest limit - 1 rows stay, so that the insert which follows makes exactly the limit.
    const int64_t keep = std::max<int64_t>(int64_t{remoteConfig()->maxEventsStored()} - 1, 0);
    return sqliteStore_->deleteRecordsFromTableWithName(
        kRawEventsTable, "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
        {Value(keep)}, error);
}

std::optional<bool> ZDMDatabase::isRawEventsTableEmpty(Error* error) {
    return booleanForQuery("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", {}, error);
}

std::optional<bool> ZDMDatabase::containsRealtimeRawEventsWithError(Error* error) {
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)", {},
                           error);
}

std::optional<bool> ZDMDatabase::containsRawEventWithMetadataFingerprint(int64_t fingerprint, Error* error) {
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)",
                           {Value(fingerprint)}, error);
}

std::optional<double> ZDMDatabase::queryLatestRawEventTime(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto latest = sqliteStore_->numberForQuery("SELECT MAX(timestamp) FROM raw_events", {}, error);
    return latest ? latest->asReal() : std::nullopt;
}

std::optional<int64_t> ZDMDatabase::nextMetadataFingerprintToProcess(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto rows =
        sqliteStore_->recordsForQuery("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
    if (!rows) return std::nullopt;
    if (rows->size() != 1) {
        ZDMSetError(error, 2, "Only one event metadata should be processed");
        return std::nullopt;
    }
    return rows->front()["metadata_fingerprint"].asInteger();
}

bool ZDMDatabase::deleteRawEventsWithMaxRowID(int64_t rowID, Error* error) {
    return deleteRecords(kRawEventsTable, "rowid <= ?", {Value(rowID)}, error);
}

bool ZDMDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, Error* error) {
    if (!ZDMCheckConditionOrSetError(maxAge >= 0, error, 1,
                                     "Cannot delete stale raw events given negative time period"))
        return false;
    if (!sqliteStore_) return false;
    const auto deleted = sqliteStore_->deleteRecordsFromTableWithName(
        kRawEventsTable, "abs(timestamp - cast(? as REAL)) > cast(? as REAL)", {Value(now()), Value(maxAge)},
        error);
    if (!deleted) return false;
    return *deleted == 0 || deleteUnusedRawEventsMetadata(error);
}

bool ZDMDatabase::insertBundle(const ZDMPBMeasurementBundle* bundle, bool isRealtime, Error* error) {
    const std::optional<Data> encoding = bundle ? bundle->protoBuffer() : std::nullopt;
    if (!ZDMCheckConditionOrSetError(encoding && !encoding->empty(), error, 1, "Failed to insert nil bundle"))
        return false;
    const auto appID = ZDMPBGetString(bundle, kBundleAppIDIndex);
    if (!ZDMCheckConditionOrSetError(appID && !appID->empty(), error, 1,
                                     "Failed to insert bundle without App ID"))
        return false;
    const int64_t endMillis = ZDMPBGetInt64(bundle, kBundleEndTimestampIndex);
    if (!ZDMCheckConditionOrSetError(endMillis > 0, error, 1,
                                     "Failed to insert bundle without valid timestamp"))
        return false;
    if (!maybeDeleteStaleData(error).has_value()) return false;

    const double endSeconds = static_cast<double>(endMillis) / 1000.0;
    if (remoteConfig()->maxQueueTime() < std::fabs(now() - endSeconds))
        monitor().logWithLevel(4, 12016, "Storing bundle outside of the max uploading time span");
    const auto compressed = ziz_dataByGzippingData(*encoding);
    if (!ZDMCheckConditionOrSetError(compressed && !compressed->empty(), error, 2,
                                     "Failed to compress bundle"))
        return false;
    monitor().logWithLevel(7, 12018, "Saving bundle. size (bytes)",
                           Value(std::to_string(compressed->size())));
    Record row{{"bundle_end_timestamp", Value(endSeconds)},
               {"data", Value(*compressed)},
               {"is_realtime", Value(isRealtime)}};
    // An absent retry count is stored as 0, which reads back as none: a NULL would stay NULL when
    // a failed upload adds 1 to it, and the bundle's retries would never be counted.
    row.set("retry_count", Value(int64_t{ZDMPBGetInt32(bundle, kBundleRetryCountIndex)}));
    return sqliteStore_ && sqliteStore_->upsertRecord(row, kQueueTable, error);
}

std::optional<ZDMDatabase::QueuedBundle> ZDMDatabase::queuedBundleFromRow(const Record& row, Error* error) {
    if (!ZDMCheckConditionOrSetError(!row.empty(), error, 3, "Cannot process empty rowData"))
        return std::nullopt;
    const Data* data = row["data"].asData();
    if (!ZDMCheckConditionOrSetError(data && !data->empty(), error, 3,
                                     "Cannot decompress an empty bundle data"))
        return std::nullopt;
    Error inflateError;
    const auto inflated = ziz_dataByInflatingGzippedData(*data, &inflateError);
    if (!inflated || inflated->empty()) {
        ZDMSetError(error, 2, inflateError.description);
        return std::nullopt;
    }
    auto bundle = ZDMPBMeasurementBundle::initWithBuffer(*inflated);
    if (!ZDMCheckObjectOrSetError(bundle, error, 2, "Unable to parse bundle from decompressed data"))
        return std::nullopt;
    const int64_t retryCount = row["retry_count"].asInteger().value_or(0);
    if (retryCount > 0)
        ZDMPBSetInt32(bundle.get(), kBundleRetryCountIndex,
                      static_cast<int32_t>(std::min<int64_t>(retryCount, kMaxRetryCount)));
    const auto rowID = row["rowid"].asInteger();
    if (!rowID) return std::nullopt;
    return QueuedBundle{bundle, *rowID};
}

std::optional<std::vector<ZDMDatabase::QueuedBundle>> ZDMDatabase::queuedBundlesForQuery(
    const std::string& query, const Value::Array& values, Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(query, values, error);
    if (!rows) return std::nullopt;
    std::vector<QueuedBundle> bundles;
    for (const Record& row : *rows)
        if (auto bundle = queuedBundleFromRow(row, error)) bundles.push_back(std::move(*bundle));
    return bundles;
}

std::optional<std::vector<ZDMDatabase::QueuedBundle>> ZDMDatabase::queryBundlesWithCountLimit(
    int64_t countLimit, int64_t sizeLimit, Error* error) {
    auto decoded = queuedBundlesForQuery(
        "SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?", {Value(countLimit)}, error);
    if (!decoded) return std::nullopt;
    std::vector<QueuedBundle> taken;
    // Summed in 64 bits: a 32-bit sum could overflow past 2 GiB, where it would be undefined.
    int64_t total = 0;
    for (auto& queued : *decoded) {
        const auto encoding = queued.first->protoBuffer();
        const int64_t size = encoding ? static_cast<int64_t>(encoding->size()) : 0;
        if (!taken.empty() && total + size > sizeLimit) break;
        taken.push_back(std::move(queued));
        total += size;
        if (total > sizeLimit) break;
    }
    return taken;
}

std::optional<std::vector<ZDMDatabase::QueuedBundle>> ZDMDatabase::queryBundlesWithRowIDs(
    const Value::Array& rowIDs, Error* error) {
    const auto condition = rowIDCondition(rowIDs, error);
    if (!condition) return std::nullopt;
    return queuedBundlesForQuery("SELECT rowid, data, retry_count FROM queue WHERE " + *condition, rowIDs,
                                 error);
}

bool ZDMDatabase::deleteBundlesWithRowIDs(const Value::Array& rowIDs, Error* error) {
    const auto condition = rowIDCondition(rowIDs, error);
    return condition && deleteRecords(kQueueTable, *condition, rowIDs, error);
}

bool ZDMDatabase::incrementRetryCounterForBundlesWithIDs(const Value::Array& rowIDs, Error* error) {
    if (!ZDMCheckLengthOrSetError(rowIDs.size(), error, 1, "Failed to increment retry counter")) return false;
    const auto condition = rowIDCondition(rowIDs, error);
    if (!condition || !sqliteStore_) return false;
    if (booleanForQuery("SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? LIMIT 1)",
                        {Value(kMaxRetryCount)}, nullptr)
            .value_or(false))
        monitor().logWithLevel(1, 12054,
                               "The number of upload retries exceeds the limit. Will remain unchanged.");
    Value::Array values = rowIDs;
    values.push_back(Value(kMaxRetryCount));
    return sqliteStore_->increaseColumn("retry_count", 1, kQueueTable, *condition + " AND retry_count < ?",
                                        values, error);
}

std::optional<bool> ZDMDatabase::isQueuedBundleTableEmpty(Error* error) {
    return booleanForQuery("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", {}, error);
}

std::optional<bool> ZDMDatabase::containsRealtimeBundlesWithError(Error* error) {
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

std::optional<double> ZDMDatabase::queryLatestBundleTime(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto latest = sqliteStore_->numberForQuery("SELECT MAX(bundle_end_timestamp) FROM queue", {}, error);
    return latest ? latest->asReal() : std::nullopt;
}

std::optional<bool> ZDMDatabase::maybeDeleteStaleData(Error* error) {
    const double current = now();
    const double last = persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp() : 0.0;
    const auto config = remoteConfig();
    if (std::fabs(current - last) <= config->databaseDeleteStaleBundlesInterval()) return false;
    const double maxAge = config->maxQueueTime();
    if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error) ||
        !deleteStaleBundlesOlderThanMaxAge(maxAge, error))
        return std::nullopt;
    if (persistedConfig_) persistedConfig_->setLastDeleteStaleBundlesTimestamp(current);
    return true;
}

bool ZDMDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, Error* error) {
    if (!ZDMCheckConditionOrSetError(maxAge >= 0, error, 1,
                                     "Cannot delete stale bundles after negative time period"))
        return false;
    return deleteRecords(kQueueTable, "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)",
                         {Value(now()), Value(maxAge)}, error);
}

namespace {

constexpr int64_t kRawEventsReadLimit = 1000;
// EventParam fields by index.
constexpr int32_t kParamName = 0;
constexpr int32_t kParamString = 1;
constexpr int32_t kParamInt64 = 2;
constexpr int32_t kParamDouble = 4;
constexpr int32_t kParamChildren = 5;

std::vector<std::shared_ptr<const ZDMPBEventParam>> childrenOf(const ZDMPBEventParam* param) {
    std::vector<std::shared_ptr<const ZDMPBEventParam>> children;
    for (const Value& child :
         ZDMPBGetArray(param, kParamChildren, &ZDMPBEventParam::messageClass()).value_or(Value::Array()))
        if (auto p = child.objectAs<ZDMPBEventParam>()) children.push_back(p);
    return children;
}

// One stored parameter as name -> ZDMValue. At top level an array parameter becomes an array of
// item dictionaries under its name; nested, a nameless item answers the dictionary of its own
// entries.
std::optional<Dictionary> decodeParameter(const ZDMPBEventParam* param, bool nested, Error* error) {
    if (!param) {
        ZDMSetError(error, 1, "Failed to parse empty event params data");
        return std::nullopt;
    }
    const auto name = ZDMPBGetString(param, kParamName);
    if (!nested && !name) {
        ZDMSetError(error, 1, "Event parameter name is empty");
        return std::nullopt;
    }
    const std::string key = name.value_or("");
    if (auto text = ZDMPBGetString(param, kParamString))
        return Dictionary{{key, Value(ZDMValue::initWithString(Value(*text)))}};
    if (ZDMPBHasField(param, kParamInt64))
        return Dictionary{{key, Value(ZDMValue::initWithInt64(ZDMPBGetInt64(param, kParamInt64)))}};
    if (ZDMPBHasField(param, kParamDouble))
        return Dictionary{{key, Value(ZDMValue::initWithDouble(ZDMPBGetDouble(param, kParamDouble)))}};
    const auto children = childrenOf(param);
    if (children.empty()) {
        ZDMSetError(error, 2, "Failed to parse invalid event params data");
        return std::nullopt;
    }
    if (!nested) {
        Value::Array items;
        for (const auto& child : children)
            if (auto item = decodeParameter(child.get(), true, error))
                items.push_back(Value(std::move(*item)));
        return Dictionary{{key, Value(ZDMValue::initWithArray(Value(std::move(items))))}};
    }
    Dictionary entries;
    for (const auto& child : children) {
        auto decoded = decodeParameter(child.get(), true, error);
        const auto childName = ZDMPBGetString(child.get(), kParamName);
        if (decoded && childName && !decoded->empty() && decoded->begin()->first == *childName)
            entries.set(*childName, decoded->begin()->second);
    }
    return entries;
}

}  // namespace

bool ZDMDatabase::insertRawEvent(const ZDMEvent* event, int64_t metadataFingerprint, bool isRealtime,
                                 Error* error) {
    if (!ZDMCheckConditionOrSetError(event != nullptr, error, 1,
                                     "Received empty event for inserting in the database"))
        return false;
    auto proto = event->protoEvent();
    // The name has its own column.
    ZDMPBClearField(proto.get(), 1);
    const auto encoding = proto->protoBuffer();
    if (!ZDMCheckConditionOrSetError(encoding.has_value(), error, 3,
                                     "Received empty raw event data for getting dictionary representation"))
        return false;
    const Record row{{"name", Value(event->name())},
                     {"timestamp", Value(event->timestamp())},
                     {"metadata_fingerprint", Value(metadataFingerprint)},
                     {"data", Value(*encoding)},
                     {"is_realtime", Value(isRealtime)}};
    return insertDataType(row, kRawEventsTable, error);
}

std::optional<std::vector<std::shared_ptr<ZDMRawEventData>>> ZDMDatabase::rawEventsWithMetadataFingerprint(
    int64_t fingerprint, Error* error, const RawEventFilter& eventFilter) {
    if (!sqliteStore_) return std::nullopt;
    const ZDMSqliteStore::RecordFilter filter = [&](int64_t index, const Record& row) {
        return !eventFilter || eventFilter(index, row);
    };
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
        {Value(fingerprint), Value(kRawEventsReadLimit)}, error, filter);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<ZDMRawEventData>> events;
    for (const Record& row : *rows)
        if (auto data = rawEventDataFromDictionary(row, error)) events.push_back(std::move(data));
    if (!rows->empty() && events.empty()) return std::nullopt;
    return events;
}

std::shared_ptr<ZDMRawEventData> ZDMDatabase::rawEventDataFromDictionary(const Record& row, Error* error) {
    if (!ZDMCheckConditionOrSetError(!row.empty(), error, 1,
                                     "Received empty dictionary for getting raw event data") ||
        !ZDMCheckObjectOrSetError(row["rowid"], error, 1,
                                  "Unable to find row ID in the database dictionary") ||
        !ZDMCheckObjectOrSetError(row["data"], error, 1,
                                  "Unable to find event data in the database dictionary") ||
        !ZDMCheckObjectOrSetError(row["metadata_fingerprint"], error, 1,
                                  "Unable to find event metadata in the database dictionary"))
        return nullptr;
    const Data* data = row["data"].asData();
    auto proto = data ? ZDMPBEvent::initWithBuffer(*data) : nullptr;
    if (!ZDMCheckObjectOrSetError(proto, error, 3, "Failed to parse event from data")) return nullptr;
    const std::string name = row["name"].asString() ? *row["name"].asString() : std::string();
    const double timestamp = row["timestamp"].asReal().value_or(0.0);
    const double previous = static_cast<double>(ZDMPBGetInt64(proto.get(), 3)) / 1000.0;

    std::string origin;
    Dictionary parameters;
    for (const Value& element :
         ZDMPBGetArray(proto.get(), 0, &ZDMPBEventParam::messageClass()).value_or(Value::Array())) {
        auto param = element.objectAs<ZDMPBEventParam>();
        const auto paramName = param ? ZDMPBGetString(param.get(), kParamName) : std::nullopt;
        if (paramName == "_o") {
            const auto text = ZDMPBGetString(param.get(), kParamString);
            if (!ZDMCheckConditionOrSetError(
                    text.has_value(), error, 2,
                    "Cannot create an event from database. Origin parameter is not a string"))
                return nullptr;
            origin = *text;
            continue;
        }
        auto decoded = decodeParameter(param.get(), false, error);
        const Value* value = decoded && paramName ? decoded->find(*paramName) : nullptr;
        if (!ZDMCheckConditionOrSetError(value != nullptr, error, 2, "Failed to parse event params data"))
            return nullptr;
        parameters.set(*paramName, *value);
    }
    if (!ZDMCheckConditionOrSetError(!origin.empty(), error, 2,
                                     "Cannot create an event from database. Missing origin parameter"))
        return nullptr;
    auto event = ZDMEvent::initWithOrigin(origin, false, name, timestamp, previous, parameters);
    auto rawEvent = ZDMRawEventData::initWithRawEvent(event, row["rowid"].asInteger().value_or(-1),
                                                      row["metadata_fingerprint"].asInteger().value_or(0));
    if (!ZDMCheckObjectOrSetError(rawEvent, error, 2, "Failed to initialize raw event data from dictionary"))
        return nullptr;
    return rawEvent;
}
