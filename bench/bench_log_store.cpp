// What the log store's durable save costs next to sqlite itself. saveLog opens a connection per
// log and answers only once the log is on disk; the baselines insert the same row, into the same
// schema, on one connection kept open: one autocommit insert per log (each one durable too), and
// all logs in one transaction (the floor of sqlite's per-row cost). Rates are wall-clock: the
// time goes to the disk, not to the CPU.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

constexpr int kRowsPerTransaction = 100;

// The log as a channel unit hands it to the store: stamped with the time and the device record.
std::shared_ptr<DIZAbstractLog> channelLog() {
    auto log = std::make_shared<DIZStartServiceLog>();
    log->setServices(std::vector<std::string>{"Crashes", "Analytics"});
    log->setTimestamp(Date::now());
    log->setDevice(DIZDeviceTracker::sharedInstance()->device());
    return log;
}

// A home with an empty store, and the row of `channelLog` as the store writes it.
class Fixture {
  public:
    Fixture() {
        DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
        storage_ = std::make_unique<DIZLogDBStorage>();
        log_ = channelLog();
        text_ = base64Encode(*DIZUtility::archiveKeyedData(log_));
    }
    DIZLogDBStorage& storage() { return *storage_; }
    const std::shared_ptr<DIZAbstractLog>& log() const { return log_; }

    // A connection of sqlite's defaults to the store's file, with the store's insert prepared.
    struct RawInsert {
        sqlite3* db = nullptr;
        sqlite3_stmt* insert = nullptr;
        ~RawInsert() {
            sqlite3_finalize(insert);
            sqlite3_close(db);
        }
        void step(const std::string& text) {
            sqlite3_bind_text(insert, 1, "Analytics", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_STATIC);
            sqlite3_bind_int64(insert, 3, 1);
            if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
            sqlite3_reset(insert);
        }
    };
    std::unique_ptr<RawInsert> rawInsert() {
        auto raw = std::make_unique<RawInsert>();
        sqlite3_open_v2(storage_->dbFileURL().c_str(), &raw->db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_prepare_v2(raw->db,
                           "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)", -1,
                           &raw->insert, nullptr);
        return raw;
    }
    const std::string& text() const { return text_; }

  private:
    TestHome home_;
    std::unique_ptr<DIZLogDBStorage> storage_;
    std::shared_ptr<DIZAbstractLog> log_;
    std::string text_;
};

void BM_SaveLog(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) {
        if (!fixture.storage().saveLog(fixture.log(), "Analytics", 1)) state.SkipWithError("not stored");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveLog)->UseRealTime();

void BM_RawAutocommitInsert(benchmark::State& state) {
    Fixture fixture;
    auto raw = fixture.rawInsert();
    for (auto _ : state) raw->step(fixture.text());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawAutocommitInsert)->UseRealTime();

void BM_RawInsertsInOneTransaction(benchmark::State& state) {
    Fixture fixture;
    auto raw = fixture.rawInsert();
    for (auto _ : state) {
        sqlite3_exec(raw->db, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 0; i < kRowsPerTransaction; ++i) raw->step(fixture.text());
        sqlite3_exec(raw->db, "COMMIT", nullptr, nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations() * kRowsPerTransaction);
}
BENCHMARK(BM_RawInsertsInOneTransaction)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
