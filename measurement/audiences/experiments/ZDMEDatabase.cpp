#include "measurement/audiences/experiments/ZDMEDatabase.h"

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/dispatch/Clock.h"

namespace {
constexpr int64_t kFetchLimit = 100000;

const ZDMSqliteStore::ColumnInfo& snapshotColumns() {
    static const ZDMSqliteStore::ColumnInfo columns{{"sdk_name", "TEXT NOT NULL PRIMARY KEY"},
                                                    {"snapshotProto", "BLOB NOT NULL"},
                                                    {"timestamp", "REAL NOT NULL"},
                                                    {"manually_activated", "INTEGER"}};
    return columns;
}

// The stored message with the row's own time and activation mark; nullptr when the bytes do not
// make a snapshot.
std::shared_ptr<ZDMESnapshot> snapshotFromRecord(const ZDMSqliteStore::Record& record) {
    const Data* bytes = record["snapshotProto"].asData();
    auto message = ZDMPBSnapshot::initWithBuffer(bytes ? *bytes : Data());
    if (!message) return nullptr;
    auto snapshot = ZDMESnapshot::initWithProtobuf(*message);
    if (!snapshot) return nullptr;
    snapshot->setTimestamp(record["timestamp"].realOr(0));
    if (record["manually_activated"].isNumber())
        snapshot->setManuallyActivated(record["manually_activated"].integerOr(0) != 0);
    return snapshot;
}

std::shared_ptr<ZDMPBSnapshot> snapshotMessage(
    const std::string& SDKName, const std::vector<std::shared_ptr<ZDMEExperiment>>& experiments) {
    auto snapshot = ZDMESnapshot::initWithSDKName(SDKName, experiments);
    return snapshot ? snapshot->proto() : nullptr;
}
}  // namespace

std::unique_ptr<ZDMEDatabase> ZDMEDatabase::initWithPath(const std::string& path) {
    if (path.empty()) {
        ZDMEManager::monitor()->logWithLevel(1, 810000, "Cannot initialize the database with invalid path");
        return nullptr;
    }
    auto database = std::make_unique<ZDMEDatabase>();
    if (!database->initializeDatabaseResourcesWithContext("Init", path)) return nullptr;
    return database;
}

bool ZDMEDatabase::initializeDatabaseResourcesWithContext(const std::string& context,
                                                          const std::string& databasePath) {
    databasePath_ = databasePath;
    Error error;
    sqliteStore_ = ZDMSqliteStore::make(databasePath, &error);
    if (!sqliteStore_) {
        ZDMEManager::monitor()->logWithLevel(1, 810001, "Failed to open database (" + context + ")",
                                             ErrorObject::value(error));
        return false;
    }
    if (ensureAllTables()) return true;
    ZDMEManager::monitor()->logWithLevel(
        1, 810002, "Failed to create or validate required database tables (" + context + ")");
    // Closed before the file goes, with its journal, so that no connection writes into a deleted
    // file and the next start opens a fresh one.
    if (!sqliteStore_->closeAndDeleteDatabase())
        ZDMEManager::monitor()->logWithLevel(
            4, 810003, "Failed to delete old database file after failed validation. Error (" + context + ")",
            Value(databasePath));
    sqliteStore_.reset();
    return false;
}

bool ZDMEDatabase::ensureAllTables() {
    for (const char* table : {kPendingTable, kActivatedTable, kLaunchedTable}) {
        Error error;
        if (sqliteStore_->ensureTableWithName(table, snapshotColumns(), {}, {}, &error)) continue;
        // A refusal that names no error is not a failure of the table.
        if (error.domain.empty()) continue;
        ZDMEManager::monitor()->logWithLevel(1, 810004, "Failed to ensure table. Table, error", Value(table),
                                             ErrorObject::value(error));
        return false;
    }
    return true;
}

void ZDMEDatabase::closeAndDelete() {
    if (!sqliteStore_ || !sqliteStore_->closeAndDeleteDatabase())
        ZDMEManager::monitor()->logWithLevel(4, 810005, "Failed to delete database data");
    sqliteStore_.reset();
}

void ZDMEDatabase::reset() {
    if (sqliteStore_) sqliteStore_->closeAndDeleteDatabase();
    sqliteStore_.reset();
    if (!initializeDatabaseResourcesWithContext("Reset", databasePath_))
        ZDMEManager::monitor()->logWithLevel(1, 810006, "Cannot re-initialize the database");
}

bool ZDMEDatabase::performTransaction(const std::function<bool()>& block) {
    Error error(kZDMErrorDomain, 2, "Database not open");
    if (sqliteStore_ && sqliteStore_->performTransactionWithError(&error, block)) return true;
    ZDMEManager::monitor()->logWithLevel(1, 810007, "Transaction failed. " + error.description);
    return false;
}

std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> ZDMEDatabase::fetchAllActivatedSnapshots(
    Error* error) {
    return fetchAllSnapshots(kActivatedTable, error);
}

std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> ZDMEDatabase::fetchAllPendingSnapshots(
    Error* error) {
    return fetchAllSnapshots(kPendingTable, error);
}

std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> ZDMEDatabase::fetchAllLaunchedSnapshots(
    Error* error) {
    return fetchAllSnapshots(kLaunchedTable, error);
}

std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> ZDMEDatabase::fetchAllSnapshots(
    const std::string& table, Error* error) {
    auto records = allDataTypesFromTableWithName(table, kFetchLimit, error);
    if (!records) return std::nullopt;
    std::vector<std::shared_ptr<ZDMESnapshot>> snapshots;
    for (const auto& record : *records) {
        auto snapshot = snapshotFromRecord(record);
        if (!snapshot) return std::nullopt;
        snapshots.push_back(snapshot);
    }
    return snapshots;
}

