#include <sqlite3.h>

#include <filesystem>

#include "measurement/audiences/experiments/ZDMEDatabase.h"
#include "measurement/audiences/experiments/tests/ExperimentFixture.h"
#include "measurement/foundation/ZDMFileUtil.h"

namespace {

// Reads and changes the file behind the store's back, as another process or an older version would.
class RawFile {
  public:
    explicit RawFile(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
    ~RawFile() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> out;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            auto text = sqlite3_column_text(statement, 0);
            out.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        sqlite3_finalize(statement);
        return out;
    }

  private:
    sqlite3* db_ = nullptr;
};

class Store : public ExperimentTest {
  protected:
    std::string path_ = ZDMMeasurementSupportFilePath(ZDMEDatabase::kFileName);
    std::unique_ptr<ZDMEDatabase> open() { return ZDMEDatabase::initWithPath(path_); }
    std::vector<std::string> rows(const std::string& table) {
        return RawFile(path_).column(
            "SELECT sdk_name || ':' || timestamp || ':' || ifnull(manually_activated, 'NULL') FROM " + table +
            " ORDER BY sdk_name");
    }
};

TEST_F(Store, NewFileHoldsTheThreeTablesAsDeclared) {
    ASSERT_TRUE(open());
    EXPECT_EQ(std::filesystem::path(path_).filename(), "zizoda_experimentation_database.sql");
    EXPECT_EQ(
        RawFile(path_).column("SELECT sql FROM sqlite_master WHERE type = 'table' ORDER BY name"),
        (std::vector<std::string>{
            "CREATE TABLE activated_snapshot_table ( sdk_name TEXT NOT NULL PRIMARY KEY, snapshotProto BLOB "
            "NOT NULL, timestamp REAL NOT NULL, manually_activated INTEGER)",
            "CREATE TABLE launched_snapshot_table ( sdk_name TEXT NOT NULL PRIMARY KEY, snapshotProto BLOB "
            "NOT NULL, timestamp REAL NOT NULL, manually_activated INTEGER)",
            "CREATE TABLE pending_snapshot_table ( sdk_name TEXT NOT NULL PRIMARY KEY, snapshotProto BLOB "
            "NOT NULL, timestamp REAL NOT NULL, manually_activated INTEGER)",
        }));
}

TEST_F(Store, UpsertingOneSDKTwiceKeepsOneRowWithTheLastValues) {
    auto db = open();
    ASSERT_TRUE(db);
    auto first = snapshot("sdk", {1});
    first->setTimestamp(100);
    auto second = snapshot("sdk", {2});
    second->setTimestamp(200);
    second->setManuallyActivated(true);
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({first}));
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({second}));
    EXPECT_EQ(rows(ZDMEDatabase::kPendingTable), std::vector<std::string>{"sdk:200.0:1"});
    auto pending = db->fetchAllPendingSnapshots();
    ASSERT_TRUE(pending);
    ASSERT_EQ(pending->size(), 1u);
    EXPECT_EQ(IDsOf(pending->front()), std::vector<int64_t>{2});
    EXPECT_EQ(pending->front()->timestamp(), 200);
    EXPECT_TRUE(pending->front()->manuallyActivated());
}

TEST_F(Store, ARowThatDoesNotParseMakesThatTablesFetchNilWithoutError) {
    auto db = open();
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({snapshot("good", {1})}));
    ASSERT_TRUE(db->activateSnapshot(snapshot("good", {1}), 50));
    RawFile(path_).exec("INSERT INTO pending_snapshot_table VALUES ('bad', x'ffff', 1.0, 0)");
    Error error;
    EXPECT_FALSE(db->fetchAllPendingSnapshots(&error));
    EXPECT_TRUE(error.domain.empty());
    auto activated = db->fetchAllActivatedSnapshots(&error);
    ASSERT_TRUE(activated);
    EXPECT_EQ(activated->size(), 1u);
}

TEST_F(Store, ActivationSplitsLaunchedFromActivatedAndDropsOlderPendingRows) {
    const double A = 1000;
    struct Case {
        std::vector<int64_t> IDs;
        std::vector<std::string> launched;
        std::vector<std::string> activatedIDs;  // experiment IDs of the activated row
    };
    const Case cases[] = {
        {{0, 5, 7}, {"sdk:1000.0:NULL"}, {"5", "7"}},
        {{5}, {"sdk:1.0:NULL"}, {"5"}},
        {{0}, {"sdk:1000.0:NULL"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.IDs.size());
        auto db = open();
        auto older = snapshot("sdk", {9});
        older->setTimestamp(1);
        // An earlier launched and activated row, so that what activation leaves in place shows.
        ASSERT_TRUE(db->upsertSnapshot(*older->proto(), ZDMEDatabase::kLaunchedTable, 1, std::nullopt));
        ASSERT_TRUE(db->upsertSnapshot(*older->proto(), ZDMEDatabase::kActivatedTable, 1, std::nullopt));
        auto oldPending = snapshot("sdk", c.IDs);
        oldPending->setTimestamp(A);
        auto newPending = snapshot("other", {1});
        newPending->setTimestamp(A + 1);
        auto newSameSDK = snapshot("sdk2", {1});
        ASSERT_TRUE(db->upsertPendingExperimentSnapshots({oldPending, newPending}));

        ASSERT_TRUE(db->activateSnapshot(oldPending, A));
        EXPECT_EQ(rows(ZDMEDatabase::kLaunchedTable), c.launched);
        EXPECT_EQ(rows(ZDMEDatabase::kActivatedTable), std::vector<std::string>{"sdk:1000.0:NULL"});
        auto activated = db->fetchAllActivatedSnapshots();
        ASSERT_TRUE(activated);
        std::vector<std::string> IDs;
        for (int64_t ID : IDsOf(activated->front())) IDs.push_back(std::to_string(ID));
        EXPECT_EQ(IDs, c.activatedIDs);
        EXPECT_EQ(rows(ZDMEDatabase::kPendingTable), std::vector<std::string>{"other:1001.0:0"});
        db->closeAndDelete();
    }
}

TEST_F(Store, APendingRowNewerThanTheActivationSurvives) {
    auto db = open();
    auto pending = snapshot("sdk", {4});
    pending->setTimestamp(2000);
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({pending}));
    ASSERT_TRUE(db->activateSnapshot(snapshot("sdk", {3}), 1000));
    EXPECT_EQ(rows(ZDMEDatabase::kPendingTable), std::vector<std::string>{"sdk:2000.0:0"});
}

