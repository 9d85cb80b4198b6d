// Throughput of the log store: saving one log, and loading then deleting a batch of 50, each on
// the store's one-connection-per-operation path. The baseline is the bare cost of that path: open
// a connection, insert the same text, close.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

std::shared_ptr<DIZAbstractLog> typicalLog() {
    auto log = std::make_shared<DIZStartServiceLog>();
    log->setServices(std::vector<std::string>{"Analytics", "Crashes"});
    return log;
}

void BM_BaselineInsertOnOwnConnection(benchmark::State& state) {
    TestHome home;
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    const std::string text = base64Encode(*DIZUtility::archiveKeyedData(typicalLog()));
    const std::string file = (home.path() / "baseline.sqlite").string();
    sqlite3* setup = nullptr;
    sqlite3_open(file.c_str(), &setup);
    sqlite3_exec(
        setup,
        "CREATE TABLE logs (id INTEGER PRIMARY KEY AUTOINCREMENT, groupId TEXT, log TEXT, priority INTEGER)",
        nullptr, nullptr, nullptr);
    sqlite3_close(setup);
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO logs (groupId, log, priority) VALUES ('Analytics', ?, 1)", -1,
                           &statement, nullptr);
        sqlite3_bind_text(statement, 1, text.c_str(), static_cast<int>(text.size()), SQLITE_STATIC);
        benchmark::DoNotOptimize(sqlite3_step(statement));
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineInsertOnOwnConnection);

void BM_SaveLog(benchmark::State& state) {
    TestHome home;
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    DIZLogDBStorage storage;
    const auto log = typicalLog();
    for (auto _ : state) benchmark::DoNotOptimize(storage.saveLog(log, "Analytics", 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveLog);

void BM_LoadAndDeleteBatchOf50(benchmark::State& state) {
    TestHome home;
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    DIZLogDBStorage storage;
    const auto log = typicalLog();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 50; ++i) storage.saveLog(log, "Analytics", 1);
        state.ResumeTiming();
        storage.loadLogsWithGroupId("Analytics", 50, {},
                                    [&](const std::vector<std::shared_ptr<DIZAbstractLog>>& logs,
                                        const std::optional<std::string>& batchId) {
                                        benchmark::DoNotOptimize(logs.size());
                                        if (batchId) storage.deleteLogsWithBatchId(*batchId, "Analytics");
                                    });
    }
    state.SetItemsProcessed(state.iterations() * 50);
}
BENCHMARK(BM_LoadAndDeleteBatchOf50);

}  // namespace

BENCHMARK_MAIN();
