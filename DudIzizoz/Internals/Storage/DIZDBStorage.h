#pragma once
// A thin layer over one sqlite file in the client's data directory. It creates the file and its
// tables from a schema description, keeps a schema version in the header (calling a migration hook
// when the stored one is older), keeps full auto-vacuum, caps the file at a size in pages, and runs
// every operation on a connection of its own that is closed before the operation returns. Every
// connection waits a while for another process's lock and keeps the journal file between writes.
// Failures are sqlite result codes, logged; nothing throws. No lock: callers serialise the calls.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DudIzizoz/Internals/Storage/DIZStorageBindableArray.h"
#include "platform/foundation/Value.h"

struct sqlite3;
struct sqlite3_stmt;

// One column: its name and its type and constraint words, e.g. {"id", {"INTEGER", "PRIMARY KEY"}}.
struct DIZColumnSchema {
    std::string name;
    std::vector<std::string> words;
};
using DIZColumnsSchema = std::vector<DIZColumnSchema>;
// Tables with their columns, in creation order.
using DIZSchema = std::vector<std::pair<std::string, DIZColumnsSchema>>;
// Table name -> column name -> 0-based position of the column.
using DIZColumnsIndexes = std::map<std::string, std::map<std::string, size_t>>;

// One result row: a string for TEXT, a 64-bit integer for INTEGER, null for anything else.
using DIZStorageRow = std::vector<Value>;
using DIZStorageRows = std::vector<DIZStorageRow>;

class DIZDBStorage {
  public:
    static constexpr int64_t kDefaultMaxSizeInBytes = 10 * 1024 * 1024;

    // `filename` is relative to the client's data directory. The object is usable (its operations
    // fail with result codes) even when configuration failed.
    DIZDBStorage(std::optional<DIZSchema> schema, uint32_t version, const std::string& filename);
    DIZDBStorage(uint32_t version, const std::string& filename);
    virtual ~DIZDBStorage() = default;
    DIZDBStorage(const DIZDBStorage&) = delete;
    DIZDBStorage& operator=(const DIZDBStorage&) = delete;

    const std::filesystem::path& dbFileURL() const { return dbFileURL_; }
    int64_t maxSizeInBytes() const { return maxSizeInBytes_; }
    // 0 when configuration failed.
    int64_t pageSize() const { return pageSize_; }
    const std::optional<DIZSchema>& schema() const { return schema_; }

    int configureDatabaseWithSchema(const std::optional<DIZSchema>& schema, uint32_t version,
                                    const std::string& filename);
    // Opens a connection with the size cap applied, runs `block` on it and closes it.
    int executeQueryUsingBlock(const std::function<int(sqlite3*)>& block);
    int executeNonSelectionQuery(const std::string& query, const DIZStorageBindableArray& values = {});
    // Empty when nothing could be read.
    DIZStorageRows executeSelectionQuery(const std::string& query,
                                         const DIZStorageBindableArray& values = {});
    uint64_t countEntriesForTable(const std::string& table, const std::string& condition = {},
                                  const DIZStorageBindableArray& values = {});
    bool createTable(const std::string& table, const DIZColumnsSchema& columns);
    bool dropTable(const std::string& table);
    // Deletes the file together with any journal sqlite left beside it.
    void dropDatabase();
    // Rounds up to whole pages and refuses to go below the pages in use. The handler is not called
    // when the file cannot be opened.
    void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler);

    // Result of enabling URI file names for the process, done once before any connection.
    static int configureSQLite();
    static sqlite3* openDatabaseAtFileURL(const std::filesystem::path& fileURL, int* result);
    // Prepares, binds and runs `block` on the statement; the result is the block's, or the first
    // failure of preparing or binding.
    static int executeQuery(const std::string& query, sqlite3* database,
                            const DIZStorageBindableArray& values,
                            const std::function<int(sqlite3_stmt*)>& block);
    static int executeNonSelectionQueryInOpenedDatabase(const std::string& query, sqlite3* database,
                                                        const DIZStorageBindableArray& values = {});
    // Runs a prepared statement once and resets it, so it can run again; 0 when it completed.
    static int stepNonSelection(sqlite3_stmt* statement, sqlite3* database);
    static DIZStorageRows executeSelectionQueryInOpenedDatabase(const std::string& query, sqlite3* database,
                                                                int* result = nullptr,
                                                                const DIZStorageBindableArray& values = {});
    static Value columnValueFromStatement(sqlite3_stmt* statement, int index);
    static std::string columnsQueryFromColumnsSchema(const DIZColumnsSchema& columns);
    static int createTablesWithSchema(const DIZSchema& schema, sqlite3* database);
    static DIZColumnsIndexes columnsIndexes(const DIZSchema& schema);
    static bool tableExists(const std::string& table, sqlite3* database, int* result = nullptr);
    static uint32_t versionInOpenedDatabase(sqlite3* database, int* result);
    static int setVersion(uint32_t version, sqlite3* database);
    static void enableAutoVacuumInOpenedDatabase(sqlite3* database);
    static int64_t getPageSizeInOpenedDatabase(sqlite3* database);
    static int64_t getPageCountInOpenedDatabase(sqlite3* database);
    static int64_t getMaxPageCountInOpenedDatabase(sqlite3* database);
    // First column of the first row; 0 when there is none.
    static int64_t querySingleValue(const std::string& query, sqlite3* database, int* result = nullptr);
    // sqlite keeps at least the pages in use; `effectivePageCount` receives the cap it kept.
    static int setMaxPageCount(int64_t pageCount, sqlite3* database, int64_t* effectivePageCount = nullptr);
    // `name` in double quotes, inner double quotes doubled.
    static std::string quotedIdentifier(const std::string& name);

  protected:
    // For subclasses, which call initWithSchema from their own constructor so that the hooks
    // below reach their overrides.
    DIZDBStorage() = default;
    void initWithSchema(std::optional<DIZSchema> schema, uint32_t version, const std::string& filename);

    // Called once, on the configuration's connection, when the file was created.
    virtual void customizeDatabase(sqlite3* database);
    // Called on the configuration's connection when the stored version is older than the requested;
    // a non-zero result fails the configuration and leaves the stored version in place.
    virtual int migrateDatabase(sqlite3* database, uint32_t fromVersion);
    // Called on the configuration's connection once the tables are in place; a non-zero result
    // fails the configuration, and SQLITE_CORRUPT has the file dropped and created once more.
    virtual int validateDatabase(sqlite3* database);

    // The page cap in force on the connection of the operation that is running.
    int64_t appliedMaxPageCount() const { return appliedMaxPageCount_; }

  private:
    std::filesystem::path dbFileURL_;
    int64_t maxSizeInBytes_ = kDefaultMaxSizeInBytes;
    int64_t pageSize_ = 0;
    int64_t appliedMaxPageCount_ = 0;
    std::optional<DIZSchema> schema_;
};