std::optional<std::vector<ZDMSqliteStore::Record>> ZDMEDatabase::allDataTypesFromTableWithName(
    const std::string& table, int64_t limit, Error* error) {
    if (!ZDMCheckObjectOrSetError(sqliteStore_.get(), error, 2, "Database not open")) return std::nullopt;
    return sqliteStore_->recordsForQuery(
        "SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(limit), {}, error);
}

bool ZDMEDatabase::upsertSnapshot(const ZDMPBSnapshot& snapshot, const std::string& table, double timestamp,
                                  std::optional<bool> manuallyActivated, Error* error) {
    if (!ZDMCheckObjectOrSetError(sqliteStore_.get(), error, 2, "Database not open")) return false;
    auto bytes = snapshot.protoBuffer();
    if (!ZDMCheckConditionOrSetError(bytes.has_value(), error, 1, "Cannot serialise snapshot")) return false;
    ZDMSqliteStore::Record record;
    record.set("sdk_name", Value(ZDMPBGetString(&snapshot, 0).value_or("")));
    record.set("timestamp", Value(timestamp));
    record.set("snapshotProto", Value(*bytes));
    if (manuallyActivated) record.set("manually_activated", Value(int64_t{*manuallyActivated ? 1 : 0}));
    return sqliteStore_->upsertRecord(record, table, error);
}

bool ZDMEDatabase::upsertPendingExperimentSnapshots(
    const std::vector<std::shared_ptr<ZDMESnapshot>>& snapshots, Error* error) {
    for (const auto& snapshot : snapshots) {
        auto message = snapshot ? snapshot->proto() : nullptr;
        if (!ZDMCheckObjectOrSetError(message.get(), error, 1, "Received nil pending snapshot")) return false;
        if (!upsertSnapshot(*message, kPendingTable, snapshot->timestamp(), snapshot->manuallyActivated(),
                            error))
            return false;
    }
    return true;
}

bool ZDMEDatabase::activateSnapshot(const std::shared_ptr<ZDMESnapshot>& snapshot, double timestamp,
                                    Error* error) {
    if (!ZDMCheckObjectOrSetError(snapshot.get(), error, 1, "Received nil pending snapshot")) return false;
    std::shared_ptr<ZDMEExperiment> launched;
    std::vector<std::shared_ptr<ZDMEExperiment>> activated;
    for (const auto& experiment : snapshot->experiments()) {
        if (experiment->experimentID() == 0)
            launched = experiment;
        else
            activated.push_back(experiment);
    }
    const std::string& name = snapshot->SDKName();
    if (launched) {
        auto message = snapshotMessage(name, {launched});
        if (!message || !upsertSnapshot(*message, kLaunchedTable, timestamp, std::nullopt, error))
            return false;
    }
    // Also when no experiment is left: the activated row then holds none, as the manager's memory
    // does, so an older row's flags do not come back after a restart.
    auto message = snapshotMessage(name, activated);
    if (!message || !upsertSnapshot(*message, kActivatedTable, timestamp, std::nullopt, error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName(kPendingTable, "sdk_name = ? AND timestamp <= ?",
                                         {Value(name), Value(timestamp)}, error)
        .has_value();
}

bool ZDMEDatabase::activatePendingSnapshotsAutomatically(Error* error) {
    if (!ZDMCheckObjectOrSetError(sqliteStore_.get(), error, 2, "Database not open")) return false;
    Error queryError;
    auto records = sqliteStore_->recordsForQuery(
        "SELECT rowid,* FROM pending_snapshot_table WHERE NOT manually_activated = ? ORDER BY rowid",
        {Value(int64_t{1})}, &queryError);
    if (!records) {
        if (error) *error = queryError;
        return false;
    }
    for (const auto& record : *records) {
        auto snapshot = snapshotFromRecord(record);
        if (!ZDMCheckObjectOrSetError(snapshot.get(), error, 2, "Received an invalid snapshot from database"))
            return false;
        if (!activateSnapshot(snapshot, snapshot->timestamp(), error)) return false;
        if (!sqliteStore_->deleteRecordFromTableWithName(kPendingTable, "sdk_name", record["sdk_name"],
                                                         error))
            return false;
    }
    return true;
}

bool ZDMEDatabase::deleteStaleActivatedSnapshots(Error* error) {
    if (!ZDMCheckObjectOrSetError(sqliteStore_.get(), error, 2, "Database not open")) return false;
    const double cutOff = Clock::current().now() - kStaleActivatedAge;
    return sqliteStore_
        ->deleteRecordsFromTableWithName(kActivatedTable, "timestamp <= ?", {Value(cutOff)}, error)
        .has_value();
}

bool ZDMEDatabase::deleteActivatedExperimentsOfSDKName(const std::string& SDKName, Error* error) {
    if (!ZDMCheckLengthOrSetError(SDKName.size(), error, 1, "Received empty SDK Name")) return false;
    return deleteExperimentsOfSDKName(SDKName, kActivatedTable, error);
}

bool ZDMEDatabase::deletePendingExperimentsOfSDKName(const std::string& SDKName, Error* error) {
    return deleteExperimentsOfSDKName(SDKName, kPendingTable, error);
}

bool ZDMEDatabase::deleteLaunchedExperimentSDKName(const std::string& SDKName, Error* error) {
    return deleteExperimentsOfSDKName(SDKName, kLaunchedTable, error);
}

bool ZDMEDatabase::deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& table,
                                              Error* error) {
    if (!ZDMCheckObjectOrSetError(sqliteStore_.get(), error, 2, "Database not open")) return false;
    return sqliteStore_->deleteRecordFromTableWithName(table, "sdk_name", Value(SDKName), error);
}
