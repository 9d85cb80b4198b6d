#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>

#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMSqliteStore.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

namespace fs = std::filesystem;

namespace {

using ColumnInfo = ZDMSqliteStore::ColumnInfo;
using Record = ZDMSqliteStore::Record;

const ColumnInfo kColumns = {{"id", "INTEGER NOT NULL"}, {"amount", "INTEGER NOT NULL"}, {"name", "TEXT"}};

class SqliteStore : public ::testing::Test {
  protected:
    SqliteStore()
        : capture_([this](int, const std::string& line) {
              std::lock_guard lock(mutex_);
              lines_.push_back(line);
          }) {
        resetAllForTesting();
    }
    ~SqliteStore() override { resetAllForTesting(); }

    std::string path() const { return (home_.path() / "Measurement" / "store.sql").string(); }
    std::unique_ptr<ZDMSqliteStore> open() {
        Error error;
        auto store = ZDMSqliteStore::make(path(), &error);
        EXPECT_TRUE(store) << error.description;
        return store;
    }
    // A store with table t holding rows id 0..count-1, amount id*10, name "n<id>".
    std::unique_ptr<ZDMSqliteStore> openWithRows(int count) {
        auto store = open();
        EXPECT_TRUE(store->ensureTableWithName("t", kColumns, {}));
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(store->upsertRecord(
                Record{{"id", Value(i)}, {"amount", Value(i * 10)}, {"name", Value("n" + std::to_string(i))}},
                "t"));
        return store;
    }
    void exec(ZDMSqliteStore& store, const std::string& sql) {
        ASSERT_EQ(sqlite3_exec(store.sqliteHandle(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sql;
    }
    // Lines of this message code, once the monitor has written every report made so far.
    std::vector<std::string> logged(int64_t code) {
        ZDMMonitor::sharedMonitor()->monitoringDataForDispatchWithSamplePeriod(1e12, 0);
        const std::string tag = "I-ACS0" + std::to_string(code);
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& line : lines_)
            if (line.find(tag) != std::string::npos) out.push_back(line);
        return out;
    }

    TestHome home_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    ZIZLoggerCapture capture_;
};

// Every statement text the connection runs, in order.
// The hook is removed when the trace goes, so that statements run later never reach a dead trace.
struct StatementTrace {
    explicit StatementTrace(sqlite3* handle) : handle_(handle) {
        sqlite3_trace_v2(
            handle, SQLITE_TRACE_STMT,
            [](unsigned, void* context, void*, void* text) {
                static_cast<StatementTrace*>(context)->texts.emplace_back(static_cast<const char*>(text));
                return 0;
            },
            this);
    }
    ~StatementTrace() { sqlite3_trace_v2(handle_, 0, nullptr, nullptr); }
    StatementTrace(const StatementTrace&) = delete;
    StatementTrace& operator=(const StatementTrace&) = delete;
    bool ran(const std::string& prefix) const {
        for (const auto& text : texts)
            if (text.rfind(prefix, 0) == 0) return true;
        return false;
    }
    sqlite3* handle_;
    std::vector<std::string> texts;
};

int openStatementCount(sqlite3* handle) {
    int count = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(handle, nullptr); s; s = sqlite3_next_stmt(handle, s)) ++count;
    return count;
}

TEST_F(SqliteStore, RecreatesAnUnreadableFileOnceAndWorks) {
    fs::create_directories(fs::path(path()).parent_path());
    std::mt19937 random(7);
    {
        std::ofstream out(path(), std::ios::binary);
        for (int i = 0; i < 8192; ++i) out.put(static_cast<char>(random()));
    }
    auto store = openWithRows(2);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->rowCountForTableWithName("t"), 2);
    EXPECT_TRUE(FileAttributes::isExcludedFromBackup(path()));
}

TEST_F(SqliteStore, GivesNoStoreAndTheLastErrorWhenTheDirectoryCannotBeMade) {
    std::ofstream(home_.path() / "plain-file") << "x";
    Error error;
    EXPECT_FALSE(ZDMSqliteStore::make((home_.path() / "plain-file" / "sub" / "db.sql").string(), &error));
    EXPECT_EQ(error.domain, kFoundationErrorDomain);
    EXPECT_NE(error.description.find("Could not create the directory"), std::string::npos)
        << error.description;

    EXPECT_FALSE(ZDMSqliteStore::make("", &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Received empty database path on init");
}

TEST_F(SqliteStore, MakesAnImmutableFileMutableThenOpensItWithItsRows) {
    openWithRows(3).reset();
    ASSERT_TRUE(FileAttributes::setImmutable(path(), true));
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_FALSE(FileAttributes::isImmutable(path()));
    EXPECT_EQ(store->rowCountForTableWithName("t"), 3);
}

TEST_F(SqliteStore, CachesStatementsWithMarkersOrWithoutConditions) {
    auto store = openWithRows(2);
    const std::string marked = "SELECT name FROM t WHERE id=?";
    Error error;
    EXPECT_EQ(store->statementForQuery(marked, &error), nullptr);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Received empty parameters");

    sqlite3_stmt* withValues = store->statementForQuery(marked, {Value(1)});
    ASSERT_NE(withValues, nullptr);
    store->cleanUpStatement(withValues, marked);
    EXPECT_EQ(store->statementForQuery(marked), withValues);
    store->cleanUpStatement(withValues, marked);

    const std::string literal = "SELECT name FROM t where id=1";
    sqlite3_stmt* first = store->statementForQuery(literal);
    sqlite3_stmt* second = store->statementForQuery(literal);
    EXPECT_NE(first, second);
    store->cleanUpStatement(first, literal);
    store->cleanUpStatement(second, literal);

    const std::string deleteAll = "DELETE FROM t";
    sqlite3_stmt* unconditional = store->statementForQuery(deleteAll);
    store->cleanUpStatement(unconditional, deleteAll);
    EXPECT_EQ(store->statementForQuery(deleteAll), unconditional);
    store->cleanUpStatement(unconditional, deleteAll);

    // Cached: the marked query, the unconditional delete and the table-info pragma.
    EXPECT_EQ(openStatementCount(store->sqliteHandle()), 3);
}

TEST_F(SqliteStore, FinalizesAStatementHandedBackInPlaceOfTheCachedOne) {
    auto store = openWithRows(1);
    const std::string query = "SELECT name FROM t WHERE id=?";
    store->cleanUpStatement(store->statementForQuery(query, {Value(0)}), query);
    const int cached = openStatementCount(store->sqliteHandle());
    store->cleanUpStatement(store->prepareSQL(query), query);
    EXPECT_EQ(openStatementCount(store->sqliteHandle()), cached);
}

TEST_F(SqliteStore, BindsAndReadsEveryValueKind) {
    auto store = open();
    ASSERT_TRUE(store->ensureTableWithName("v", {{"k", "TEXT PRIMARY KEY"}, {"x", ""}}, {}));
    const struct {
        Value in;
        std::optional<Value> out;
    } cases[] = {
        {Value(), Value()},
        {Value(1.5), Value(1.5)},
        {Value(int64_t{-9007199254740993}), Value(int64_t{-9007199254740993})},
        {Value(true), Value(int64_t{1})},
        {Value("text with \xc3\xa9"), Value("text with \xc3\xa9")},
        {Value(Data{0, 1, 2, 255}), Value(Data{0, 1, 2, 255})},
        // A zero-length blob reads as no value and is left out of the row.
        {Value(Data{}), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.in.type()));
        ASSERT_TRUE(store->upsertRecord(Record{{"k", Value("key")}, {"x", c.in}}, "v"));
        auto rows = store->recordsForQuery("SELECT x FROM v", {});
        ASSERT_TRUE(rows);
        ASSERT_EQ(rows->size(), 1u);
        const Value* x = rows->front().find("x");
        EXPECT_EQ(x ? std::optional<Value>(*x) : std::nullopt, c.out);
    }
    const auto missing = logged(34004);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_NE(missing[0].find("Value is nil for column"), std::string::npos);
    EXPECT_NE(missing[0].find("x"), std::string::npos);
}

TEST_F(SqliteStore, QueriesFilterRowsAndRefuseWhatIsNotARow) {
    auto store = openWithRows(4);
    const auto rejecting = [](int64_t refused) {
        return [refused](int64_t index, const Record&) { return index != refused; };
    };
    auto none = store->recordsForQuery("SELECT * FROM t ORDER BY id", {}, nullptr, rejecting(0));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(logged(34005).size(), 1u);

    auto two = store->recordsForQuery("select * FROM t ORDER BY id", {}, nullptr, rejecting(2));
    ASSERT_TRUE(two);
    ASSERT_EQ(two->size(), 2u);
    EXPECT_EQ((*two)[1], (Record{{"id", Value(1)}, {"amount", Value(10)}, {"name", Value("n1")}}));
    EXPECT_EQ(logged(34005).size(), 1u);

    auto nothing = store->recordsForQuery("SELECT * FROM t WHERE id=?", {Value(99)});
    ASSERT_TRUE(nothing);
    EXPECT_TRUE(nothing->empty());
    EXPECT_EQ(logged(34005).size(), 1u);

    Error error;
    EXPECT_FALSE(store->recordsForQuery("  SELECT * FROM t", {}, &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Received invalid select query");

    error = Error();
    EXPECT_FALSE(store->numberForQuery("SELECT amount FROM t WHERE id=-1", {}, &error));
    EXPECT_EQ(error.code, 3);
    EXPECT_NE(error.description.find("\"query numeric result\""), std::string::npos) << error.description;

    error = Error();
    EXPECT_FALSE(store->numberForQuery("SELECT NULL", {}, &error));
    EXPECT_EQ(error.code, 0);
    EXPECT_FALSE(store->numberForQuery("SELECT name FROM t WHERE id=?", {Value(1)}, &error));
    EXPECT_EQ(error.description, "Found result that was not numeric");
    EXPECT_EQ(store->numberForQuery("SELECT sum(amount) FROM t", {}), Value(60));
    EXPECT_EQ(store->rowCountForTableWithName("t", "name", Value("n3")), 1);
}

TEST_F(SqliteStore, ALockedDatabaseIsAnErrorNotAnEmptyList) {
    auto store = openWithRows(2);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr), SQLITE_OK);

    Error error;
    EXPECT_FALSE(store->recordsForQuery("SELECT * FROM t", {}, &error));
    EXPECT_EQ(error.code, 3);
    EXPECT_NE(error.description.find("\"query records\" failed with sqlite code 5"), std::string::npos)
        << error.description;
    const std::string context = error.userInfo[kZDMMonitorContextKey].stringOr("");
    EXPECT_EQ(context.rfind("query records,5,A,", 0), 0u) << context;
    // The free-space bucket: a power of ten of free MiB, or -1 under one MiB.
    const std::string bucket =
        context.substr(std::min(context.size(), std::string("query records,5,A,").size()));
    EXPECT_TRUE(bucket == "-1" ||
                (!bucket.empty() && bucket.find_first_not_of("0123456789") == std::string::npos))
        << context;

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    auto rows = store->recordsForQuery("SELECT * FROM t", {});
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 2u);
}

TEST_F(SqliteStore, AddsMissingAddOnColumnsInListOrderAndRefusesUnknownRequiredOnes) {
    auto store = openWithRows(1);
    ASSERT_TRUE(store->ensureTableWithName("t", kColumns, {{"zeta", "INTEGER"}, {"alpha", "TEXT"}}));
    EXPECT_EQ(store->columnsForTableWithName("t"),
              (std::vector<std::string>{"id", "amount", "name", "zeta", "alpha"}));

    exec(*store, "CREATE TABLE loose (id INTEGER NOT NULL, spare TEXT)");
    EXPECT_TRUE(store->ensureTableWithName("loose", {{"id", "INTEGER NOT NULL"}}, {}));
    exec(*store, "CREATE TABLE strict (id INTEGER NOT NULL, other TEXT NOT NULL)");
    Error error;
    EXPECT_FALSE(store->ensureTableWithName("strict", {{"id", "INTEGER NOT NULL"}}, {}, &error));
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.description, "Table contains unknown non-optional columns");
    EXPECT_FALSE(store->ensureTableWithName("strict", {{"missing", "TEXT"}}, {}, &error));
    EXPECT_EQ(error.description, "Table is missing required columns");
}

