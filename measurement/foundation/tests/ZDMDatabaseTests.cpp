// The measurement database over a real sqlite file in a private home: the schema and its
// migrations, the generic row operations, transactions, reset, and the bookkeeping row with its
// daily counters.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMAppMetadata.h"
#include "measurement/foundation/ZDMDailyCounts.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/tests/DatabaseFixture.h"

namespace fs = std::filesystem;

namespace {

// Every table with its columns as PRAGMA table_info lists them on a fresh file: "table: name type,
// ..." (add-on columns follow the elementary ones; raw_events was rebuilt with a real timestamp).
const std::vector<std::string> kFreshSchema = {
    "app_metadata: last_bundle_index INTEGER NOT NULL, last_bundle_end_timestamp REAL NOT NULL, "
    "last_bundle_start_timestamp REAL, day INTEGER, daily_conversions_count INTEGER, daily_events_count "
    "INTEGER, daily_public_events_count INTEGER, daily_error_events_count INTEGER, remote_config_data BLOB, "
    "remote_config_timestamp REAL, daily_real_time_conversion_events_count INTEGER",
    "audience_filter_values: audience_id INTEGER NOT NULL PRIMARY KEY, current_results BLOB, "
    "previous_results "
    "BLOB",
    "conditional_properties: name TEXT NOT NULL PRIMARY KEY, origin TEXT NOT NULL, value BLOB NOT NULL, "
    "creation_timestamp REAL NOT NULL, active INTEGER NOT NULL, trigger_timeout REAL NOT NULL, "
    "triggered_timestamp REAL NOT NULL, time_to_live REAL NOT NULL, trigger_event_name TEXT, timed_out_event "
    "BLOB, triggered_event BLOB, expired_event BLOB",
    "event_filters: audience_id INTEGER NOT NULL, filter_id INTEGER NOT NULL, event_name TEXT NOT NULL, data "
    "BLOB NOT NULL, session_scoped INTEGER, PRIMARY KEY (audience_id, filter_id)",
    "events: name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER NOT NULL, current_bundle_count INTEGER "
    "NOT "
    "NULL, last_fire_timestamp REAL NOT NULL, last_bundled_timestamp REAL, last_sampled_complex_event_id "
    "INTEGER, last_sampling_rate INTEGER, last_exempt_from_sampling INTEGER, last_bundled_day INTEGER, "
    "current_session_count INTEGER",
    "main_event_params: event_id INTEGER NOT NULL PRIMARY KEY, children_to_process INTEGER NOT NULL, "
    "main_event "
    "BLOB NOT NULL",
    "property_filters: audience_id INTEGER NOT NULL, filter_id INTEGER NOT NULL, property_name TEXT NOT "
    "NULL, "
    "data BLOB NOT NULL, session_scoped INTEGER, PRIMARY KEY (audience_id, filter_id)",
    "purchase_transactions: fingerprint TEXT NOT NULL PRIMARY KEY",
    "queue: data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL, is_realtime INTEGER, retry_count INTEGER",
    "raw_events: name TEXT NOT NULL, timestamp REAL NOT NULL, metadata_fingerprint INTEGER NOT NULL, data "
    "BLOB "
    "NOT NULL, is_realtime INTEGER",
    "raw_events_metadata: metadata_fingerprint INTEGER NOT NULL PRIMARY KEY, metadata BLOB NOT NULL",
    "subscriptions: subscription_id TEXT NOT NULL PRIMARY KEY",
    "user_attributes: name TEXT NOT NULL PRIMARY KEY, set_timestamp REAL NOT NULL, value BLOB NOT NULL, "
    "origin "
    "TEXT",
};

using Row = ZDMDatabase::Record;
const ZDMDatabase::CreateDataTypeBlock<Row> kWholeRow = [](const Row& row, Error*) {
    return std::optional<Row>(row);
};

}  // namespace

