// What the engine's write of one logged event costs next to sqlite itself. The engine makes three
// calls per event (metadata unless stored, the stored-events limit, the raw event); the baseline
// inserts the same row bytes with one prepared INSERT into the same database file. Both run in
// autocommit mode, so every write is durable; rates are wall-clock.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

// An event with ten parameters of the three scalar kinds.
std::shared_ptr<ZDMEvent> tenParameterEvent() {
    Dictionary parameters;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "param_" + std::to_string(i);
        if (i % 3 == 0)
            parameters.set(name, Value(ZDMValue::initWithString(Value("value number " + std::to_string(i)))));
        else if (i % 3 == 1)
            parameters.set(name, Value(ZDMValue::initWithInt64(i * 1000)));
        else
            parameters.set(name, Value(ZDMValue::initWithDouble(i * 1.25)));
    }
    return ZDMEvent::initWithOrigin("app", false, "purchase", 1767225600.5, 0, parameters);
}

std::shared_ptr<ZDMPBMeasurementBundle> metadata() {
    auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    ZDMPBSetString(bundle.get(), 8, "macos");
    ZDMPBSetString(bundle.get(), 14, "com.example.app");
    ZDMPBSetString(bundle.get(), 16, "1.0");
    return bundle;
}

void BM_EngineWrite(benchmark::State& state) {
    TestHome home;
    auto database = ZDMDatabase::initWithDatabaseName("zizoda-measurement.sql", nullptr);
    const auto event = tenParameterEvent();
    const auto meta = metadata();
    const int64_t fingerprint = zdm_64LSBMD5(*meta->protoBuffer());
    for (auto _ : state) {
        database->insertIfNotExistsRawEventMetadata(meta.get());
        database->deleteRawEventsOverAbsoluteLimit();
        if (!database->insertRawEvent(event.get(), fingerprint, false)) state.SkipWithError("insert failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PreparedInsertBaseline(benchmark::State& state) {
    TestHome home;
    auto database = ZDMDatabase::initWithDatabaseName("zizoda-measurement.sql", nullptr);
    const auto event = tenParameterEvent();
    auto proto = event->protoEvent();
    ZDMPBClearField(proto.get(), 1);
    const Data bytes = *proto->protoBuffer();
    sqlite3* db = database->sqliteStore()->sqliteHandle();
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
                       "VALUES (?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    for (auto _ : state) {
        sqlite3_bind_text(insert, 1, "purchase", -1, SQLITE_STATIC);
        sqlite3_bind_double(insert, 2, event->timestamp());
        sqlite3_bind_int64(insert, 3, 42);
        sqlite3_bind_blob(insert, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
        sqlite3_bind_int(insert, 5, 0);
        if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError("insert failed");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_EngineWrite)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_PreparedInsertBaseline)->UseRealTime()->MinTime(1.0);
BENCHMARK_MAIN();
