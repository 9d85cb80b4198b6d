#pragma once
// The measurement library's persistent store: one sqlite file holding the logged events, the
// compressed bundles, counters, user properties, audience state and the app's bookkeeping row. It
// owns the schema (thirteen tables), the text of every query and the conversion between rows and
// records, over ZDMSqliteStore.
//
// Thread safety: none of its own. Every call comes from the engine's worker queue; callers group
// multi-step changes with performTransaction, and transactions do not nest.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measurement/foundation/ZDMAppMetadata.h"
#include "measurement/foundation/ZDMDailyCounts.h"
#include "measurement/foundation/ZDMDatabasePersistedConfig.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMSqliteStore.h"
#include "platform/foundation/Error.h"

class ZDMConditionalUserProperty;
class ZDMEvent;
class ZDMEventAggregates;
class ZDMEventFilter;
class ZDMFilterResult;
class ZDMPBEventParam;
class ZDMPropertyFilter;
class ZDMUserAttribute;
class ZDMPBMeasurementBundle;
class ZDMRawEventData;
class ZDMPBMeasurementConfig;
class ZDMRemoteConfig;

class ZDMDatabase {
  public:
    using Record = ZDMSqliteStore::Record;
    template <class T>
    using CreateDataTypeBlock = std::function<std::optional<T>(const Record& row, Error* error)>;

    using PersistedConfig = ZDMDatabasePersistedConfig;
    // A bundle read from the upload queue with its row ID.
    using QueuedBundle = std::pair<std::shared_ptr<ZDMPBMeasurementBundle>, int64_t>;

    static constexpr const char* kAppMetadataTable = "app_metadata";

    // Opens or creates `databaseName` in the library's support directory, schema checked and the
    // bookkeeping row made. No database for an empty name or a file that cannot be made usable.
    static std::unique_ptr<ZDMDatabase> initWithDatabaseName(const std::string& databaseName,
                                                             std::shared_ptr<PersistedConfig> persistedConfig,
                                                             Error* error = nullptr);

