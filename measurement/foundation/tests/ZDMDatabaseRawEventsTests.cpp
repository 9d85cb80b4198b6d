// Raw-event metadata, the raw-event table's bookkeeping and the gzip upload queue, on a real
// sqlite file and the manual clock; gzip checked with the system's gzip tool.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"
#include "testing/ChildProcess.h"
#include "testing/CommandOutput.h"

namespace {

constexpr int32_t kRetryCountIndex = 35;

std::shared_ptr<ZDMPBMeasurementBundle> bundle(const char* appID, int64_t endMillis) {
    auto b = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    if (appID) ZDMPBSetString(b.get(), 14, appID);
    ZDMPBSetInt64(b.get(), 5, endMillis);
    return b;
}

// A bundle whose encoding is exactly `size` bytes, padded in its device model (index 10).
std::shared_ptr<ZDMPBMeasurementBundle> bundleOfSize(size_t size, int64_t endMillis) {
    auto b = bundle("app", endMillis);
    size_t padding = size;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ZDMPBSetString(b.get(), 10, std::string(padding, 'x'));
        const size_t encoded = b->protoBuffer()->size();
        if (encoded == size) break;
        padding = padding + size - encoded;
    }
    EXPECT_EQ(b->protoBuffer()->size(), size);
    return b;
}

class RawEventsAndQueue : public Database {
  protected:
    // Settings as the server would send them, installed where the database reads them.
    void installSetting(const std::string& key, const std::string& value) {
        if (!config_) config_ = std::make_shared<ZDMRemoteConfig>("1:1:ios:1", nullptr, nullptr);
        config_->cacheValue(Value(value), key);
        ZDMInstallRemoteConfig(config_);
    }
    void insertRawRows(int count, int64_t fingerprint, double timestamp) {
        ASSERT_TRUE(database_->performTransaction([&] {
            for (int i = 0; i < count; ++i)
                if (!database_->insertDataType(Record{{"name", Value("e" + std::to_string(i))},
                                                      {"timestamp", Value(timestamp)},
                                                      {"metadata_fingerprint", Value(fingerprint)},
                                                      {"data", Value(Data{1})}},
                                               "raw_events"))
                    return false;
            return true;
        }));
    }
    std::vector<std::string> rows(const std::string& sql) { return RawFile(path()).rows(sql); }

    using Record = ZDMDatabase::Record;
    std::unique_ptr<ZDMDatabase> database_ = open();
    std::shared_ptr<ZDMRemoteConfig> config_;
};

}  // namespace

TEST_F(RawEventsAndQueue, MetadataIsStoredOnceUnderTheLow64BitsOfItsDigest) {
    auto metadata = bundle("com.example.app", 0);
    ZDMPBSetString(metadata.get(), 8, "macos");
    Error error;
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata.get(), &error)) << error.description;
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata.get(), &error));
    const auto stored = rows("SELECT metadata_fingerprint, hex(metadata) FROM raw_events_metadata");
    ASSERT_EQ(stored.size(), 1u);

    // The digest from the system's md5sum over the same bytes: bytes 8-15 read big-endian.
    const Data encoding = *metadata->protoBuffer();
    const auto file = home_.path() / "metadata.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(encoding.data()), static_cast<std::streamsize>(encoding.size()));
    const std::string digest = commandOutput("md5sum '" + file.string() + "'").substr(0, 32);
    const auto expected = static_cast<int64_t>(std::stoull(digest.substr(16), nullptr, 16));
    EXPECT_EQ(stored[0].substr(0, stored[0].find('|')), std::to_string(expected));

    auto read = database_->queryRawEventsMetadataWithFingerprint(expected, &error);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->protoBuffer(), encoding);
    EXPECT_EQ(database_->queryRawEventsMetadataWithFingerprint(expected + 1, &error), nullptr);

    // Unused once no raw event points to it.
    insertRawRows(1, expected, 1.0);
    EXPECT_TRUE(database_->deleteUnusedRawEventsMetadata(&error));
    EXPECT_EQ(rows("SELECT count(*) FROM raw_events_metadata"), std::vector<std::string>{"1"});
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(expected), true);
    EXPECT_TRUE(database_->deleteRawEventsWithMaxRowID(1, &error));
    EXPECT_TRUE(database_->deleteUnusedRawEventsMetadata(&error));
    EXPECT_EQ(rows("SELECT count(*) FROM raw_events_metadata"), std::vector<std::string>{"0"});
}

