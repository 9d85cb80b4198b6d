#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Storage/tests/SQLiteTestSupport.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

using Logs = std::vector<std::shared_ptr<DIZAbstractLog>>;

constexpr uint64_t kNormal = 1;
constexpr uint64_t kCritical = 2;

// A log told apart from the others by its name; `padding` makes its stored form larger.
std::shared_ptr<DIZAbstractLog> namedLog(const std::string& name, size_t padding = 0) {
    auto log = std::make_shared<DIZStartServiceLog>();
    log->setServices(std::vector<std::string>{name, std::string(padding, 'p')});
    return log;
}

std::string nameOf(const std::shared_ptr<DIZAbstractLog>& log) {
    const auto startService = std::dynamic_pointer_cast<DIZStartServiceLog>(log);
    return startService && startService->services() && !startService->services()->empty()
               ? startService->services()->front()
               : "<not a named log>";
}

std::vector<std::string> namesOf(const Logs& logs) {
    std::vector<std::string> names;
    for (const auto& log : logs) names.push_back(nameOf(log));
    return names;
}

struct Loaded {
    std::vector<std::string> names;
    Logs logs;
    std::optional<std::string> batchId;
    bool more = false;
};

Loaded load(DIZLogDBStorage& storage, const std::string& groupId, uint64_t limit = 50,
            const std::vector<std::string>& excludedTargetKeys = {}) {
    Loaded loaded;
    loaded.more = storage.loadLogsWithGroupId(
        groupId, limit, excludedTargetKeys, [&](const Logs& logs, const std::optional<std::string>& batchId) {
            loaded.logs = logs;
            loaded.batchId = batchId;
        });
    loaded.names = namesOf(loaded.logs);
    return loaded;
}

class DIZLogDBStorageTest : public ::testing::Test {
  protected:
    void SetUp() override { DIZArchiverUtil::addAllowedDudIzizozModuleClasses(); }

    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
};

TEST_F(DIZLogDBStorageTest, NewFileHoldsExactlyTheLogsTableAndItsIndex) {
    DIZLogDBStorage storage;
    const auto file = storage.dbFileURL();
    EXPECT_EQ(file.filename(), "Logs.sqlite");
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "5");
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA auto_vacuum"), "1");
    EXPECT_EQ(
        sqlite_test::column(file,
                            "SELECT sql FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY name"),
        (std::vector<std::string>{
            "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")",
            "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, "
            "\"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER)",
        }));
    EXPECT_EQ(storage.idColumnIndex(), 0u);
    EXPECT_EQ(storage.targetTokenColumnIndex(), 3u);
}

TEST_F(DIZLogDBStorageTest, FileOfRandomBytesIsReplacedByAWorkingStore) {
    std::filesystem::path file;
    {
        DIZLogDBStorage first;
        file = first.dbFileURL();
    }
    sqlite_test::fillWithRandomBytes(file);

    DIZLogDBStorage storage;
    ASSERT_TRUE(storage.saveLog(namedLog("a"), "Analytics", kNormal));
    EXPECT_EQ(load(storage, "Analytics").names, std::vector<std::string>{"a"});
    const auto texts = logs.texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
        return text.starts_with("Database file://") && text.ends_with("Logs.sqlite has been deleted.");
    }));
}