TEST_F(SqliteStore, RebuildsATableWhoseTypeChangedInOneTransactionKeepingEveryRow) {
    auto store = openWithRows(3);
    const std::map<std::string, std::string> modify = {{"amount", "REAL NOT NULL"}};
    {
        StatementTrace trace(store->sqliteHandle());
        ASSERT_TRUE(store->ensureTableWithName("t", kColumns, {}, modify));
        const auto& texts = trace.texts;
        const auto begin = std::find(texts.begin(), texts.end(), "BEGIN EXCLUSIVE TRANSACTION");
        ASSERT_NE(begin, texts.end());
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "BEGIN EXCLUSIVE TRANSACTION"), 1);
        EXPECT_EQ(texts.back(), "END TRANSACTION");
        // Every change of the table lies inside that one transaction.
        for (auto text = texts.begin(); text != begin; ++text)
            EXPECT_TRUE(text->rfind("SELECT", 0) == 0 || text->rfind("PRAGMA", 0) == 0) << *text;
        EXPECT_TRUE(trace.ran("ALTER TABLE t RENAME TO t_old"));
        EXPECT_TRUE(trace.ran("DROP TABLE t_old"));
    }
    EXPECT_EQ(store->columnInfoForTableWithName("t")->at("amount"), "REAL");
    EXPECT_EQ(store->tableExists("t_old"), false);
    auto rows = store->recordsForQuery("SELECT amount FROM t ORDER BY id", {});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[2], (Record{{"amount", Value(20.0)}}));
    EXPECT_TRUE((*rows)[2]["amount"].isReal());

    StatementTrace trace(store->sqliteHandle());
    ASSERT_TRUE(store->ensureTableWithName("t", kColumns, {}, modify));
    EXPECT_FALSE(trace.ran("BEGIN"));
    EXPECT_FALSE(trace.ran("ALTER"));
}

