#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>

#include "DudIzizoz/Internals/Storage/DIZDBStorage.h"
#include "DudIzizoz/Internals/Storage/tests/SQLiteTestSupport.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

const DIZSchema kSchema = {
    {"items", {{"id", {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}}, {"name", {"TEXT", "NOT NULL"}}}},
    {"other", {{"value", {"TEXT"}}}},
};

class RecordingStorage : public DIZDBStorage {
  public:
    RecordingStorage(uint32_t version, const std::string& filename = "Test.sqlite",
                     std::optional<DIZSchema> schema = kSchema, int migrationResult = SQLITE_OK)
        : migrationResult_(migrationResult) {
        initWithSchema(std::move(schema), version, filename);
    }
    int customizeCalls = 0;
    std::vector<uint32_t> migratedFrom;

  protected:
    void customizeDatabase(sqlite3*) override { ++customizeCalls; }
    int migrateDatabase(sqlite3*, uint32_t fromVersion) override {
        migratedFrom.push_back(fromVersion);
        return migrationResult_;
    }

  private:
    const int migrationResult_;
};

class DIZDBStorageTest : public ::testing::Test {
  protected:
    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
};

TEST_F(DIZDBStorageTest, NewFileGetsVersionAutoVacuumAndTables) {
    RecordingStorage storage(5);
    const auto file = storage.dbFileURL();

    EXPECT_EQ(storage.pageSize(), 4096);
    EXPECT_EQ(storage.maxSizeInBytes(), 10485760);
    EXPECT_EQ(storage.customizeCalls, 1);
    EXPECT_TRUE(storage.migratedFrom.empty());
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "5");
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA auto_vacuum"), "1");
    EXPECT_EQ(sqlite_test::scalar(file, "SELECT sql FROM sqlite_master WHERE name='items'"),
              "CREATE TABLE \"items\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"name\" TEXT NOT NULL)");
    EXPECT_TRUE(logs.contains("Created \"Test.sqlite\" database with 5 version."));
}

TEST_F(DIZDBStorageTest, StoredVersionDecidesWhetherToMigrate) {
    struct Case {
        uint32_t stored;
        std::vector<uint32_t> expectedMigrations;
    };
    for (const Case& c : {Case{3, {3}}, Case{5, {}}, Case{7, {}}}) {
        SCOPED_TRACE(c.stored);
        std::filesystem::path file;
        {
            RecordingStorage first(c.stored);
            file = first.dbFileURL();
        }
        RecordingStorage reopened(5);
        EXPECT_EQ(reopened.customizeCalls, 0);
        EXPECT_EQ(reopened.migratedFrom, c.expectedMigrations);
        EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "5");
        reopened.dropDatabase();
    }
    EXPECT_TRUE(logs.contains("Migrating \"Test.sqlite\" database from version 3 to 5."));
}

// A migration that could not run (another process holding the file, say) must find the old
// version again at the next start: written over it, the old tables would pass for current.
TEST_F(DIZDBStorageTest, FailedMigrationKeepsTheStoredVersionForTheNextStart) {
    std::filesystem::path file;
    {
        RecordingStorage first(3);
        file = first.dbFileURL();
    }
    {
        RecordingStorage failing(5, "Test.sqlite", kSchema, SQLITE_BUSY);
        EXPECT_EQ(failing.migratedFrom, std::vector<uint32_t>{3});
    }
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "3");
    EXPECT_TRUE(logs.contains("Failed to initialize database."));

    RecordingStorage retried(5);
    EXPECT_EQ(retried.migratedFrom, std::vector<uint32_t>{3});
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "5");
}

TEST_F(DIZDBStorageTest, DamagedFileIsDroppedAndCreatedAgain) {
    struct Case {
        const char* name;
        void (*damage)(const std::filesystem::path&);
    };
    for (const Case& c : {Case{"not a database", sqlite_test::fillWithRandomBytes},
                          Case{"corrupt schema page", sqlite_test::damageSchemaPage}}) {
        SCOPED_TRACE(c.name);
        std::filesystem::path file;
        {
            RecordingStorage first(5);
            ASSERT_EQ(first.executeNonSelectionQuery("INSERT INTO items (name) VALUES ('a')"), SQLITE_OK);
            file = first.dbFileURL();
        }
        c.damage(file);

        RecordingStorage reopened(5);
        EXPECT_EQ(reopened.customizeCalls, 1) << "the file is new again";
        EXPECT_EQ(reopened.executeNonSelectionQuery("INSERT INTO items (name) VALUES ('b')"), SQLITE_OK);
        EXPECT_EQ(reopened.countEntriesForTable("items"), 1u);
        EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "5");
        reopened.dropDatabase();
    }
    EXPECT_FALSE(logs.contains("Failed to initialize database."));
}