TEST_F(Database, FreshFileHoldsTheThirteenTablesAndTheBookkeepingRow) {
    ASSERT_TRUE(open());
    RawFile file(path());
    EXPECT_EQ(file.schema(), kFreshSchema);
    EXPECT_EQ(
        file.rows("SELECT rowid, last_bundle_index, last_bundle_start_timestamp, last_bundle_end_timestamp "
                  "FROM app_metadata"),
        std::vector<std::string>{"1|0|0.0|0.0"});
    const auto dump = file.rows("SELECT sql FROM sqlite_master ORDER BY name");

    ASSERT_TRUE(open());
    EXPECT_EQ(file.rows("SELECT sql FROM sqlite_master ORDER BY name"), dump);
    EXPECT_EQ(file.rows("SELECT rowid, * FROM app_metadata").size(), 1u);
    EXPECT_TRUE(messagesOf(12002).empty());
}

TEST_F(Database, OlderFilesAreMigratedWithTheirRowsKept) {
    {
        RawFile file(path());
        file.exec(
            "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
            "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL)");
        for (int i = 1; i <= 3; ++i)
            file.exec("INSERT INTO raw_events VALUES ('e" + std::to_string(i) + "', " +
                      std::to_string(i * 1000) + ", 7, x'0" + std::to_string(i) + "')");
        file.exec(
            "CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL, is_realtime "
            "INTEGER)");
        file.exec("INSERT INTO queue VALUES (x'aa', 5.0, 1)");
    }
    ASSERT_TRUE(open());
    RawFile file(path());
    EXPECT_EQ(file.schema(), kFreshSchema);
    EXPECT_EQ(
        file.rows(
            "SELECT name, timestamp, typeof(timestamp), metadata_fingerprint, hex(data) FROM raw_events "
            "ORDER BY rowid"),
        (std::vector<std::string>{"e1|1000.0|real|7|01", "e2|2000.0|real|7|02", "e3|3000.0|real|7|03"}));
    EXPECT_EQ(file.rows("SELECT hex(data), is_realtime, retry_count FROM queue"),
              std::vector<std::string>{"AA|1|NULL"});
}

TEST_F(Database, TableMissingARequiredColumnFailsTheOpenAndLeavesNoFile) {
    {
        RawFile file(path());
        file.exec("CREATE TABLE events (name TEXT NOT NULL PRIMARY KEY, lifetime_count INTEGER NOT NULL)");
        file.exec("INSERT INTO events VALUES ('_s', 4)");
    }
    Error error;
    EXPECT_EQ(ZDMDatabase::initWithDatabaseName(kDatabaseName, midnight_, &error), nullptr);
    EXPECT_EQ(messagesOf(12002),
              std::vector<std::string>{"Failed to create or validate required database tables (Init)"});
    EXPECT_EQ(messagesOf(12047),
              std::vector<std::string>{"Failed to ensure table. Table, error: events, Error "
                                       "Domain=com.zizoda.measurement Code=2 \"Table is missing "
                                       "required columns\""});
    for (const char* suffix : {"", "-journal", "-wal"}) EXPECT_FALSE(fs::exists(path() + suffix)) << suffix;

    // The engine's second attempt starts from an empty file.
    auto database = open();
    ASSERT_TRUE(database);
    EXPECT_EQ(RawFile(path()).schema(), kFreshSchema);
    EXPECT_EQ(RawFile(path()).rows("SELECT count(*) FROM events"), std::vector<std::string>{"0"});
}

TEST_F(Database, EmptyNameGivesNoDatabase) {
    Error error;
    EXPECT_EQ(ZDMDatabase::initWithDatabaseName("", midnight_, &error), nullptr);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Received empty database name in init");
}

