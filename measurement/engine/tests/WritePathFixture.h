#pragma once
// A started engine of the test's own, and what its database file holds: the raw rows, the stored
// events decoded from them, the daily counts, and the codes of the "_err" events the library logged.
#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDailyCounts.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMValue.h"

inline constexpr const char* kEngineTestAppID = "1:123456:ios:abcdef";

struct StoredRow {
    int64_t rowID = 0;
    std::string name;
    int64_t fingerprint = 0;
    bool realtime = false;
};

class WritePath : public EngineFixture {
  protected:
    std::shared_ptr<ZDMMeasurement> startedEngine(std::vector<std::string> safelist = {}) {
        auto engine = makeEngine(kEngineTestAppID, true, false, std::move(safelist));
        forgetStartUpReports(*engine);
        EXPECT_TRUE(engine->isEnabled());
        return engine;
    }
    void setting(ZDMMeasurement& engine, const std::string& key, Value value) {
        engine.remoteConfigInstance()->cacheValue(value, key);
    }
    void handle(ZDMMeasurement& engine, const std::shared_ptr<ZDMEvent>& e) {
        ASSERT_NE(e, nullptr);
        onWorkerQueue(engine, [&] { engine.handleEventOnWorkerQueue(e); });
    }
    // What the file holds, read through a connection of the test's own.
    std::vector<StoredRow> rows() {
        std::vector<StoredRow> out;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return out;
        }
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(
            db, "SELECT rowid, name, metadata_fingerprint, is_realtime FROM raw_events ORDER BY rowid", -1,
            &statement, nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            out.push_back({sqlite3_column_int64(statement, 0),
                           reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                           sqlite3_column_int64(statement, 2), sqlite3_column_int(statement, 3) != 0});
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return out;
    }
    int64_t metadataRowCount() {
        sqlite3* db = nullptr;
        sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM raw_events_metadata", -1, &statement, nullptr);
        int64_t count = -1;
        if (statement && sqlite3_step(statement) == SQLITE_ROW) count = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return count;
    }
    // The stored events in the order they were written, decoded from their rows.
    std::vector<std::shared_ptr<ZDMEvent>> storedEvents(ZDMMeasurement& engine) {
        std::vector<std::shared_ptr<ZDMRawEventData>> all;
        std::vector<int64_t> seen;
        for (const auto& row : rows()) {
            if (std::ranges::find(seen, row.fingerprint) != seen.end()) continue;
            seen.push_back(row.fingerprint);
            onWorkerQueue(engine, [&] {
                Error error;
                auto records =
                    engine.database()->rawEventsWithMetadataFingerprint(row.fingerprint, &error, nullptr);
                if (records) all.insert(all.end(), records->begin(), records->end());
            });
        }
        std::ranges::sort(all, {}, &ZDMRawEventData::rowID);
        std::vector<std::shared_ptr<ZDMEvent>> events;
        for (const auto& record : all) events.push_back(record->rawEvent());
        return events;
    }
    ZDMDailyCounts counts(ZDMMeasurement& engine) {
        std::optional<ZDMDailyCounts> counts;
        onWorkerQueue(engine, [&] { counts = engine.database()->dailyCounts(); });
        return counts.value_or(ZDMDailyCounts(0, -1, -1, -1, -1, -1));
    }
};