TEST_F(RawEventsAndQueue, StoredEventsLimitKeepsRoomForTheNextInsert) {
    struct Case {
        const char* setting;
        int limit;
    };
    for (const Case& c : {Case{"5", 5}, Case{nullptr, 100000}}) {
        SCOPED_TRACE(c.limit);
        ASSERT_TRUE(database_->reset());
        ZDMInstallRemoteConfig(nullptr);
        config_.reset();
        if (c.setting) installSetting("measurement.store.max_stored_events_per_app", c.setting);
        insertRawRows(c.limit, 7, 1.0);
        Error error;
        EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 1);
        insertRawRows(1, 8, 2.0);
        EXPECT_EQ(rows("SELECT count(*), min(rowid), max(rowid) FROM raw_events"),
                  std::vector<std::string>{std::to_string(c.limit) + "|2|" + std::to_string(c.limit + 1)});
        EXPECT_EQ(rows("SELECT metadata_fingerprint FROM raw_events ORDER BY rowid DESC LIMIT 1"),
                  std::vector<std::string>{"8"});
    }
}

TEST_F(RawEventsAndQueue, RawEventQueriesOnEmptyAndFilledTables) {
    Error error;
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(&error), std::nullopt);
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(database_->isRawEventsTableEmpty(), true);
    EXPECT_EQ(database_->queryLatestRawEventTime(&error), std::nullopt);
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(), false);

    insertRawRows(2, 11, 5.5);
    insertRawRows(1, 12, 9.25);
    RawFile(path()).exec("UPDATE raw_events SET is_realtime = 1 WHERE metadata_fingerprint = 12");
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(), 11);
    EXPECT_EQ(database_->isRawEventsTableEmpty(), false);
    EXPECT_EQ(database_->queryLatestRawEventTime(), 9.25);
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(), true);
    EXPECT_TRUE(database_->deleteRawEventsWithMaxRowID(2));
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(), 12);
}

TEST_F(RawEventsAndQueue, BundlesNeedAnAppIDAndAnEndTime) {
    struct Case {
        std::shared_ptr<ZDMPBMeasurementBundle> bundle;
        const char* description;
    };
    const Case cases[] = {
        {ZDMPBMeasurementBundle::initWithMessageInfo(nullptr), "Failed to insert nil bundle"},
        {bundle(nullptr, 1767225600000), "Failed to insert bundle without App ID"},
        {bundle("", 1767225600000), "Failed to insert bundle without App ID"},
        {bundle("app", 0), "Failed to insert bundle without valid timestamp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Error error;
        EXPECT_FALSE(database_->insertBundle(c.bundle.get(), false, &error));
        EXPECT_EQ(error.description, c.description);
    }
    EXPECT_EQ(database_->isQueuedBundleTableEmpty(), true);
}

TEST_F(RawEventsAndQueue, StoredBundleIsGzipOfItsEncoding) {
    auto stored = bundleOfSize(300, 1767225600000);
    Error error;
    ASSERT_TRUE(database_->insertBundle(stored.get(), true, &error)) << error.description;
    EXPECT_EQ(messagesOf(12016), std::vector<std::string>{});
    const std::string hexData = rows("SELECT hex(data) FROM queue").at(0);
    Data compressed;
    for (size_t i = 0; i + 1 < hexData.size(); i += 2)
        compressed.push_back(static_cast<uint8_t>(std::stoul(hexData.substr(i, 2), nullptr, 16)));
    const auto file = home_.path() / "row.gz";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(compressed.data()),
               static_cast<std::streamsize>(compressed.size()));
    EXPECT_EQ(commandOutput("gzip -t '" + file.string() + "' 2>&1"), "|exit=0");
    EXPECT_EQ(ziz_dataByInflatingGzippedData(compressed), stored->protoBuffer());
    EXPECT_EQ(rows("SELECT bundle_end_timestamp, is_realtime, retry_count FROM queue"),
              std::vector<std::string>{"1767225600.0|1|0"});
    EXPECT_EQ(database_->containsRealtimeBundlesWithError(), true);
    EXPECT_EQ(database_->queryLatestBundleTime(), 1767225600.0);
}