TEST_F(Database, RowLimitsRefuseNewKeysOnlyAndUpdatesNeedARow) {
    auto database = open();
    ASSERT_TRUE(database);
    auto event = [](const char* name, int count) {
        return Row{{"name", Value(name)},
                   {"lifetime_count", Value(count)},
                   {"current_bundle_count", Value(0)},
                   {"last_fire_timestamp", Value(1.5)}};
    };
    Error error;
    ASSERT_TRUE(database->upsertDataType(event("a", 1), "events", "name", Value("a"), 2, &error));
    ASSERT_TRUE(database->upsertDataType(event("b", 1), "events", "name", Value("b"), 2, &error));

    EXPECT_FALSE(database->upsertDataType(event("c", 1), "events", "name", Value("c"), 2, &error));
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.description, "Failed to insert data type. Table is full");
    EXPECT_TRUE(database->upsertDataType(event("b", 9), "events", "name", Value("b"), 2, &error));

    error = Error();
    EXPECT_FALSE(database->updateDataType(event("z", 5), "events", "name", Value("z"), &error));
    EXPECT_EQ(error.description, "Failed to update record. Item doesn't exist");

    auto rows = database->allDataTypesFromTableWithName<Row>("events", -1, &error, kWholeRow);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0]["name"], Value("a"));
    EXPECT_EQ((*rows)[1]["lifetime_count"], Value(9));
    EXPECT_EQ(database->allDataTypesFromTableWithName<Row>("events", 1, &error, kWholeRow)->size(), 1u);
    auto byKey = database->dataTypesFromTableWithName<Row>("events", "name", Value("b"), &error, kWholeRow);
    ASSERT_TRUE(byKey && byKey->size() == 1u);
    EXPECT_TRUE((*byKey)[0].contains("rowid"));
}

TEST_F(Database, RowOperationsCheckTheirArguments) {
    auto database = open();
    ASSERT_TRUE(database);
    struct Case {
        std::function<bool(Error*)> call;
        int64_t code;
        const char* description;
    };
    const Row row{{"fingerprint", Value("f")}};
    const Case cases[] = {
        {[&](Error* e) { return database->insertDataType(row, "", e); }, 1,
         "Received empty table name for inserting"},
        {[&](Error* e) { return database->insertDataType({}, "subscriptions", e); }, 2,
         "Failed to insert empty record"},
        {[&](Error* e) { return database->upsertDataType({}, "t", "c", Value(1), 1, e); }, 1,
         "Received empty data type to upsert"},
        {[&](Error* e) { return database->upsertDataType(row, "", "c", Value(1), 1, e); }, 1,
         "Received empty table name for checking upsert"},
        {[&](Error* e) { return database->updateDataType({}, "t", "c", Value(1), e); }, 1,
         "Received empty data type to update"},
        {[&](Error* e) { return database->updateDataType(row, "", "c", Value(1), e); }, 1,
         "Received empty table name for updating"},
        {[&](Error* e) {
             return database->allDataTypesFromTableWithName<Row>("events", -1, e, nullptr).has_value();
         },
         1, "Received nil block to get all data types"},
        {[&](Error* e) {
             return database->dataTypesFromTableWithName<Row>("events", "name", Value(), e, kWholeRow)
                 .has_value();
         },
         1, "Received nil column value to create data type from table"},
        {[&](Error* e) {
             return database
                 ->dataTypesFromTableWithName<Row>("app_metadata", "rowid", Value("1"), e,
                                                   [](const Row&, Error*) { return std::optional<Row>(); })
                 .has_value();
         },
         2, "Failed to initialize data types from dictionaries"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Error error;
        EXPECT_FALSE(c.call(&error));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.description, c.description);
    }
}

