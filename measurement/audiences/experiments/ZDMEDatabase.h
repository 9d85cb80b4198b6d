#pragma once
// The experiment snapshots of every SDK across launches, in an sqlite file of their own: per SDK
// one pending row (received, not in force), one activated row (in force) and one launched row
// (experiment 0, in force for everybody). Only the task manager uses it, on its worker queue.
//
// Statement errors go back through the out-parameter and are not logged here: the callers log them.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMESnapshot.h"
#include "measurement/foundation/ZDMSqliteStore.h"

class ZDMEDatabase {
  public:
    static constexpr const char* kFileName = "zizoda_experimentation_database.sql";
    static constexpr const char* kPendingTable = "pending_snapshot_table";
    static constexpr const char* kActivatedTable = "activated_snapshot_table";
    static constexpr const char* kLaunchedTable = "launched_snapshot_table";
    static constexpr double kStaleActivatedAge = 259200;  // three days

    // nullptr for an empty path (810000) or a file that cannot be opened or validated (then
    // deleted, so that the next start tries a fresh one).
    static std::unique_ptr<ZDMEDatabase> initWithPath(const std::string& path);

    bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath);
    bool ensureAllTables();
    void closeAndDelete();
    // A new empty file in place of the old one.
    void reset();
    // One transaction: YES from the block commits, NO rolls back (810007).
    bool performTransaction(const std::function<bool()>& block);

    // nullopt on a failed query (with its error) or when a row gives no snapshot (no error).
    std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> fetchAllActivatedSnapshots(
        Error* error = nullptr);
    std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> fetchAllPendingSnapshots(
        Error* error = nullptr);
    std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> fetchAllLaunchedSnapshots(
        Error* error = nullptr);

    bool upsertSnapshot(const ZDMPBSnapshot& snapshot, const std::string& table, double timestamp,
                        std::optional<bool> manuallyActivated, Error* error = nullptr);
    bool upsertPendingExperimentSnapshots(const std::vector<std::shared_ptr<ZDMESnapshot>>& snapshots,
                                          Error* error = nullptr);
    // Experiment 0 becomes the launched row, the others the activated row, both at `timestamp`;
    // the SDK's pending rows up to that time go.
    bool activateSnapshot(const std::shared_ptr<ZDMESnapshot>& snapshot, double timestamp,
                          Error* error = nullptr);
    // Pending rows not waiting for their client, each at its own timestamp.
    bool activatePendingSnapshotsAutomatically(Error* error = nullptr);
    bool deleteStaleActivatedSnapshots(Error* error = nullptr);
    bool deleteActivatedExperimentsOfSDKName(const std::string& SDKName, Error* error = nullptr);
    bool deletePendingExperimentsOfSDKName(const std::string& SDKName, Error* error = nullptr);
    bool deleteLaunchedExperimentSDKName(const std::string& SDKName, Error* error = nullptr);
    std::optional<std::vector<ZDMSqliteStore::Record>> allDataTypesFromTableWithName(const std::string& table,
                                                                                     int64_t limit,
                                                                                     Error* error = nullptr);

    const std::string& databasePath() const { return databasePath_; }

  private:
    std::optional<std::vector<std::shared_ptr<ZDMESnapshot>>> fetchAllSnapshots(const std::string& table,
                                                                                Error* error);
    bool deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& table, Error* error);

    std::unique_ptr<ZDMSqliteStore> sqliteStore_;
    std::string databasePath_;
};
