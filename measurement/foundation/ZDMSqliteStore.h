#pragma once
// The measurement library's only gateway to sqlite: one database file, opened and validated (deleted
// and recreated once when unusable), tables kept in line with column lists declared in code, a cache
// of prepared statements, value binding and reading, exclusive transactions, and every sqlite failure
// turned into an error of code 3 with a diagnostic context under "ZDMMonitorContext".
//
// Values crossing the store: null, real (double), other numbers and booleans (int64), string and
// data (a blob, bound without copying: the bytes must outlive the step). Any other kind cannot be
// bound. A column reads back as the same kinds; a zero-length blob reads as no value.
//
// Error codes: 1 invalid argument or unusable value, 2 connection closed or table shape refused,
// 3 sqlite failure or failed transaction.
//
// Thread safety: none of its own. Each store is used from one serial queue at a time; the cached
// statements are reused without locking.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

struct sqlite3;
struct sqlite3_stmt;

class ZDMSqliteStore {
  public:
    // Ordered (name, declared type) pairs; a pair named "PRIMARY KEY" is a table constraint whose
    // second element is the constraint's text.
    using ColumnInfo = std::vector<std::pair<std::string, std::string>>;
    using Record = Dictionary;
    using RecordFilter = std::function<bool(int64_t rowIndex, const Record& record)>;

    static constexpr const char* kPrimaryKey = "PRIMARY KEY";

    // Opens and validates the file at `path`, creating its directory; an unusable file is deleted
    // and opened afresh once. No store when the second attempt fails; `error` holds the last one.
    static std::unique_ptr<ZDMSqliteStore> make(const std::string& path, Error* error = nullptr);
    ~ZDMSqliteStore();
    ZDMSqliteStore(const ZDMSqliteStore&) = delete;
    ZDMSqliteStore& operator=(const ZDMSqliteStore&) = delete;

    const std::string& databasePath() const { return databasePath_; }
    sqlite3* sqliteHandle() const { return sqliteHandle_; }

    // Closes the connection and removes the file with its "-journal" and "-wal" companions; a
    // missing file counts as removed.
    bool closeAndDeleteDatabase();
    bool openAndValidateDatabase(Error* error);
    bool validateDatabaseWithError(Error* error);
    void closeDatabase();
    void finalizeAndClearStatements();

    // Schema. Missing add-on columns are added in the order of their list.
    bool ensureTableWithName(const std::string& table, const ColumnInfo& elementaryColumnInfo,
                             const ColumnInfo& addOnColumnInfo,
                             const std::map<std::string, std::string>& modifyColumnInfo,
                             Error* error = nullptr);
    bool ensureTableWithName(const std::string& table, const ColumnInfo& elementaryColumnInfo,
                             const ColumnInfo& addOnColumnInfo, Error* error = nullptr);
    // Rebuilds the table in one exclusive transaction when its declared types differ from the lists,
    // copying the rows of the columns both versions have by name.
    bool ensureSchemaOfTableWithName(const std::string& table, const ColumnInfo& elementaryColumnInfo,
                                     const ColumnInfo& addOnColumnInfo, Error* error = nullptr);
    // `addOnColumns`: (column name, its add-column statement) in the order to add them.
    bool ensureTableWithName(const std::string& table, const std::string& createSQL,
                             const std::vector<std::string>& requiredColumnNames,
                             const ColumnInfo& addOnColumns, Error* error = nullptr);
    // No answer (and no error) when the table has no columns.
    std::optional<bool> validateTableWithName(const std::string& table,
                                              const std::vector<std::string>& requiredColumnNames,
                                              const ColumnInfo& addOnColumns, Error* error = nullptr);
    std::optional<bool> tableExists(const std::string& table, Error* error = nullptr);
    std::optional<std::vector<std::string>> columnsForTableWithName(const std::string& table,
                                                                    Error* error = nullptr);
    std::optional<std::map<std::string, std::string>> columnInfoForTableWithName(const std::string& table,
                                                                                 Error* error = nullptr);
    bool dropTableWithName(const std::string& table, Error* error = nullptr);
    bool renameTable(const std::string& table, const std::string& newName, Error* error = nullptr);
    // Pairs the columns the two tables share by name.
    bool copyContentsFromTable(const std::string& source, const std::string& destination,
                               Error* error = nullptr);