TEST_F(Database, TransactionAnsweringNoLeavesNoChange) {
    auto database = open();
    ASSERT_TRUE(database);
    EXPECT_FALSE(database->performTransaction([&] {
        EXPECT_TRUE(database->insertDataType(Row{{"fingerprint", Value("f")}}, "purchase_transactions"));
        return false;
    }));
    EXPECT_EQ(RawFile(path()).rows("SELECT count(*) FROM purchase_transactions"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(messagesOf(12056), std::vector<std::string>{"Transaction failed. Transaction failed"});
    EXPECT_TRUE(database->performTransaction([&] {
        return database->insertDataType(Row{{"fingerprint", Value("f")}}, "purchase_transactions");
    }));
    EXPECT_EQ(RawFile(path()).rows("SELECT count(*) FROM purchase_transactions"),
              std::vector<std::string>{"1"});
}

TEST_F(Database, ResetLeavesAnEmptyDatabaseWithAFreshBookkeepingRow) {
    auto database = open();
    ASSERT_TRUE(database);
    auto metadata = database->queryAppMetadata();
    ASSERT_TRUE(metadata);
    metadata->incrementLastBundleIndex();
    metadata->setLastBundleEndTimestamp(99.5);
    ASSERT_TRUE(database->updateAppMetadata(&*metadata));
    ASSERT_TRUE(database->insertDataType(Row{{"subscription_id", Value("s")}}, "subscriptions"));

    Error error;
    ASSERT_TRUE(database->reset(&error)) << error.description;
    EXPECT_EQ(database->sqliteStore()->databasePath(), path());
    RawFile file(path());
    EXPECT_EQ(file.schema(), kFreshSchema);
    EXPECT_EQ(file.rows("SELECT count(*) FROM subscriptions"), std::vector<std::string>{"0"});
    auto fresh = database->queryAppMetadata();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->lastBundleIndex(), 0);
    EXPECT_EQ(fresh->lastBundleEndTimestamp(), 0.0);
}

TEST_F(Database, BookkeepingRowRoundTripsAndOldRowsReadAZeroStart) {
    auto database = open();
    ASSERT_TRUE(database);
    auto metadata = ZDMAppMetadata::initWithLastBundleIndex(41, 10.25, 20.5);
    ASSERT_TRUE(database->updateAppMetadata(&*metadata));
    auto read = database->queryAppMetadata();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->lastBundleIndex(), 41);
    EXPECT_EQ(read->lastBundleStartTimestamp(), 10.25);
    EXPECT_EQ(read->lastBundleEndTimestamp(), 20.5);

    RawFile(path()).exec("UPDATE app_metadata SET last_bundle_start_timestamp = NULL");
    EXPECT_EQ(database->queryAppMetadata()->lastBundleStartTimestamp(), 0.0);

    Error error;
    EXPECT_FALSE(database->updateAppMetadata(nullptr, &error));
    EXPECT_EQ(error.description, "Received empty app metadata for getting dictionary representation");
    EXPECT_FALSE(database->updateDailyCounts(nullptr, &error));
    EXPECT_EQ(error.description, "Received empty daily counts for getting dictionary representation");
}

TEST_F(Database, BundleIndexWrapsAtTheLargestInt32AndIsNeverNegative) {
    auto metadata = ZDMAppMetadata::initWithLastBundleIndex(std::numeric_limits<int32_t>::max(), 0, 0);
    ASSERT_TRUE(metadata);
    metadata->incrementLastBundleIndex();
    EXPECT_EQ(metadata->lastBundleIndex(), 0);
    EXPECT_EQ(lastSampledMessage(), "W:Bundle index overflow. Bundle index reset to 0.");
    monitor_->clearMonitoringData();
    metadata->incrementLastBundleIndex();
    EXPECT_EQ(metadata->lastBundleIndex(), 1);
    EXPECT_EQ(lastSampledMessage(), "");

    EXPECT_FALSE(ZDMAppMetadata::initWithLastBundleIndex(-1, 0, 0));
    EXPECT_EQ(lastSampledMessage(),
              "E:Failed to create app metadata object. Received negative last bundle index.");
}