TEST_F(DIZLogDBStorageTest, OlderFileIsRebuiltWithTheCurrentTable) {
    std::filesystem::path file;
    {
        DIZLogDBStorage first;
        file = first.dbFileURL();
    }
    ASSERT_EQ(sqlite_test::exec(file,
                                "DROP TABLE logs; CREATE TABLE logs (id INTEGER PRIMARY KEY, log TEXT);"
                                "INSERT INTO logs (log) VALUES ('old'); PRAGMA user_version = 4;"),
              SQLITE_OK);

    DIZLogDBStorage storage;
    EXPECT_EQ(storage.countLogs(), 0u);
    EXPECT_EQ(sqlite_test::scalar(file, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'ix_logs_priority'"),
              "1");
    EXPECT_TRUE(storage.saveLog(namedLog("new"), "Analytics", kNormal));
    EXPECT_EQ(sqlite_test::scalar(file, "PRAGMA user_version"), "5");
}

TEST_F(DIZLogDBStorageTest, TableTheStatementsDoNotFitIsReplacedOnceAndAFittingOneIsKept) {
    struct Case {
        const char* name;
        const char* change;
        bool logKept;
    };
    const Case cases[] = {
        {"other columns", "DROP TABLE logs; CREATE TABLE logs (id INTEGER PRIMARY KEY, payload TEXT)", false},
        {"same columns in another order",
         "DROP TABLE logs; CREATE TABLE logs (id INTEGER PRIMARY KEY AUTOINCREMENT, log TEXT NOT NULL, "
         "groupId TEXT NOT NULL, targetToken TEXT, targetKey TEXT, priority INTEGER)",
         false},
        {"one more column at the end", "ALTER TABLE logs ADD COLUMN extra TEXT", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::path file;
        {
            DIZLogDBStorage first;
            ASSERT_TRUE(first.saveLog(namedLog("before"), "Analytics", kNormal));
            file = first.dbFileURL();
        }
        ASSERT_EQ(sqlite_test::exec(file, c.change), SQLITE_OK);

        DIZLogDBStorage storage;
        ASSERT_TRUE(storage.saveLog(namedLog("after"), "Analytics", kNormal));
        const std::vector<std::string> expected =
            c.logKept ? std::vector<std::string>{"before", "after"} : std::vector<std::string>{"after"};
        EXPECT_EQ(load(storage, "Analytics").names, expected);
        storage.dropDatabase();
    }
    EXPECT_FALSE(logs.contains("Failed to initialize database."));
}

// With AUTOINCREMENT no row id is ever used twice, so once the largest is taken every insert is
// FULL however much room the file has: deleting stored logs cannot help.
TEST_F(DIZLogDBStorageTest, RowIdsUsedUpFailTheSaveWithoutEvictingStoredLogs) {
    DIZLogDBStorage storage;
    ASSERT_TRUE(storage.saveLog(namedLog("kept"), "Analytics", kNormal));
    ASSERT_EQ(sqlite_test::exec(storage.dbFileURL(),
                                "INSERT INTO logs (id, groupId, log, priority) "
                                "VALUES (9223372036854775807, 'Other', 'x', 1)"),
              SQLITE_OK);

    EXPECT_FALSE(storage.saveLog(namedLog("new"), "Analytics", kCritical));
    EXPECT_FALSE(storage.saveLog(namedLog("newer"), "Analytics", kNormal));
    EXPECT_EQ(storage.countLogs(), 2u);
    EXPECT_EQ(load(storage, "Analytics").names, std::vector<std::string>{"kept"});
}

// A second instance of the agent works on the same file; its writes make this one wait, not fail.
TEST_F(DIZLogDBStorageTest, TwoStoresOnOneFileSavingAtOnceLoseNothing) {
    constexpr int kLogsEach = 40;
    DIZLogDBStorage first;
    DIZLogDBStorage second;
    std::atomic<int> failed{0};
    auto saveAll = [&](DIZLogDBStorage& storage, const std::string& prefix) {
        for (int i = 0; i < kLogsEach; ++i) {
            if (!storage.saveLog(namedLog(prefix + std::to_string(i)), "Analytics", kNormal)) ++failed;
        }
    };
    std::thread other([&] { saveAll(second, "second-"); });
    saveAll(first, "first-");
    other.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(first.countLogs(), 2u * kLogsEach);
}

// A relative path would become "file://<first component>/...", which sqlite reads as a host name.
TEST_F(DIZLogDBStorageTest, RelativeHomeDirectoryStillReachesTheFile) {
    const std::filesystem::path relative = std::filesystem::relative(home.path());
    ASSERT_TRUE(relative.is_relative());
    setenv("QUORVANE_HOME", relative.c_str(), 1);

    DIZLogDBStorage storage;
    EXPECT_TRUE(storage.dbFileURL().is_absolute());
    ASSERT_TRUE(storage.saveLog(namedLog("a"), "Analytics", kNormal));
    EXPECT_EQ(load(storage, "Analytics").names, std::vector<std::string>{"a"});
    EXPECT_FALSE(logs.contains("Failed to initialize database."));
}

TEST_F(DIZLogDBStorageTest, LoadsHighestPriorityFirstThenOldestAndRoundTripsTheLog) {
    DIZLogDBStorage storage;
    const auto first = namedLog("normal-1");
    ASSERT_TRUE(storage.saveLog(first, "Analytics", kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("critical"), "Analytics", kCritical | 0x100));
    ASSERT_TRUE(storage.saveLog(namedLog("normal-2"), "Analytics", kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("other group"), "Crashes", kNormal));

    const Loaded loaded = load(storage, "Analytics");
    EXPECT_EQ(loaded.names, (std::vector<std::string>{"critical", "normal-1", "normal-2"}));
    EXPECT_FALSE(loaded.more);
    EXPECT_TRUE(loaded.logs[1]->isEqual(*first));
    EXPECT_EQ(sqlite_test::column(storage.dbFileURL(), "SELECT priority FROM logs ORDER BY id"),
              (std::vector<std::string>{"1", "2", "1", "1"}));
    EXPECT_EQ(storage.countLogs(), 4u);
}

TEST_F(DIZLogDBStorageTest, LoadTellsWhetherMoreRemainAndSkipsPendingBatches) {
    struct Case {
        int stored;
        size_t firstBatch;
        bool moreAfterFirst;
    };
    for (const Case& c : {Case{51, 50, true}, Case{50, 50, false}}) {
        SCOPED_TRACE(c.stored);
        DIZLogDBStorage storage;
        for (int i = 0; i < c.stored; ++i)
            ASSERT_TRUE(storage.saveLog(namedLog(std::to_string(i)), "Analytics", kNormal));

        const Loaded first = load(storage, "Analytics", 50);
        EXPECT_EQ(first.logs.size(), c.firstBatch);
        EXPECT_EQ(first.more, c.moreAfterFirst);
        ASSERT_TRUE(first.batchId);
        EXPECT_EQ(first.batchId->size(), 36u);

        const Loaded second = load(storage, "Analytics", 50);
        EXPECT_EQ(second.logs.size(), static_cast<size_t>(c.stored) - c.firstBatch);
        EXPECT_FALSE(second.more);

        storage.deleteLogsWithBatchId(*first.batchId, "Analytics");
        EXPECT_EQ(storage.countLogs(), static_cast<uint64_t>(c.stored) - c.firstBatch);
        storage.dropDatabase();
    }
}

TEST_F(DIZLogDBStorageTest, LoadOfNothingRecordsNoBatch) {
    DIZLogDBStorage storage;
    bool called = false;
    const bool more = storage.loadLogsWithGroupId(
        "Analytics", 50, {}, [&](const Logs& logs, const std::optional<std::string>& batchId) {
            called = true;
            EXPECT_TRUE(logs.empty());
            EXPECT_FALSE(batchId);
        });
    EXPECT_TRUE(called);
    EXPECT_FALSE(more);
    EXPECT_TRUE(storage.batches().empty());
    storage.deleteLogsWithBatchId("00000000-0000-0000-0000-000000000000", "Analytics");
}

TEST_F(DIZLogDBStorageTest, FullStoreEvictsOldestLowestPriorityFirstAndNeverHigherPriority) {
    DIZLogDBStorage storage;
    std::optional<bool> resized;
    storage.setMaxStorageSize(20 * 4096, [&](bool success) { resized = success; });
    ASSERT_EQ(resized, true);

    // Each stored log takes a page of its own, so one eviction makes room for exactly one log.
    constexpr size_t kPadding = 1800;
    ASSERT_TRUE(storage.saveLog(namedLog("normal-0", kPadding), "Analytics", kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("normal-1", kPadding), "Analytics", kNormal));
    int saved = 0;
    for (; saved < 100 && storage.countLogs() == static_cast<uint64_t>(saved) + 2; ++saved) {
        ASSERT_TRUE(
            storage.saveLog(namedLog("critical-" + std::to_string(saved), kPadding), "Analytics", kCritical));
    }
    ASSERT_LT(saved, 100) << "the store never filled";
    for (int extra = 0; extra < 3; ++extra, ++saved) {
        ASSERT_TRUE(
            storage.saveLog(namedLog("critical-" + std::to_string(saved), kPadding), "Analytics", kCritical));
    }

    const std::vector<std::string> kept = load(storage, "Analytics", 1000).names;
    ASSERT_FALSE(kept.empty());
    std::vector<std::string> newest;
    for (int i = saved - static_cast<int>(kept.size()); i < saved; ++i)
        newest.push_back("critical-" + std::to_string(i));
    EXPECT_EQ(kept, newest) << "both normal logs go first, then the oldest critical ones";
    EXPECT_TRUE(logs.contains(
        "Log storage was over capacity, 1 oldest log(s) with equal or lower priority deleted."));

    const uint64_t countBefore = storage.countLogs();
    EXPECT_FALSE(storage.saveLog(namedLog("normal-late", kPadding), "Analytics", kNormal));
    EXPECT_EQ(storage.countLogs(), countBefore);
    EXPECT_TRUE(
        logs.contains("Storage is full and no logs with equal or lower priority exist; discarding the log."));
}

TEST_F(DIZLogDBStorageTest, LogLargerThanTheWholeCapIsRefusedUntouched) {
    DIZLogDBStorage storage;
    storage.setMaxStorageSize(20 * 4096, nullptr);
    ASSERT_TRUE(storage.saveLog(namedLog("small"), "Analytics", kNormal));
    EXPECT_FALSE(storage.saveLog(namedLog("huge", 100000), "Analytics", kCritical));
    EXPECT_EQ(storage.countLogs(), 1u);
}

TEST_F(DIZLogDBStorageTest, TargetTokenIsStoredEncryptedAndReadBack) {
    const std::string token = "4dcd8e5d6c1b4ea2-1c3a6e2a-6d2c-4a5b-9d0e-0123456789ab-7111";
    DIZLogDBStorage storage;
    auto csLog = std::make_shared<DIZCoreSchemaLog>();
    csLog->setName("switch");
    csLog->addTransmissionTargetToken(token);
    ASSERT_TRUE(storage.saveLog(csLog, "Analytics/one", kNormal));

    const auto file = storage.dbFileURL();
    EXPECT_EQ(sqlite_test::scalar(file, "SELECT targetKey FROM logs"), "4dcd8e5d6c1b4ea2");
    const std::string stored = sqlite_test::scalar(file, "SELECT targetToken FROM logs");
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(stored.find(token), std::string::npos);
    EXPECT_EQ(stored.find("1c3a6e2a"), std::string::npos);

    const Loaded loaded = load(storage, "Analytics/one");
    ASSERT_EQ(loaded.logs.size(), 1u);
    EXPECT_EQ(loaded.logs[0]->transmissionTargetTokens(), DIZAbstractLog::Tokens{token});
}

// A token encrypted under a key the keychain did not keep could never be read back: such a log is
// refused, and the store works normally once the keychain can be written.
TEST_F(DIZLogDBStorageTest, KeychainThatCannotBeWrittenRefusesTokenLogsUntilItCanBe) {
    const std::string token = "4dcd8e5d6c1b4ea2-1c3a6e2a-6d2c-4a5b-9d0e-0123456789ab-7111";
    auto tokenLog = [&] {
        auto log = std::make_shared<DIZCoreSchemaLog>();
        log->addTransmissionTargetToken(token);
        return log;
    };
    const auto keychains = FileLocations::applicationSupportDirectory() / "Keychains";
    ASSERT_TRUE(FileLocations::writeFileAtomically(keychains, dataFromString("no directory")));
    {
        DIZLogDBStorage storage;
        EXPECT_FALSE(storage.saveLog(tokenLog(), "Analytics/one", kNormal));
        EXPECT_TRUE(storage.saveLog(namedLog("no token"), "Analytics/one", kNormal));
        EXPECT_EQ(storage.countLogs(), 1u);
    }

    std::filesystem::remove(keychains);
    {
        DIZLogDBStorage storage;
        ASSERT_TRUE(storage.saveLog(tokenLog(), "Analytics/one", kNormal));
    }
    DIZLogDBStorage restarted;
    const Loaded loaded = load(restarted, "Analytics/one");
    ASSERT_EQ(loaded.logs.size(), 2u);
    EXPECT_EQ(loaded.logs[1]->transmissionTargetTokens(), DIZAbstractLog::Tokens{token});
    EXPECT_FALSE(logs.contains("Could not authenticate MAC value."));
}

TEST_F(DIZLogDBStorageTest, ExcludedTargetKeysAlsoHoldBackLogsWithoutKey) {
    DIZLogDBStorage storage;
    auto paused = std::make_shared<DIZCoreSchemaLog>();
    paused->addTransmissionTargetToken("paused-token");
    auto running = std::make_shared<DIZCoreSchemaLog>();
    running->addTransmissionTargetToken("running-token");
    ASSERT_TRUE(storage.saveLog(paused, "Analytics/one", kNormal));
    ASSERT_TRUE(storage.saveLog(running, "Analytics/one", kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("no key"), "Analytics/one", kNormal));

    const Loaded loaded = load(storage, "Analytics/one", 50, {"paused"});
    ASSERT_EQ(loaded.logs.size(), 1u);
    EXPECT_EQ(loaded.logs[0]->transmissionTargetTokens(), DIZAbstractLog::Tokens{"running-token"});
}

TEST_F(DIZLogDBStorageTest, UndecodableRowsAreDeletedWhileReading) {
    DIZLogDBStorage storage;
    ASSERT_TRUE(storage.saveLog(namedLog("good"), "Analytics", kNormal));
    ASSERT_EQ(sqlite_test::exec(
                  storage.dbFileURL(),
                  "INSERT INTO logs (groupId, log, priority) VALUES ('Analytics', 'bm90IGFuIGFyY2hpdmU=', 1),"
                  "('Analytics', '', 1)"),
              SQLITE_OK);

    EXPECT_EQ(load(storage, "Analytics").names, std::vector<std::string>{"good"});
    EXPECT_EQ(storage.countLogs(), 1u);
    EXPECT_TRUE(logs.contains("Deserialization failed for log with Id 2"));
    EXPECT_TRUE(logs.contains("Deserialization failed for log with Id 3"));
}

TEST_F(DIZLogDBStorageTest, GroupIdsAreMatchedExactlyWhenDeleting) {
    DIZLogDBStorage storage;
    const std::string quirky = "O'Brien\"); DROP TABLE logs; --";
    ASSERT_TRUE(storage.saveLog(namedLog("q1"), quirky, kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("q2"), quirky, kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("kept"), "Analytics", kNormal));

    const Loaded batch = load(storage, quirky);
    ASSERT_TRUE(batch.batchId);
    storage.deleteLogsWithBatchId(*batch.batchId, quirky);
    EXPECT_EQ(storage.countLogs(), 1u);

    ASSERT_TRUE(storage.saveLog(namedLog("q3"), quirky, kNormal));
    EXPECT_EQ(namesOf(storage.deleteLogsWithGroupId(quirky)), std::vector<std::string>{"q3"});
    EXPECT_EQ(load(storage, "Analytics").names, std::vector<std::string>{"kept"});
}

TEST_F(DIZLogDBStorageTest, DeletingAGroupFreesOnlyItsOwnAndItsTwinsPendingBatches) {
    struct Case {
        const char* group;
        bool batchSurvives;
    };
    const Case cases[] = {{"CrashesBuffer", true}, {"Crashes/one", false}};
    DIZLogDBStorage storage;
    for (const Case& c : cases) ASSERT_TRUE(storage.saveLog(namedLog(c.group), c.group, kNormal));
    ASSERT_TRUE(storage.saveLog(namedLog("Crashes"), "Crashes", kNormal));
    for (const Case& c : cases) ASSERT_EQ(load(storage, c.group).names, std::vector<std::string>{c.group});

    EXPECT_EQ(namesOf(storage.deleteLogsWithGroupId("Crashes")), std::vector<std::string>{"Crashes"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.group);
        EXPECT_EQ(load(storage, c.group).logs.empty(), c.batchSurvives);
    }
    EXPECT_EQ(storage.countLogs(), 2u);
}

// Stores one log and dies by SIGKILL the moment saveLog returns.
void saveThenDie() {
    DIZLogDBStorage storage;
    if (storage.saveLog(namedLog("saved before the kill"), "Crashes", kNormal)) raise(SIGKILL);
    std::exit(1);
}

// The child is this test run again (death tests run in the "threadsafe" style); it finds the
// parent's home through the environment instead of making one of its own.
TEST(DIZLogDBStorageKillTest, SavedLogSurvivesSigkillOfTheProcess) {
    constexpr const char* kHomeVariable = "DIZ_STORAGE_KILL_TEST_HOME";
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    if (const char* inherited = std::getenv(kHomeVariable)) {
        setenv("QUORVANE_HOME", inherited, 1);
        Bundle::setMainBundle(DIZHostBundle());
        saveThenDie();
    }

    TestHome home{DIZHostBundle()};
    setenv(kHomeVariable, home.path().c_str(), 1);
    EXPECT_EXIT(saveThenDie(), ::testing::KilledBySignal(SIGKILL), "");
    unsetenv(kHomeVariable);

    DIZLogDBStorage storage;
    EXPECT_EQ(load(storage, "Crashes").names, std::vector<std::string>{"saved before the kill"});
}

}  // namespace