    // Records. An upsert holding a value that cannot be bound writes nothing and sets no error.
    bool upsertRecord(const Record& record, const std::string& table, Error* error = nullptr);
    bool updateRecord(const Record& record, const std::string& table, const std::string& columnName,
                      const Value& columnValue, Error* error = nullptr);
    bool updateAllRecordsInTableWithName(const std::string& table, const std::string& columnName,
                                         const Value& columnValue, Error* error = nullptr);
    bool increaseColumn(const std::string& column, int64_t amount, const std::string& table,
                        const std::string& condition, const Value::Array& parameterValues,
                        Error* error = nullptr);
    bool deleteRecordFromTableWithName(const std::string& table, const std::string& columnName,
                                       const Value& columnValue, Error* error = nullptr);
    // The number of rows deleted.
    std::optional<int64_t> deleteRecordsFromTableWithName(const std::string& table,
                                                          const std::string& condition,
                                                          const Value::Array& parameterValues,
                                                          Error* error = nullptr);
    bool deleteAllRecordsFromTableWithName(const std::string& table, Error* error = nullptr);
    std::optional<int64_t> rowCountForTableWithName(const std::string& table, Error* error = nullptr);
    std::optional<int64_t> rowCountForTableWithName(const std::string& table, const std::string& columnName,
                                                    const Value& columnValue, Error* error = nullptr);

    // The rows of a SELECT in result order, each offered to the filter; the first refusal ends the
    // read. No list when a step fails: a database that cannot be read is not an empty one.
    std::optional<std::vector<Record>> recordsForQuery(const std::string& query,
                                                       const Value::Array& parameterValues, Error* error,
                                                       const RecordFilter& filter);
    std::optional<std::vector<Record>> recordsForQuery(const std::string& query,
                                                       const Value::Array& parameterValues,
                                                       Error* error = nullptr);
    // The first column of the first row; a NULL there is no number and no error.
    std::optional<Value> numberForQuery(const std::string& query, const Value::Array& parameterValues,
                                        Error* error = nullptr);

    // Runs the block in one exclusive transaction: YES commits, NO rolls back ("Transaction failed"),
    // an exception rolls back and goes on to the caller. A transaction inside another fails to begin.
    bool performTransactionWithError(Error* error, const std::function<bool()>& block);
    bool beginTransaction();
    bool endTransaction();
    bool rollbackTransaction();

    // Statements with "?" and statements without a WHERE stay prepared, keyed by their exact text;
    // every statement handed out goes back through cleanUpStatement.
    sqlite3_stmt* statementForQuery(const std::string& query, Error* error = nullptr);
    sqlite3_stmt* statementForQuery(const std::string& query, const Value::Array& parameterValues,
                                    Error* error = nullptr);
    void cleanUpStatement(sqlite3_stmt* statement, const std::string& query);
    sqlite3_stmt* prepareSQL(const std::string& sql, Error* error = nullptr);
    bool executeSQL(const std::string& sql, Error* error = nullptr);
    // Steps once and finalizes; true when the statement is done.
    bool executeSQLStatement(sqlite3_stmt* statement, Error* error = nullptr);
    // Every value is bound even after a failure; `error` holds the last failure.
    bool bindValues(const Value::Array& values, sqlite3_stmt* statement, Error* error = nullptr);
    static std::optional<Value> valueAtColumn(int column, sqlite3_stmt* statement);
    // Prepared (uncached) and bound; the caller executes or finalizes it.
    sqlite3_stmt* upsertStatementForRecord(const Record& record, const std::string& table,
                                           Error* error = nullptr);
    sqlite3_stmt* updateStatementForRecord(const Record& record, const std::string& table,
                                           const std::string& columnName, const Value& columnValue,
                                           Error* error = nullptr);

    // Error helpers.
    std::optional<std::string> lastErrorMessage() const;
    std::optional<std::string> errorDescriptionForDatabaseOperation(const std::string& operation) const;
    std::string monitorContextForDatabaseOperation(const std::string& operation) const;
    void setDatabaseError(Error* error, const std::string& operation) const;

  private:
    explicit ZDMSqliteStore(std::string path);
    bool isOpen() const { return sqliteHandle_ != nullptr; }
    bool bindValue(const Value& value, int position, sqlite3_stmt* statement, Error* error);

    sqlite3* sqliteHandle_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> statementCache_;
    const std::string databasePath_;
};