TEST_F(RawEventsAndQueue, QueueReadsStopAtTheSizeLimitButAlwaysTakeTheFirst) {
    for (size_t size : {300, 400, 500})
        ASSERT_TRUE(database_->insertBundle(bundleOfSize(size, 1767225600000).get(), false));
    struct Case {
        int64_t sizeLimit;
        std::vector<int64_t> rowIDs;
    };
    for (const Case& c : {Case{800, {1, 2}}, Case{200, {1}}, Case{1200, {1, 2, 3}}}) {
        SCOPED_TRACE(c.sizeLimit);
        auto bundles = database_->queryBundlesWithCountLimit(10, c.sizeLimit);
        ASSERT_TRUE(bundles);
        std::vector<int64_t> ids;
        for (const auto& [b, rowID] : *bundles) ids.push_back(rowID);
        EXPECT_EQ(ids, c.rowIDs);
    }
    EXPECT_EQ(database_->queryBundlesWithCountLimit(2, 100000)->size(), 2u);
    auto chosen = database_->queryBundlesWithRowIDs({3, 1});
    ASSERT_TRUE(chosen && chosen->size() == 2u);
    EXPECT_EQ((*chosen)[0].first->protoBuffer()->size(), 300u);
    ASSERT_TRUE(database_->deleteBundlesWithRowIDs({1, 3}));
    EXPECT_EQ(rows("SELECT rowid FROM queue"), std::vector<std::string>{"2"});

    Error error;
    EXPECT_FALSE(database_->queryBundlesWithRowIDs({}, &error));
    EXPECT_EQ(error.description, "Received empty row IDs to process");
    EXPECT_FALSE(database_->deleteBundlesWithRowIDs({"2"}, &error));
    EXPECT_EQ(error.description, "Received invalid type for row ID to process");
}

TEST_F(RawEventsAndQueue, RetryCountsAreCountedUpToTheLargestInt32AndReadIntoTheBundle) {
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(database_->insertBundle(bundle("app", 1767225600000).get(), false));
    RawFile(path()).exec(
        "UPDATE queue SET retry_count = CASE rowid WHEN 1 THEN 2 WHEN 2 THEN 0 ELSE 2147483647 END");
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({1, 2, 3}));
    EXPECT_EQ(rows("SELECT retry_count FROM queue ORDER BY rowid"),
              (std::vector<std::string>{"3", "1", "2147483647"}));
    EXPECT_EQ(
        messagesOf(12054),
        std::vector<std::string>{"The number of upload retries exceeds the limit. Will remain unchanged."});

    RawFile(path()).exec(
        "UPDATE queue SET retry_count = CASE rowid WHEN 1 THEN 3 WHEN 2 THEN 0 ELSE NULL END");
    auto bundles = database_->queryBundlesWithCountLimit(10, 1 << 20);
    ASSERT_TRUE(bundles && bundles->size() == 3u);
    EXPECT_EQ(ZDMPBGetInt32((*bundles)[0].first.get(), kRetryCountIndex), 3);
    EXPECT_FALSE(ZDMPBHasField((*bundles)[1].first.get(), kRetryCountIndex));
    EXPECT_FALSE(ZDMPBHasField((*bundles)[2].first.get(), kRetryCountIndex));

    // A count beyond the int32 range (a damaged file) reads as the largest one, not cut to its bits.
    RawFile(path()).exec("UPDATE queue SET retry_count = 4294967299 WHERE rowid = 1");
    EXPECT_EQ(ZDMPBGetInt32(database_->queryBundlesWithRowIDs({1})->at(0).first.get(), kRetryCountIndex),
              std::numeric_limits<int32_t>::max());

    Error error;
    EXPECT_FALSE(database_->incrementRetryCounterForBundlesWithIDs({}, &error));
    EXPECT_EQ(error.description, "Failed to increment retry counter");
}