TEST_F(Store, StartUpDeletesStaleRowsBeforeActivatingPendingOnes) {
    auto db = open();
    const double now = clock_->now();
    const double fourDaysAgo = now - 4 * 86400;
    auto stale = snapshot("stale", {1});
    ASSERT_TRUE(
        db->upsertSnapshot(*stale->proto(), ZDMEDatabase::kActivatedTable, fourDaysAgo, std::nullopt));
    auto automatic = snapshot("auto", {2});
    automatic->setTimestamp(fourDaysAgo);
    auto manual = snapshot("manual", {3});
    manual->setManuallyActivated(true);
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({automatic, manual}));
    ASSERT_TRUE(
        db->upsertSnapshot(*snapshot("never", {4})->proto(), ZDMEDatabase::kPendingTable, now, std::nullopt));

    ASSERT_TRUE(db->performTransaction(
        [&] { return db->deleteStaleActivatedSnapshots() && db->activatePendingSnapshotsAutomatically(); }));
    // The automatically activated row keeps its old time and is not aged out in the same run.
    EXPECT_EQ(rows(ZDMEDatabase::kActivatedTable),
              std::vector<std::string>{"auto:" + std::to_string(fourDaysAgo).substr(0, 10) + ".0:NULL"});
    EXPECT_EQ(rows(ZDMEDatabase::kPendingTable),
              (std::vector<std::string>{"manual:" + std::to_string(now).substr(0, 10) + ".0:1",
                                        "never:" + std::to_string(now).substr(0, 10) + ".0:NULL"}));
}

TEST_F(Store, DeletesOfOneSDKAndTheEmptyNameRule) {
    auto db = open();
    for (const char* table :
         {ZDMEDatabase::kPendingTable, ZDMEDatabase::kActivatedTable, ZDMEDatabase::kLaunchedTable})
        ASSERT_TRUE(db->upsertSnapshot(*snapshot("sdk", {1})->proto(), table, 5, std::nullopt));
    Error error;
    EXPECT_FALSE(db->deleteActivatedExperimentsOfSDKName("", &error));
    EXPECT_EQ(error.description, "Received empty SDK Name");
    EXPECT_TRUE(db->deletePendingExperimentsOfSDKName(""));
    EXPECT_TRUE(db->deleteLaunchedExperimentSDKName(""));
    EXPECT_TRUE(db->deleteActivatedExperimentsOfSDKName("sdk"));
    EXPECT_TRUE(db->deletePendingExperimentsOfSDKName("sdk"));
    EXPECT_TRUE(db->deleteLaunchedExperimentSDKName("sdk"));
    for (const char* table :
         {ZDMEDatabase::kPendingTable, ZDMEDatabase::kActivatedTable, ZDMEDatabase::kLaunchedTable})
        EXPECT_TRUE(rows(table).empty()) << table;
}

TEST_F(Store, AnUnopenablePathIsLoggedWithTheContextWord) {
    std::filesystem::create_directories(home_.path() / "blocker");
    std::filesystem::create_directories(home_.path() / "blocker" /
                                        "db.sql");  // a folder where the file should be
    EXPECT_FALSE(ZDMEDatabase::initWithPath((home_.path() / "blocker" / "db.sql").string()));
    auto report = monitor_->first(810001);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->message, "Failed to open database (Init)");
    EXPECT_EQ(report->level, 1);
    EXPECT_FALSE(ZDMEDatabase::initWithPath(""));
    EXPECT_TRUE(monitor_->logged(810000));
}

TEST_F(Store, ARefusedTableDeletesTheFileAndTheNextStoreStartsFresh) {
    ASSERT_TRUE(open());
    RawFile(path_).exec("ALTER TABLE launched_snapshot_table ADD COLUMN extra TEXT NOT NULL DEFAULT 'x'");
    EXPECT_FALSE(open());
    EXPECT_TRUE(monitor_->logged(810004));
    EXPECT_TRUE(monitor_->logged(810002));
    EXPECT_EQ(monitor_->first(810002)->message,
              "Failed to create or validate required database tables (Init)");
    EXPECT_FALSE(std::filesystem::exists(path_));
    auto fresh = open();
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->upsertPendingExperimentSnapshots({snapshot("sdk", {1})}));
}

TEST_F(Store, AFailingTransactionIsLoggedWithTheErrorsDescription) {
    auto db = open();
    EXPECT_FALSE(db->performTransaction([] { return false; }));
    auto report = monitor_->first(810007);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->message, "Transaction failed. Transaction failed");
}

TEST_F(Store, ResetLeavesAnEmptyWorkingFile) {
    auto db = open();
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({snapshot("sdk", {1})}));
    db->reset();
    auto pending = db->fetchAllPendingSnapshots();
    ASSERT_TRUE(pending);
    EXPECT_TRUE(pending->empty());
    db->closeAndDelete();
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_FALSE(db->fetchAllPendingSnapshots());
}

}  // namespace
