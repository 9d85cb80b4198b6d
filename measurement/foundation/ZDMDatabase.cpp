#include "measurement/foundation/ZDMDatabase.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "platform/dispatch/Clock.h"

namespace {

using ColumnInfo = ZDMSqliteStore::ColumnInfo;
using Record = ZDMDatabase::Record;

struct TableSchema {
    const char* name;
    ColumnInfo elementary;
    ColumnInfo addOn;
    std::map<std::string, std::string> modify;
};

// The composite key of the filter tables, written into the CREATE statement like a column.
std::pair<std::string, std::string> compositeKey(const std::string& first, const std::string& second) {
    return {ZDMSqliteStore::kPrimaryKey, "(" + first + ", " + second + ")"};
}

const std::vector<TableSchema>& schema() {
    static const std::vector<TableSchema> tables = {
        {"app_metadata",
         {{"last_bundle_index", "INTEGER NOT NULL"}, {"last_bundle_end_timestamp", "REAL NOT NULL"}},
         {{"last_bundle_start_timestamp", "REAL"},
          {"day", "INTEGER"},
          {"daily_conversions_count", "INTEGER"},
          {"daily_events_count", "INTEGER"},
          {"daily_public_events_count", "INTEGER"},
          {"daily_error_events_count", "INTEGER"},
          {"remote_config_data", "BLOB"},
          {"remote_config_timestamp", "REAL"},
          {"daily_real_time_conversion_events_count", "INTEGER"}},
         {}},
        {"raw_events_metadata",
         {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}},
         {},
         {}},
        // The timestamp was once an integer; files made then are rebuilt with a real one.
        {"raw_events",
         {{"name", "TEXT NOT NULL"},
          {"timestamp", "INTEGER NOT NULL"},
          {"metadata_fingerprint", "INTEGER NOT NULL"},
          {"data", "BLOB NOT NULL"}},
         {{"is_realtime", "INTEGER"}},
         {{"timestamp", "REAL NOT NULL"}}},
        {"events",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"lifetime_count", "INTEGER NOT NULL"},
          {"current_bundle_count", "INTEGER NOT NULL"},
          {"last_fire_timestamp", "REAL NOT NULL"}},
         {{"last_bundled_timestamp", "REAL"},
          {"last_sampled_complex_event_id", "INTEGER"},
          {"last_sampling_rate", "INTEGER"},
          {"last_exempt_from_sampling", "INTEGER"},
          {"last_bundled_day", "INTEGER"},
          {"current_session_count", "INTEGER"}},
         {}},
        {"user_attributes",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"set_timestamp", "REAL NOT NULL"},
          {"value", "BLOB NOT NULL"}},
         {{"origin", "TEXT"}},
         {}},
        {"queue",
         {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}},
         {{"is_realtime", "INTEGER"}, {"retry_count", "INTEGER"}},
         {}},
        {"event_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"event_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          compositeKey("audience_id", "filter_id")},
         {{"session_scoped", "INTEGER"}},
         {}},
        {"property_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"property_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          compositeKey("audience_id", "filter_id")},
         {{"session_scoped", "INTEGER"}},
         {}},
        {"audience_filter_values",
         {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"},
          {"current_results", "BLOB"},
          {"previous_results", "BLOB"}},
         {},
         {}},
        {"purchase_transactions", {{"fingerprint", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
        {"subscriptions", {{"subscription_id", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
        {"conditional_properties",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"origin", "TEXT NOT NULL"},
          {"value", "BLOB NOT NULL"},
          {"creation_timestamp", "REAL NOT NULL"},
          {"active", "INTEGER NOT NULL"},
          {"trigger_timeout", "REAL NOT NULL"},
          {"triggered_timestamp", "REAL NOT NULL"},
          {"time_to_live", "REAL NOT NULL"},
          {"trigger_event_name", "TEXT"},
          {"timed_out_event", "BLOB"},
          {"triggered_event", "BLOB"},
          {"expired_event", "BLOB"}},
         {},
         {}},
        {"main_event_params",
         {{"event_id", "INTEGER NOT NULL PRIMARY KEY"},
          {"children_to_process", "INTEGER NOT NULL"},
          {"main_event", "BLOB NOT NULL"}},
         {},
         {}},
    };
    return tables;
}

// The single bookkeeping row is addressed by rowid with the text "1", which sqlite compares with
// the integer rowid 1.
const std::string kRowIDColumn = "rowid";
const Value kAppMetadataRowID = Value("1");

ZDMMonitor& monitor() {
    return *ZDMMonitor::sharedMonitor();
}

// A stored counter or index as an int32: a number out of range (a damaged file) is held at the
// nearest bound rather than cut to arbitrary bits.
std::optional<int32_t> int32Column(const Record& row, std::string_view column) {
    const Value& value = row[column];
    if (!value.isNumber()) return std::nullopt;
    const int64_t number = value.asInteger().value_or(0);
    return static_cast<int32_t>(std::clamp<int64_t>(number, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::optional<Record> appMetadataRow(const ZDMAppMetadata* appMetadata, Error* error) {
    if (!appMetadata) {
        ZDMSetError(error, 3, "Received empty app metadata for getting dictionary representation");
        return std::nullopt;
    }
    return Record{{kRowIDColumn, kAppMetadataRowID},
                  {"last_bundle_index", Value(appMetadata->lastBundleIndex())},
                  {"last_bundle_start_timestamp", Value(appMetadata->lastBundleStartTimestamp())},
                  {"last_bundle_end_timestamp", Value(appMetadata->lastBundleEndTimestamp())}};
}

std::optional<ZDMAppMetadata> appMetadataFromRow(const Record& row) {
    const int32_t index = int32Column(row, "last_bundle_index").value_or(-1);
    const double start = row["last_bundle_start_timestamp"].asReal().value_or(0.0);
    const double end = row["last_bundle_end_timestamp"].asReal().value_or(0.0);
    return ZDMAppMetadata::initWithLastBundleIndex(index, start, end);
}

}  // namespace

std::unique_ptr<ZDMDatabase> ZDMDatabase::initWithDatabaseName(
    const std::string& databaseName, std::shared_ptr<PersistedConfig> persistedConfig, Error* error) {
    if (!ZDMCheckLengthOrSetError(databaseName.size(), error, 1, "Received empty database name in init"))
        return nullptr;
    std::unique_ptr<ZDMDatabase> database(new ZDMDatabase);
    if (!database->initializeDatabaseResourcesWithContext("Init", ZDMMeasurementSupportFilePath(databaseName),
                                                          error))
        return nullptr;
    database->persistedConfig_ = std::move(persistedConfig);
    return database;
}

bool ZDMDatabase::initializeDatabaseResourcesWithContext(const std::string& context, const std::string& path,
                                                         Error* error) {
    sqliteStore_ = ZDMSqliteStore::make(path, error);
    if (!sqliteStore_) return false;
    if (!ensureAllTables()) {
        monitor().logWithLevel(1, 12002,
                               "Failed to create or validate required database tables (" + context + ")");
        // The store still holds the file: it closes before deleting, and takes the journal and
        // write-ahead files along, so that the next open starts from a truly empty file.
        if (!sqliteStore_->closeAndDeleteDatabase())
            monitor().logWithLevel(
                4, 12003,
                "Failed to delete old database file after failed validation. Error (" + context + ")",
                Value(path));
        sqliteStore_.reset();
        return false;
    }
    if (!initializeAppMetadata()) {
        monitor().logWithLevel(1, 12004, "Failed to initialize App Metadata table (" + context + ")");
        return false;
    }
    return true;
}

bool ZDMDatabase::reset(Error* error) {
    if (!sqliteStore_ || !sqliteStore_->closeAndDeleteDatabase()) {
        ZDMSetError(error, 2, "Failed to delete database data");
        return false;
    }
    const std::string path = sqliteStore_->databasePath();
    return initializeDatabaseResourcesWithContext("Reset", path, error);
}

bool ZDMDatabase::performTransaction(const std::function<bool()>& block) {
    Error error;
    if (sqliteStore_ && sqliteStore_->performTransactionWithError(&error, block)) return true;
    monitor().logWithLevel(1, 12056, "Transaction failed. " + error.description);
    return false;
}

bool ZDMDatabase::ensureAllTables() {
    if (!sqliteStore_) return false;
    for (const TableSchema& table : schema()) {
        Error error;
        if (!sqliteStore_->ensureTableWithName(table.name, table.elementary, table.addOn, table.modify,
                                               &error)) {
            monitor().logWithLevel(1, 12047, "Failed to ensure table. Table, error", Value(table.name),
                                   ErrorObject::value(error));
            return false;
        }
    }
    return true;
}

bool ZDMDatabase::initializeAppMetadata() {
    return performTransaction([this] {
        Error error;
        const auto existing =
            dataTypesFromTableWithName<bool>(kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, &error,
                                             [](const Record&, Error*) { return std::optional<bool>(true); });
        if (!existing) {
            monitor().logWithLevel(1, 12005, "Failed to query app metadata");
            return false;
        }
        if (!existing->empty()) return true;
        const auto fresh = ZDMAppMetadata::initWithLastBundleIndex(0, 0.0, 0.0);
        const auto row = appMetadataRow(&*fresh, &error);
        if (!row || !upsertDataType(*row, kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, 1, &error)) {
            monitor().logWithLevel(1, 12006, "Unable to update the app metadata. Error",
                                   ErrorObject::value(error));
            return false;
        }
        return true;
    });
}

std::optional<std::vector<Record>> ZDMDatabase::rowsFromTable(const std::string& table, int64_t tableLimit,
                                                              Error* error, bool hasBlock) {
    if (!ZDMCheckConditionOrSetError(hasBlock, error, 1, "Received nil block to get all data types"))
        return std::nullopt;
    if (!sqliteStore_) return std::nullopt;
    return sqliteStore_->recordsForQuery(
        "SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(tableLimit), {}, error);
}

std::optional<std::vector<Record>> ZDMDatabase::rowsFromTable(const std::string& table,
                                                              const std::string& columnName,
                                                              const Value& columnValue, Error* error,
                                                              bool hasBlock) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1,
                                  "Received empty table name to create data type from table") ||
        !ZDMCheckLengthOrSetError(columnName.size(), error, 1,
                                  "Received empty column name to create data type from table") ||
        !ZDMCheckObjectOrSetError(columnValue, error, 1,
                                  "Received nil column value to create data type from table") ||
        !ZDMCheckConditionOrSetError(hasBlock, error, 2, "Received nil block to create data type from table"))
        return std::nullopt;
    if (!sqliteStore_) return std::nullopt;
    return sqliteStore_->recordsForQuery("SELECT rowid, * FROM " + table + " WHERE " + columnName + " = ?",
                                         {columnValue}, error);
}

bool ZDMDatabase::insertDataType(const Record& record, const std::string& table, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for inserting") ||
        !ZDMCheckLengthOrSetError(record.size(), error, 2, "Failed to insert empty record"))
        return false;
    return sqliteStore_ && sqliteStore_->upsertRecord(record, table, error);
}

bool ZDMDatabase::upsertDataType(const Record& record, const std::string& table,
                                 const std::string& columnName, const Value& columnValue, int64_t tableLimit,
                                 Error* error) {
    if (!ZDMCheckLengthOrSetError(record.size(), error, 1, "Received empty data type to upsert") ||
        !ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for checking upsert"))
        return false;
    if (!sqliteStore_) return false;
    const auto keyRows = sqliteStore_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyRows) return false;
    const auto allRows = sqliteStore_->rowCountForTableWithName(table, error);
    if (!allRows) return false;
    if (*keyRows == 0 && *allRows >= tableLimit) {
        ZDMSetError(error, 2, "Failed to insert data type. Table is full");
        return false;
    }
    return sqliteStore_->upsertRecord(record, table, error);
}

bool ZDMDatabase::updateDataType(const Record& record, const std::string& table,
                                 const std::string& columnName, const Value& columnValue, Error* error) {
    if (!ZDMCheckLengthOrSetError(record.size(), error, 1, "Received empty data type to update") ||
        !ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for updating"))
        return false;
    if (!sqliteStore_) return false;
    const auto keyRows = sqliteStore_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyRows) return false;
    if (*keyRows == 0) {
        ZDMSetError(error, 2, "Failed to update record. Item doesn't exist");
        return false;
    }
    return sqliteStore_->updateRecord(record, table, columnName, columnValue, error);
}

std::optional<ZDMAppMetadata> ZDMDatabase::queryAppMetadata(Error* error) {
    auto records = dataTypesFromTableWithName<ZDMAppMetadata>(
        kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, error,
        [](const Record& row, Error*) { return appMetadataFromRow(row); });
    if (!records || records->empty()) return std::nullopt;
    return records->front();
}

bool ZDMDatabase::updateAppMetadata(const ZDMAppMetadata* appMetadata, Error* error) {
    const auto row = appMetadataRow(appMetadata, error);
    return row && updateDataType(*row, kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, error);
}

int32_t ZDMDatabase::today() const {
    const double offset = persistedConfig_ ? persistedConfig_->midnightOffset() : 0.0;
    const double day = std::floor((Clock::current().now() - offset) / 86400.0);
    return static_cast<int32_t>(
        std::clamp<double>(day, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

std::optional<ZDMDailyCounts> ZDMDatabase::dailyCounts(Error* error) {
    const int32_t day = today();
    auto records = dataTypesFromTableWithName<ZDMDailyCounts>(
        kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, error, [day](const Record& row, Error*) {
            return std::optional<ZDMDailyCounts>(
                ZDMDailyCounts(int32Column(row, "day").value_or(day),
                               int32Column(row, "daily_conversions_count").value_or(0),
                               int32Column(row, "daily_events_count").value_or(0),
                               int32Column(row, "daily_public_events_count").value_or(0),
                               int32Column(row, "daily_error_events_count").value_or(0),
                               int32Column(row, "daily_real_time_conversion_events_count").value_or(0)));
        });
    if (!records || records->empty()) return std::nullopt;
    return records->front();
}

bool ZDMDatabase::updateDailyCounts(const ZDMDailyCounts* dailyCounts, Error* error) {
    if (!dailyCounts) {
        ZDMSetError(error, 3, "Received empty daily counts for getting dictionary representation");
        return false;
    }
    const Record row{{"day", Value(dailyCounts->day())},
                     {"daily_conversions_count", Value(dailyCounts->conversionsCount())},
                     {"daily_events_count", Value(dailyCounts->allEventsCount())},
                     {"daily_public_events_count", Value(dailyCounts->publicEventsCount())},
                     {"daily_error_events_count", Value(dailyCounts->errorEventsCount())},
                     {"daily_real_time_conversion_events_count", Value(dailyCounts->realtimeCount())}};
    return updateDataType(row, kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, error);
}