TEST_F(RawEventsAndQueue, StaleDataGoesOncePerIntervalPastAndFuture) {
    const double now = Clock::current().now();
    const double maxQueueTime = 2419200;  // the default
    insertRawRows(1, 21, now - maxQueueTime - 10);
    insertRawRows(1, 22, now + maxQueueTime + 100);
    insertRawRows(1, 23, now - 100);
    for (int64_t fingerprint : {21, 22, 23, 24})
        RawFile(path()).exec("INSERT INTO raw_events_metadata VALUES (" + std::to_string(fingerprint) +
                             ", x'01')");
    for (double end : {now - maxQueueTime - 10, now + maxQueueTime + 100, now - 100})
        RawFile(path()).exec("INSERT INTO queue (data, bundle_end_timestamp) VALUES (x'01', " +
                             std::to_string(end) + ")");
    midnight_->setLastDeleteStaleBundlesTimestamp(now - 86400 + 60);

    Error error;
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), false);
    EXPECT_EQ(rows("SELECT count(*) FROM raw_events"), std::vector<std::string>{"3"});
    EXPECT_EQ(rows("SELECT count(*) FROM queue"), std::vector<std::string>{"3"});

    clock_->advance(61);
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), true) << error.description;
    EXPECT_EQ(rows("SELECT metadata_fingerprint FROM raw_events"), std::vector<std::string>{"23"});
    EXPECT_EQ(rows("SELECT metadata_fingerprint FROM raw_events_metadata"), std::vector<std::string>{"23"});
    EXPECT_EQ(rows("SELECT count(*) FROM queue"), std::vector<std::string>{"1"});
    EXPECT_EQ(midnight_->lastDeleteStaleBundlesTimestamp(), now + 61);

    EXPECT_FALSE(database_->deleteStaleBundlesOlderThanMaxAge(-1, &error));
    EXPECT_EQ(error.description, "Cannot delete stale bundles after negative time period");
    EXPECT_FALSE(database_->deleteStaleRawEventsDataOlderThanMaxAge(-1, &error));
    EXPECT_EQ(error.description, "Cannot delete stale raw events given negative time period");
}

// The library hands the database its own persisted configuration: the time of the last deletion
// lands there and a later launch reads it back, so stale data is not swept again at every start.
TEST_F(Database, StaleDeletionTimeIsKeptInThePersistedConfiguration) {
    auto persisted = ZDMPersistedConfig::make(ZDMPersistedConfig::kSuiteName);
    ASSERT_TRUE(persisted);
    Error error;
    auto database = ZDMDatabase::initWithDatabaseName(kDatabaseName, persisted, &error);
    ASSERT_TRUE(database) << error.description;
    EXPECT_EQ(database->maybeDeleteStaleData(&error), true) << error.description;
    EXPECT_EQ(database->maybeDeleteStaleData(&error), false) << "once per interval";
    persisted->synchronizeToDisk();
    EXPECT_EQ(ZDMPersistedConfig::make(ZDMPersistedConfig::kSuiteName)->lastDeleteStaleBundlesTimestamp(),
              Clock::current().now());
}

namespace {

Value zText(const char* text) {
    return Value(ZDMValue::initWithString(Value(text)));
}
Value zInt(int64_t v) {
    return Value(ZDMValue::initWithInt64(v));
}

std::shared_ptr<ZDMEvent> purchase(int64_t number) {
    return ZDMEvent::initWithOrigin("app", false, "purchase", 100.0 + static_cast<double>(number), 0,
                                    {{"n", zInt(number)}});
}

}  // namespace

TEST_F(RawEventsAndQueue, RawEventsOfAFingerprintComeBackInOrderAtMostAThousand) {
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 0; i < 1002; ++i)
            if (!database_->insertRawEvent(purchase(i).get(), 7, false)) return false;
        return database_->insertRawEvent(purchase(5000).get(), 8, true);
    }));
    EXPECT_EQ(rows("SELECT count(*) FROM raw_events WHERE name = 'purchase'"),
              std::vector<std::string>{"1003"});
    Error error;
    auto all = database_->rawEventsWithMetadataFingerprint(7, &error, nullptr);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 1000u);
    for (size_t i = 0; i < all->size(); ++i) {
        EXPECT_EQ((*all)[i]->rowID(), static_cast<int64_t>(i + 1));
        EXPECT_EQ((*all)[i]->rawEvent()->parameters()["n"].objectAs<ZDMValue>()->int64Value(),
                  static_cast<int64_t>(i));
    }
    EXPECT_EQ((*all)[3]->rawEvent()->name(), "purchase");
    EXPECT_EQ((*all)[3]->rawEvent()->origin(), "app");
    EXPECT_EQ((*all)[3]->rawEvent()->timestamp(), 103.0);
    EXPECT_FALSE((*all)[3]->rawEvent()->isPublic());

    auto two = database_->rawEventsWithMetadataFingerprint(
        7, &error, [](int64_t index, const Record&) { return index < 2; });
    ASSERT_TRUE(two);
    EXPECT_EQ(two->size(), 2u);
    EXPECT_EQ(database_->rawEventsWithMetadataFingerprint(9, &error, nullptr)->size(), 0u);
}