TEST_F(Database, DailyCountsRollOverWhenTheDayChanges) {
    struct Case {
        const char* what;
        std::function<void(ZDMDailyCounts&)> apply;
        ZDMDailyCounts expected;
    };
    // Stored day 10: conversions 1, all 2, public 3, error 4, realtime 5.
    const Case cases[] = {
        {"five public conversions as one event, same day",
         [](ZDMDailyCounts& c) { c.incrementCountsForCurrentDay(10, true, true, 5); },
         {10, 2, 7, 8, 4, 5}},
        {"plain event, same day",
         [](ZDMDailyCounts& c) { c.incrementCountsForCurrentDay(10, false, false); },
         {10, 1, 3, 3, 4, 5}},
        {"public conversion of 5, new day",
         [](ZDMDailyCounts& c) { c.incrementCountsForCurrentDay(11, true, true, 5); },
         {11, 1, 5, 5, 0, 0}},
        {"error event, same day",
         [](ZDMDailyCounts& c) { c.incrementErrorEventsCountForCurrentDay(10); },
         {10, 1, 3, 3, 5, 5}},
        {"error event, new day",
         [](ZDMDailyCounts& c) { c.incrementErrorEventsCountForCurrentDay(11); },
         {11, 0, 1, 0, 1, 0}},
        {"realtime event, same day",
         [](ZDMDailyCounts& c) { c.incrementRealtimeCountsForCurrentDay(10); },
         {10, 1, 2, 3, 4, 6}},
        {"realtime event, new day",
         [](ZDMDailyCounts& c) { c.incrementRealtimeCountsForCurrentDay(9); },
         {9, 0, 0, 0, 0, 1}},
        {"decrement", [](ZDMDailyCounts& c) { c.decrementAllEventsCount(); }, {10, 1, 1, 3, 4, 5}},
        {"reset", [](ZDMDailyCounts& c) { c.resetWithNewDay(12); }, {12, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZDMDailyCounts counts(10, 1, 2, 3, 4, 5);
        c.apply(counts);
        EXPECT_EQ(counts.day(), c.expected.day());
        EXPECT_EQ(counts.conversionsCount(), c.expected.conversionsCount());
        EXPECT_EQ(counts.allEventsCount(), c.expected.allEventsCount());
        EXPECT_EQ(counts.publicEventsCount(), c.expected.publicEventsCount());
        EXPECT_EQ(counts.errorEventsCount(), c.expected.errorEventsCount());
        EXPECT_EQ(counts.realtimeCount(), c.expected.realtimeCount());
    }

    ZDMDailyCounts zero(3, 0, 0, 0, 0, 0);
    zero.decrementAllEventsCount();
    EXPECT_EQ(zero.allEventsCount(), 0);
    // A counter at the top stays there instead of wrapping below every daily limit.
    ZDMDailyCounts full(3, 0, std::numeric_limits<int32_t>::max(), 0, 0, 0);
    full.incrementCountsForCurrentDay(3, false, false, 2);
    EXPECT_EQ(full.allEventsCount(), std::numeric_limits<int32_t>::max());
}

TEST_F(Database, DailyCountsAreStoredInTheBookkeepingRowUnderTheLibrarysDay) {
    // One hour before the library's midnight (01:00 UTC) of 2026-01-01 is still the previous day.
    clock_->setWallTime(1767225600.0 + 3599.0);
    auto database = open();
    ASSERT_TRUE(database);
    const int32_t today = 1767225600 / 86400 - 1;
    EXPECT_EQ(database->today(), today);
    auto counts = database->dailyCounts();
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->day(), today);
    EXPECT_EQ(counts->allEventsCount() + counts->conversionsCount() + counts->publicEventsCount() +
                  counts->errorEventsCount() + counts->realtimeCount(),
              0);

    clock_->advance(1.0);
    EXPECT_EQ(database->today(), today + 1);
    counts->incrementCountsForCurrentDay(database->today(), true, false, 3);
    ASSERT_TRUE(database->updateDailyCounts(&*counts));
    clock_->advance(86400.0 * 2);
    auto stored = database->dailyCounts();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->day(), today + 1);  // as stored: the roll-over is the increments' business
    EXPECT_EQ(stored->allEventsCount(), 3);
    EXPECT_EQ(stored->publicEventsCount(), 3);
}