TEST_F(SqliteStore, RebuildCopiesByNameFromATableWithAnExtraColumnAndReorderedAddOns) {
    auto store = open();
    exec(*store,
         "CREATE TABLE t (id INTEGER NOT NULL, amount INTEGER NOT NULL, name TEXT, extra TEXT, later TEXT, "
         "sooner INTEGER)");
    exec(*store, "INSERT INTO t VALUES (1, 10, 'a', 'x', 'L1', 100), (2, 20, 'b', NULL, 'L2', 200)");

    const ColumnInfo addOns = {{"sooner", "INTEGER"}, {"later", "TEXT"}};
    ASSERT_TRUE(store->ensureTableWithName("t", kColumns, addOns, {{"amount", "REAL NOT NULL"}}));
    auto rows = store->recordsForQuery("SELECT * FROM t ORDER BY id", {});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[1], (Record{{"id", Value(2)},
                                  {"amount", Value(20.0)},
                                  {"name", Value("b")},
                                  {"sooner", Value(200)},
                                  {"later", Value("L2")}}));
    EXPECT_EQ((*rows)[0]["sooner"], Value(100));
    EXPECT_EQ((*rows)[0]["later"], Value("L1"));
}

TEST_F(SqliteStore, TransactionsCommitRollBackAndRefuseNesting) {
    auto store = openWithRows(0);
    const Record row{{"id", Value(1)}, {"amount", Value(1)}};

    Error error;
    EXPECT_FALSE(
        store->performTransactionWithError(&error, [&] { return store->upsertRecord(row, "t") && false; }));
    EXPECT_EQ(error.code, 3);
    EXPECT_EQ(error.description, "Transaction failed");
    EXPECT_EQ(store->rowCountForTableWithName("t"), 0);

    Error inner;
    EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
        EXPECT_FALSE(store->performTransactionWithError(&inner, [] { return true; }));
        return store->upsertRecord(row, "t");
    }));
    EXPECT_EQ(inner.code, 3);
    EXPECT_EQ(inner.description, "Failed to begin transaction");
    EXPECT_EQ(store->rowCountForTableWithName("t"), 1);

    EXPECT_THROW(store->performTransactionWithError(nullptr,
                                                    [&]() -> bool {
                                                        store->deleteAllRecordsFromTableWithName("t");
                                                        throw std::runtime_error("block failed");
                                                    }),
                 std::runtime_error);
    EXPECT_EQ(store->rowCountForTableWithName("t"), 1);
    EXPECT_TRUE(store->performTransactionWithError(nullptr, [] { return true; }));
    EXPECT_TRUE(logged(34009).empty());
}