TEST_F(RawEventsAndQueue, RowWithoutAnOriginIsRefusedAndTheOthersAreRead) {
    ASSERT_TRUE(database_->insertRawEvent(purchase(1).get(), 7, false));
    // A stored event whose parameters lack "_o": only its timestamp, 5000 ms (tag 3).
    ASSERT_TRUE(database_->insertDataType(Record{{"name", Value("_e")},
                                                 {"timestamp", Value(5.0)},
                                                 {"metadata_fingerprint", Value(7)},
                                                 {"data", Value(Data{0x18, 0x88, 0x27})}},
                                          "raw_events"));
    ASSERT_TRUE(database_->insertRawEvent(purchase(3).get(), 7, false));
    Error error;
    auto events = database_->rawEventsWithMetadataFingerprint(7, &error, nullptr);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 2u);
    EXPECT_EQ((*events)[1]->rowID(), 3);
    EXPECT_EQ(error.description, "Cannot create an event from database. Missing origin parameter");
}

TEST_F(RawEventsAndQueue, StoredItemsComeBackAsOneDictionaryPerItem) {
    const Value items(ZDMValue::initWithArray(Value(Value::Array{
        Value(Dictionary{{"item_name", zText("pen")}, {"quantity", zInt(2)}}),
        Value(Dictionary{{"item_name", zText("ink")}}),
    })));
    auto event = ZDMEvent::initWithOrigin("app", false, "purchase", 5, 2.5, {{"items", items}});
    ASSERT_TRUE(event);
    ASSERT_TRUE(database_->insertRawEvent(event.get(), 7, false));
    auto read = database_->rawEventsWithMetadataFingerprint(7, nullptr, nullptr);
    ASSERT_TRUE(read && read->size() == 1u);
    const auto& back = (*read)[0]->rawEvent();
    EXPECT_EQ(back->previousTimestamp(), 2.5);
    auto array = back->parameters()["items"].objectAs<ZDMValue>();
    ASSERT_TRUE(array && array->isArray());
    ASSERT_EQ(array->arrayValue()->size(), 2u);
    const Dictionary* first = (*array->arrayValue())[0].asDictionary();
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)["item_name"].objectAs<ZDMValue>()->stringValue(), "pen");
    EXPECT_EQ((*first)["quantity"].objectAs<ZDMValue>()->int64Value(), 2);
    // The name lives in its own column, not in the stored event.
    EXPECT_EQ(rows("SELECT name FROM raw_events"), std::vector<std::string>{"purchase"});
    auto stored = ZDMPBEvent::initWithBuffer(*RawFile(path()).blob("SELECT data FROM raw_events"));
    ASSERT_TRUE(stored);
    EXPECT_FALSE(ZDMPBHasField(stored.get(), 1));
}

TEST_F(RawEventsAndQueue, RawEventSurvivesTheProcessBeingKilledRightAfterTheInsert) {
    const pid_t child = spawnThisTestBinary("RawEventsChild.InsertsAndIsKilled",
                                            {.environment = {"ZDM_RAW_EVENTS_CHILD=1"}, .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    Error error;
    auto events = database_->rawEventsWithMetadataFingerprint(42, &error, nullptr);
    ASSERT_TRUE(events) << error.description;
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ((*events)[0]->rawEvent()->parameters()["n"].objectAs<ZDMValue>()->int64Value(), 9);
}

// Runs only as the child of RawEventSurvivesTheProcessBeingKilledRightAfterTheInsert, in its home.
TEST(RawEventsChild, InsertsAndIsKilled) {
    if (!std::getenv("ZDM_RAW_EVENTS_CHILD")) GTEST_SKIP() << "runs as a child process only";
    auto database = ZDMDatabase::initWithDatabaseName(kDatabaseName, nullptr);
    ASSERT_TRUE(database);
    ASSERT_TRUE(database->insertRawEvent(purchase(9).get(), 42, false));
    kill(getpid(), SIGKILL);
}