    // Opens the store at `path` and checks every table; a file that fails the check is closed and
    // deleted, so that the next open starts from an empty one. `context` ("Init", "Reset") only
    // fills the messages.
    bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& path,
                                                Error* error = nullptr);
    // Deletes the file and builds an empty database at the same path.
    bool reset(Error* error = nullptr);
    // YES from the block commits, NO rolls back; a transaction that does not commit logs 12056.
    bool performTransaction(const std::function<bool()>& block);
    // Stops at the first table that cannot be created, validated or migrated (12047).
    bool ensureAllTables();
    // Writes the bookkeeping row (rowid 1, index 0, times 0) unless one exists.
    bool initializeAppMetadata();

    // Generic row operations over whole rows, each holding "rowid" besides its columns. The block
    // turns a row into a record; rows it refuses are skipped.
    template <class T>
    std::optional<std::vector<T>> allDataTypesFromTableWithName(const std::string& table, int64_t tableLimit,
                                                                Error* error,
                                                                const CreateDataTypeBlock<T>& block);
    // No rows is an empty list; rows none of which became a record is an error (code 2).
    template <class T>
    std::optional<std::vector<T>> dataTypesFromTableWithName(const std::string& table,
                                                             const std::string& columnName,
                                                             const Value& columnValue, Error* error,
                                                             const CreateDataTypeBlock<T>& block);
    // Appends a row, or replaces the row of the same primary key.
    bool insertDataType(const Record& record, const std::string& table, Error* error = nullptr);
    // A key that has a row is always written; a new key only while the table holds fewer rows than
    // `tableLimit`.
    bool upsertDataType(const Record& record, const std::string& table, const std::string& columnName,
                        const Value& columnValue, int64_t tableLimit, Error* error = nullptr);
    // The key must have a row.
    bool updateDataType(const Record& record, const std::string& table, const std::string& columnName,
                        const Value& columnValue, Error* error = nullptr);

    std::optional<ZDMAppMetadata> queryAppMetadata(Error* error = nullptr);
    bool updateAppMetadata(const ZDMAppMetadata* appMetadata, Error* error = nullptr);
    // The stored counters as they are: the day rolls over only in the increments. Today's day when
    // none is stored.
    std::optional<ZDMDailyCounts> dailyCounts(Error* error = nullptr);
    bool updateDailyCounts(const ZDMDailyCounts* dailyCounts, Error* error = nullptr);

    // The last configuration received from the server, kept in the bookkeeping row with the time
    // it was stored. One without app ID or encoding is refused (code 1) and nothing is written.
    bool updateRemoteConfig(const ZDMPBMeasurementConfig* config, Error* error = nullptr);
    bool updateRemoteConfigSuccessfulTimestamp(double timestamp, Error* error = nullptr);
    // nullptr without an error when none is stored; bytes that do not decode are code 2.
    std::shared_ptr<ZDMPBMeasurementConfig> queryMeasurementConfigWithError(Error* error = nullptr);
    // Seconds since 1970; nullopt when never set (or on failure, with the error).
    std::optional<double> lastRemoteConfigUpdateTimestamp(Error* error = nullptr);

    // Today's day number: whole days since 1970 counted from the library's midnight offset.
    int32_t today() const;

    // Raw event metadata, stored once per fingerprint (the 64 low bits of the MD5 digest of the
    // metadata's encoding).
    bool insertIfNotExistsRawEventMetadata(const ZDMPBMeasurementBundle* metadata, Error* error = nullptr);
    std::shared_ptr<ZDMPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(int64_t fingerprint,
                                                                                  Error* error = nullptr);
    bool deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, Error* error = nullptr);
    bool deleteUnusedRawEventsMetadata(Error* error = nullptr);

    // Raw events. The stored event is its wire form without the name, which has its own column.
    bool insertRawEvent(const ZDMEvent* event, int64_t metadataFingerprint, bool isRealtime,
                        Error* error = nullptr);
    // At most 1000 rows of the fingerprint in insertion order; the filter sees each row before it is
    // decoded and its first NO ends the read. Rows that do not decode are left out.
    using RawEventFilter = std::function<bool(int64_t rowIndex, const Record& row)>;
    std::optional<std::vector<std::shared_ptr<ZDMRawEventData>>> rawEventsWithMetadataFingerprint(
        int64_t fingerprint, Error* error, const RawEventFilter& eventFilter);
    std::shared_ptr<ZDMRawEventData> rawEventDataFromDictionary(const Record& row, Error* error = nullptr);
    // The number of rows removed so that the next insert makes `maxEventsStored`.
    std::optional<int64_t> deleteRawEventsOverAbsoluteLimit(Error* error = nullptr);
    std::optional<bool> isRawEventsTableEmpty(Error* error = nullptr);
    std::optional<bool> containsRealtimeRawEventsWithError(Error* error = nullptr);
    std::optional<bool> containsRawEventWithMetadataFingerprint(int64_t fingerprint, Error* error = nullptr);
    // No time and no error for an empty table.
    std::optional<double> queryLatestRawEventTime(Error* error = nullptr);
    // The fingerprint of the oldest raw event; none and no error for an empty table.
    std::optional<int64_t> nextMetadataFingerprintToProcess(Error* error = nullptr);
    bool deleteRawEventsWithMaxRowID(int64_t rowID, Error* error = nullptr);
    // Rows further than `maxAge` seconds from now, past or future, and metadata no row uses.
    bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, Error* error = nullptr);

    // The upload queue: gzip-compressed bundles in upload order.
    bool insertBundle(const ZDMPBMeasurementBundle* bundle, bool isRealtime, Error* error = nullptr);
    // At most `countLimit` bundles; past the first, only while their encodings fit `sizeLimit` bytes.
    std::optional<std::vector<QueuedBundle>> queryBundlesWithCountLimit(int64_t countLimit, int64_t sizeLimit,
                                                                        Error* error = nullptr);
    std::optional<std::vector<QueuedBundle>> queryBundlesWithRowIDs(const Value::Array& rowIDs,
                                                                    Error* error = nullptr);
    bool deleteBundlesWithRowIDs(const Value::Array& rowIDs, Error* error = nullptr);
    // Adds one failed upload to each bundle; a count at the largest int32 stays there (12054).
    bool incrementRetryCounterForBundlesWithIDs(const Value::Array& rowIDs, Error* error = nullptr);
    std::optional<bool> isQueuedBundleTableEmpty(Error* error = nullptr);
    std::optional<bool> containsRealtimeBundlesWithError(Error* error = nullptr);
    std::optional<double> queryLatestBundleTime(Error* error = nullptr);
    // YES when stale raw events and bundles were deleted now, NO when that is not due yet, none on
    // failure.
    std::optional<bool> maybeDeleteStaleData(Error* error = nullptr);
    bool deleteStaleBundlesOlderThanMaxAge(double maxAge, Error* error = nullptr);

    // Event aggregates: one row of counters per event name, at most 1000 names.
    std::optional<int64_t> publicEventCount(Error* error = nullptr);
    // The first 1000 rows in insertion order.
    std::optional<std::vector<std::shared_ptr<ZDMEventAggregates>>> allEventAggregates(
        Error* error = nullptr);
    // nullptr without an error when the name has no row.
    std::shared_ptr<ZDMEventAggregates> eventAggregatesWithName(const std::string& name,
                                                                Error* error = nullptr);
    bool updateEventAggregates(const ZDMEventAggregates* eventAggregates, Error* error = nullptr);
    bool clearCurrentSessionCounts(Error* error = nullptr);

    // User properties: one row per name, at most 1000. A row from before the origin column existed
    // reads with an empty origin.
    std::optional<int64_t> publicUserAttributeCount(Error* error = nullptr);
    std::optional<int64_t> userAttributeCountForOrigin(const std::string& origin, Error* error = nullptr);
    std::optional<bool> containsUserAttributeWithName(const std::string& name, Error* error = nullptr);
    // nullptr without an error when the name has no row.
    std::shared_ptr<ZDMUserAttribute> userAttributeWithName(const std::string& name, Error* error = nullptr);
    // Without internal ones, names beginning with "_", carrying a reserved prefix or reserved as a
    // public name of an internal property are left out.
    std::optional<std::vector<std::shared_ptr<ZDMUserAttribute>>> userAttributesIncludingInternal(
        bool includeInternal, Error* error = nullptr);
    // The properties named "_ltv_…", most recently set first; none when a row does not convert.
    std::optional<std::vector<std::shared_ptr<ZDMUserAttribute>>> allLifetimeValueUserAttributes(
        Error* error = nullptr);
    bool updateUserAttribute(const ZDMUserAttribute* userAttribute, Error* error = nullptr);
    bool deleteUserAttributeWithName(const std::string& name, Error* error = nullptr);

    // Conditional user properties, one row per name, at most 1000. A write replaces the whole row.
    std::shared_ptr<ZDMConditionalUserProperty> conditionalUserPropertyWithName(const std::string& name,
                                                                                Error* error = nullptr);
    bool updateConditionalUserProperty(const ZDMConditionalUserProperty* property, Error* error = nullptr);
    bool deleteConditionalUserPropertyWithName(const std::string& name, Error* error = nullptr);
    using ConditionalUserProperties = std::vector<std::shared_ptr<ZDMConditionalUserProperty>>;
    // Waiting longer than the trigger timeout, measured either way from now.
    std::optional<ConditionalUserProperties> timedOutConditionalUserPropertiesWithError(
        Error* error = nullptr);
    // Active longer than the time to live, measured either way from now.
    std::optional<ConditionalUserProperties> expiredConditionalUserPropertiesWithError(
        Error* error = nullptr);
    // Waiting for `eventName` and not timed out.
    std::optional<ConditionalUserProperties> triggeredConditionalUserPropertiesWithEventName(
        const std::string& eventName, Error* error = nullptr);
    // Names beginning with `prefix` and the origin `origin`, both taken literally; an empty one does
    // not filter.
    std::optional<ConditionalUserProperties> conditionalUserPropertiesWithPrefix(const std::string& prefix,
                                                                                 const std::string& origin,
                                                                                 Error* error = nullptr);
    // In insertion order; none when one row does not convert.
    std::optional<ConditionalUserProperties> conditionalUserPropertiesWithCondition(
        const std::string& condition, const Value::Array& parameterValues, Error* error = nullptr);

    // Audience filters, keyed by (audience ID, filter ID); the flags come from the stored message.
    std::optional<std::vector<int32_t>> allAudienceIDs(Error* error = nullptr);
    std::optional<std::vector<std::shared_ptr<ZDMEventFilter>>> eventFiltersForEventName(
        const std::string& eventName, Error* error = nullptr);
    std::optional<std::vector<std::shared_ptr<ZDMPropertyFilter>>> propertyFiltersForPropertyName(
        const std::string& propertyName, Error* error = nullptr);
    // Writes in order; the first filter refused or not written ends the call, the ones before it
    // stay unless the caller's transaction rolls back.
    bool updateEventFilters(const std::vector<std::shared_ptr<ZDMEventFilter>>& eventFilters,
                            Error* error = nullptr);
    bool updatePropertyFilters(const std::vector<std::shared_ptr<ZDMPropertyFilter>>& propertyFilters,
                               Error* error = nullptr);
    bool deleteEventFilters(const std::vector<std::shared_ptr<ZDMEventFilter>>& eventFilters,
                            Error* error = nullptr);
    bool deletePropertyFilters(const std::vector<std::shared_ptr<ZDMPropertyFilter>>& propertyFilters,
                               Error* error = nullptr);
    bool deleteAllEventFilters(Error* error = nullptr);
    bool deleteAllPropertyFilters(Error* error = nullptr);
    // Audience ID to the IDs of its session-scoped filters, event and property alike.
    std::optional<std::map<int32_t, std::vector<int32_t>>> allSessionScopedFilters(Error* error = nullptr);

    // Audience results, one row per audience.
    std::optional<std::map<int32_t, std::shared_ptr<ZDMFilterResult>>> allFilterResults(
        Error* error = nullptr);
    // nullptr without an error when the audience has no row.
    std::shared_ptr<ZDMFilterResult> filterResultForAudienceID(int32_t audienceID, Error* error = nullptr);
    bool updateFilterResults(const std::vector<std::shared_ptr<ZDMFilterResult>>& filterResults,
                             Error* error = nullptr);
    bool deleteFilterResults(const std::vector<std::shared_ptr<ZDMFilterResult>>& filterResults,
                             Error* error = nullptr);

    // Reported purchases and subscriptions: YES when new and now stored, NO when empty or known,
    // none on failure. Purchases keep the newest 1000.
    std::optional<bool> insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                Error* error = nullptr);
    std::optional<bool> insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                           Error* error = nullptr);
    // Keeps the newest 1000 subscriptions; the number deleted.
    std::optional<int64_t> deleteSubscriptionsOverLimit(Error* error = nullptr);

    // A complex event kept with the number of its child events still to process; none without an
    // error when the ID has no row.
    std::optional<std::pair<std::shared_ptr<ZDMEvent>, int64_t>> mainEventAndChildCountPairWithEventID(
        int64_t eventID, Error* error = nullptr);
    bool updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                            const ZDMEvent* mainEvent,
                                                            Error* error = nullptr);
    bool deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, Error* error = nullptr);

    // An event stored beside a conditional property or a complex event: the encoding of its wire
    // form; anything else is code 2.
    static std::shared_ptr<ZDMEvent> eventFromStoredObject(const Value& object, Error* error = nullptr);

    ZDMSqliteStore* sqliteStore() const { return sqliteStore_.get(); }
    const std::shared_ptr<PersistedConfig>& persistedConfig() const { return persistedConfig_; }

  private:
    ZDMDatabase() = default;
    std::optional<std::vector<Record>> rowsFromTable(const std::string& table, int64_t tableLimit,
                                                     Error* error, bool hasBlock);
    std::optional<std::vector<Record>> rowsFromTable(const std::string& table, const std::string& columnName,
                                                     const Value& columnValue, Error* error, bool hasBlock);

    // The engine's remote configuration (stored-events limit, queue time, stale-data interval).
    static std::shared_ptr<ZDMRemoteConfig> remoteConfig();
    std::optional<bool> booleanForQuery(const std::string& query, const Value::Array& values, Error* error);
    bool deleteRecords(const std::string& table, const std::string& condition, const Value::Array& values,
                       Error* error);
    std::optional<int64_t> countForQuery(const std::string& query, const Value::Array& values, Error* error);
    std::optional<bool> insertIfNotDuplicate(const std::string& table, const std::string& column,
                                             const std::string& text, Error* error);
    std::optional<QueuedBundle> queuedBundleFromRow(const Record& row, Error* error);
    std::optional<std::vector<QueuedBundle>> queuedBundlesForQuery(const std::string& query,
                                                                   const Value::Array& values, Error* error);

    std::unique_ptr<ZDMSqliteStore> sqliteStore_;
    std::shared_ptr<PersistedConfig> persistedConfig_;
};

template <class T>
std::optional<std::vector<T>> ZDMDatabase::allDataTypesFromTableWithName(
    const std::string& table, int64_t tableLimit, Error* error, const CreateDataTypeBlock<T>& block) {
    auto rows = rowsFromTable(table, tableLimit, error, static_cast<bool>(block));
    if (!rows) return std::nullopt;
    std::vector<T> records;
    for (const Record& row : *rows)
        if (auto record = block(row, error)) records.push_back(std::move(*record));
    return records;
}

template <class T>
std::optional<std::vector<T>> ZDMDatabase::dataTypesFromTableWithName(const std::string& table,
                                                                      const std::string& columnName,
                                                                      const Value& columnValue, Error* error,
                                                                      const CreateDataTypeBlock<T>& block) {
    auto rows = rowsFromTable(table, columnName, columnValue, error, static_cast<bool>(block));
    if (!rows) return std::nullopt;
    std::vector<T> records;
    for (const Record& row : *rows)
        if (auto record = block(row, error)) records.push_back(std::move(*record));
    if (!rows->empty() && records.empty()) {
        ZDMSetError(error, 2, "Failed to initialize data types from dictionaries");
        return std::nullopt;
    }
    return records;
}