TEST_F(SqliteStore, UpsertOfAnUnsupportedValueWritesNothingAndSetsNoError) {
    auto store = openWithRows(0);
    for (const Value& unsupported :
         {Value(Date::fromUnix(5)), Value(Value::Array{Value(1)}), Value(Dictionary{})}) {
        Error error;
        EXPECT_FALSE(store->upsertRecord(
            Record{{"id", Value(1)}, {"amount", Value(1)}, {"name", unsupported}}, "t", &error));
        EXPECT_EQ(error.code, 0);
        EXPECT_EQ(store->rowCountForTableWithName("t"), 0);

        EXPECT_FALSE(store->updateRecord(Record{{"name", unsupported}}, "t", "id", Value(1), &error));
        EXPECT_EQ(error.description, "Failed to bind parameter of unexpected type to update statement");
    }
    EXPECT_EQ(logged(34020).size(), 3u);
    EXPECT_EQ(logged(34021).size(), 3u);
}

TEST_F(SqliteStore, RecordOperationsChangeTheRowsTheyName) {
    auto store = openWithRows(4);
    EXPECT_TRUE(store->updateRecord(Record{{"name", Value("renamed")}}, "t", "id", Value(1)));
    EXPECT_EQ(store->rowCountForTableWithName("t", "name", Value("renamed")), 1);
    EXPECT_TRUE(store->increaseColumn("amount", 5, "t", "id >= ?", {Value(2)}));
    EXPECT_EQ(store->numberForQuery("SELECT sum(amount) FROM t", {}), Value(70));
    Error error;
    EXPECT_FALSE(store->increaseColumn("name", 1, "t", "id = 1", {}, &error));
    EXPECT_EQ(error.description, "Column type is not integer.");
    EXPECT_FALSE(store->increaseColumn("nope", 1, "t", "id = 1", {}, &error));
    EXPECT_EQ(error.description, "Invalid column or table name");
    EXPECT_EQ(store->deleteRecordsFromTableWithName("t", "id < ?", {Value(2)}), 2);
    EXPECT_TRUE(store->deleteRecordFromTableWithName("t", "id", Value(3)));
    EXPECT_TRUE(store->updateAllRecordsInTableWithName("t", "name", Value("all")));
    EXPECT_EQ(store->recordsForQuery("SELECT id, name FROM t", {}),
              (std::vector<Record>{Record{{"id", Value(2)}, {"name", Value("all")}}}));
    EXPECT_TRUE(store->deleteAllRecordsFromTableWithName("t"));
    EXPECT_EQ(store->rowCountForTableWithName("t"), 0);
}