TEST_F(DIZDBStorageTest, UnopenableFileIsLeftInPlaceAndReported) {
    std::filesystem::path file;
    {
        RecordingStorage first(5);
        file = first.dbFileURL();
    }
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);

    RecordingStorage storage(5);
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_TRUE(logs.contains("Failed to initialize database."));
    EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO items (name) VALUES ('a')"), SQLITE_CANTOPEN);
    EXPECT_TRUE(storage.executeSelectionQuery("SELECT * FROM items").empty());

    bool handlerCalled = false;
    storage.setMaxStorageSize(20000, [&](bool) { handlerCalled = true; });
    EXPECT_FALSE(handlerCalled);
}

TEST_F(DIZDBStorageTest, MaxStorageSizeRoundsUpToPagesAndNeverGoesBelowPagesInUse) {
    struct Case {
        int64_t requested;
        bool success;
        int64_t resultingMax;
        const char* message;
    };
    const Case cases[] = {
        {10000, false, 10485760,
         "Cannot change database size to 10000 bytes as it would cause a loss of data. Maximum database size "
         "will "
         "not be changed."},
        {20000, true, 20480, "Changed maximum database size to 20480 bytes (next multiple of 4KiB)."},
        {24576, true, 24576, "Changed maximum database size to 24576 bytes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        RecordingStorage storage(5, "Test.sqlite", DIZSchema{kSchema[0]});
        ASSERT_EQ(sqlite_test::scalar(storage.dbFileURL(), "PRAGMA page_count"), "4");

        std::optional<bool> answer;
        storage.setMaxStorageSize(c.requested, [&](bool success) { answer = success; });
        EXPECT_EQ(answer, c.success);
        EXPECT_EQ(storage.maxSizeInBytes(), c.resultingMax);
        EXPECT_TRUE(logs.contains(c.message));
        storage.dropDatabase();
    }
}

TEST_F(DIZDBStorageTest, SizeCapHoldsOnEveryLaterConnection) {
    RecordingStorage storage(5);
    storage.setMaxStorageSize(20000, nullptr);

    DIZStorageBindableArray values;
    values.addString(std::string(1000, 'x'));
    int result = SQLITE_OK;
    for (int i = 0; i < 100 && result == SQLITE_OK; ++i) {
        result = storage.executeNonSelectionQuery("INSERT INTO items (name) VALUES (?)", values);
    }
    EXPECT_EQ(result, SQLITE_FULL);
    EXPECT_LE(std::filesystem::file_size(storage.dbFileURL()), 20480u);
}

TEST_F(DIZDBStorageTest, RowsHoldTextAnd64BitIntegersAndNullForOtherTypes) {
    RecordingStorage storage(5);
    ASSERT_TRUE(storage.createTable(
        "mixed", {{"t", {"TEXT"}}, {"i", {"INTEGER"}}, {"r", {"REAL"}}, {"b", {"BLOB"}}, {"n", {"TEXT"}}}));
    ASSERT_EQ(storage.executeNonSelectionQuery("INSERT INTO mixed VALUES ('it''s', 5000000000, 1.5, x'00ff', "
                                               "NULL), ('', -5000000000, 0, x'', NULL)"),
              SQLITE_OK);

    const DIZStorageRows rows = storage.executeSelectionQuery("SELECT * FROM mixed ORDER BY i DESC");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (DIZStorageRow{Value("it's"), Value(int64_t{5000000000}), Value(), Value(), Value()}));
    EXPECT_EQ(rows[1], (DIZStorageRow{Value(""), Value(int64_t{-5000000000}), Value(), Value(), Value()}));
}

TEST_F(DIZDBStorageTest, FailingStatementsAnswerWithTheirCode) {
    RecordingStorage storage(5);
    EXPECT_TRUE(storage.executeSelectionQuery("SELECT * FROM missing").empty());
    EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO items (name) VALUES (NULL)"), SQLITE_CONSTRAINT);
    EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO missing VALUES (1)"), SQLITE_ERROR);
    EXPECT_EQ(storage.countEntriesForTable("missing"), 0u);
    EXPECT_TRUE(logs.contains("Failed to prepare SQLite statement, result=1\n\tno such table: missing"));
}

TEST_F(DIZDBStorageTest, CreateAndDropTableAreIdempotent) {
    RecordingStorage storage(5);
    const DIZColumnsSchema columns = {{"v", {"TEXT"}}};
    EXPECT_TRUE(storage.createTable("extra", columns));
    EXPECT_TRUE(storage.createTable("extra", columns));
    EXPECT_TRUE(storage.dropTable("extra"));
    EXPECT_TRUE(storage.dropTable("extra"));
    EXPECT_EQ(
        sqlite_test::scalar(storage.dbFileURL(), "SELECT COUNT(*) FROM sqlite_master WHERE name='extra'"),
        "0");
    EXPECT_TRUE(logs.contains("Table extra has been created"));
    EXPECT_TRUE(logs.contains("Table extra has been deleted"));
}

}  // namespace