TEST_F(SqliteStore, AClosedStoreRefusesWithCodeTwo) {
    auto store = openWithRows(1);
    store->closeDatabase();
    Error error;
    EXPECT_FALSE(store->recordsForQuery("SELECT * FROM t", {}, &error));
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.description, "Query records failed. Database not open.");
    EXPECT_FALSE(store->upsertRecord(Record{{"id", Value(1)}}, "t", &error));
    EXPECT_EQ(error.description, "Upsert record failed. Database not open.");
    EXPECT_FALSE(store->performTransactionWithError(&error, [] { return true; }));
    EXPECT_EQ(error.description, "Database not open");
}

TEST_F(SqliteStore, CloseAndDeleteLeavesNoDatabaseJournalOrWal) {
    auto store = openWithRows(1);
    for (const char* suffix : {"-journal", "-wal"}) std::ofstream(path() + suffix) << "stale";
    ASSERT_TRUE(FileAttributes::setImmutable(path(), true));
    EXPECT_TRUE(store->closeAndDeleteDatabase());
    EXPECT_EQ(store->sqliteHandle(), nullptr);
    for (const char* suffix : {"", "-journal", "-wal"}) EXPECT_FALSE(fs::exists(path() + suffix)) << suffix;
    EXPECT_TRUE(store->closeAndDeleteDatabase());
}

}  // namespace
