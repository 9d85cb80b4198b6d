#include "DudIzizoz/Internals/Storage/DIZDBStorage.h"

#include <sqlite3.h>

#include <mutex>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

namespace {

// Long enough to outlast another process's operation on the file (each one is a short
// transaction), so a second instance of the agent makes this one wait instead of fail.
constexpr int kBusyTimeoutMilliseconds = 5000;

// Runs before main, ahead of any connection of this process, as the setting requires.
const int gConfigureSQLiteResult = DIZDBStorage::configureSQLite();

void logGlobalConfigurationResultOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (gConfigureSQLiteResult == SQLITE_OK) {
            DIZLogDebug(kDIZLogTag, "SQLite global configuration successfully updated.");
        } else {
            DIZLogError(kDIZLogTag, "Failed to update SQLite global configuration. Error: %@.",
                        sqlite3_errstr(gConfigureSQLiteResult));
        }
    });
}

// "file://" and the absolute path with every byte outside the unreserved set and "/"
// percent-encoded, so "?", "#" and "%" in a directory name cannot turn into URI syntax. A relative
// path would make its first component the URI's authority, which sqlite refuses.
std::string fileURIForPath(const std::filesystem::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    std::string uri = "file://";
    for (unsigned char c : (ec ? path : absolute).string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0xF];
        }
    }
    return uri;
}

void closeDatabase(sqlite3* database) {
    const int result = sqlite3_close(database);
    if (result != SQLITE_OK) {
        DIZLogError(kDIZLogTag, "Failed to close database, result=%d\n\t%@", result, sqlite3_errstr(result));
    }
}

bool isCorruptionResult(int result) {
    return result == SQLITE_CORRUPT || result == SQLITE_NOTADB;
}

// Each connection lives for one operation, so in the default mode the journal is created and
// deleted for every write: two changes of the directory that the file system has to commit. Kept,
// only its header is zeroed at commit. A kept journal would also keep the size of the largest
// transaction (a vacuum journals the whole file), so it is cut back after one that grew it past a
// size no single log's save reaches. A connection left in the default mode is only slower.
void keepJournalBetweenTransactions(sqlite3* database) {
    sqlite3_exec(database, "PRAGMA journal_mode = PERSIST; PRAGMA journal_size_limit = 1048576", nullptr,
                 nullptr, nullptr);
}

}  // namespace

DIZDBStorage::DIZDBStorage(std::optional<DIZSchema> schema, uint32_t version, const std::string& filename) {
    initWithSchema(std::move(schema), version, filename);
}

DIZDBStorage::DIZDBStorage(uint32_t version, const std::string& filename)
    : DIZDBStorage(std::nullopt, version, filename) {}

void DIZDBStorage::initWithSchema(std::optional<DIZSchema> schema, uint32_t version,
                                  const std::string& filename) {
    schema_ = std::move(schema);
    logGlobalConfigurationResultOnce();
    int result = configureDatabaseWithSchema(schema_, version, filename);
    if (isCorruptionResult(result)) {
        dropDatabase();
        result = configureDatabaseWithSchema(schema_, version, filename);
    }
    if (result != SQLITE_OK) DIZLogError(kDIZLogTag, "Failed to initialize database.");
}

int DIZDBStorage::configureDatabaseWithSchema(const std::optional<DIZSchema>& schema, uint32_t version,
                                              const std::string& filename) {
    const bool existed = DIZUtility::fileExistsForPathComponent(filename);
    auto fileURL = DIZUtility::createFileAtPathComponent(filename, std::nullopt, false, false);
    if (!fileURL) return SQLITE_CANTOPEN;
    // Absolute, so the store stays on its file whatever the working directory becomes.
    std::error_code ec;
    dbFileURL_ = std::filesystem::absolute(*fileURL, ec);
    if (ec) dbFileURL_ = *fileURL;
    maxSizeInBytes_ = kDefaultMaxSizeInBytes;

    int result = SQLITE_OK;
    sqlite3* database = openDatabaseAtFileURL(dbFileURL_, &result);
    if (!database) return result;

    pageSize_ = getPageSizeInOpenedDatabase(database);
    if (pageSize_ == 0) {
        DIZLogError(kDIZLogTag, "Failed to get storage page size.");
        closeDatabase(database);
        return SQLITE_ERROR;
    }

    const uint32_t storedVersion = versionInOpenedDatabase(database, &result);
    if (result != SQLITE_OK) {
        closeDatabase(database);
        return result;
    }

    if (schema) {
        result = createTablesWithSchema(*schema, database);
        if (result != SQLITE_OK) {
            DIZLogError(kDIZLogTag, "Failed to create tables with schema with error \"%d\".", result);
            closeDatabase(database);
            return result;
        }
    }

    if (existed) {
        if (storedVersion < version) {
            DIZLogInfo(kDIZLogTag, "Migrating \"%@\" database from version %lu to %lu.", filename,
                       storedVersion, version);
            // The old version stays in the header, so the next start migrates again: a version
            // written over a failed migration would mark the old tables as current for good.
            result = migrateDatabase(database, storedVersion);
            if (result != SQLITE_OK) {
                DIZLogError(kDIZLogTag, "Failed to migrate \"%@\" database, result=%d.", filename, result);
                closeDatabase(database);
                return result;
            }
        }
    } else {
        DIZLogInfo(kDIZLogTag, "Created \"%@\" database with %lu version.", filename, version);
        customizeDatabase(database);
    }

    result = validateDatabase(database);
    if (result != SQLITE_OK) {
        closeDatabase(database);
        return result;
    }

    enableAutoVacuumInOpenedDatabase(database);
    // A version that failed to reach the header would make the next start migrate, and a
    // migration may drop the stored rows: report it instead.
    result = setVersion(version, database);
    closeDatabase(database);
    return result;
}

int DIZDBStorage::executeQueryUsingBlock(const std::function<int(sqlite3*)>& block) {
    int result = SQLITE_OK;
    sqlite3* database = openDatabaseAtFileURL(dbFileURL_, &result);
    if (!database) return result;
    if (pageSize_ == 0) {
        DIZLogError(kDIZLogTag,
                    "The database was not configured correctly. The page size is expected to be non zero.");
        closeDatabase(database);
        return SQLITE_ERROR;
    }
    result = setMaxPageCount(maxSizeInBytes_ / pageSize_, database, &appliedMaxPageCount_);
    if (isCorruptionResult(result)) {
        closeDatabase(database);
        return result;
    }
    if (result != SQLITE_OK) {
        DIZLogError(kDIZLogTag, "Failed to open database with specified maximum size constraint.");
    }
    result = block(database);
    closeDatabase(database);
    return result;
}

int DIZDBStorage::executeNonSelectionQuery(const std::string& query, const DIZStorageBindableArray& values) {
    return executeQueryUsingBlock(
        [&](sqlite3* database) { return executeNonSelectionQueryInOpenedDatabase(query, database, values); });
}

DIZStorageRows DIZDBStorage::executeSelectionQuery(const std::string& query,
                                                   const DIZStorageBindableArray& values) {
    DIZStorageRows rows;
    executeQueryUsingBlock([&](sqlite3* database) {
        int result = SQLITE_OK;
        rows = executeSelectionQueryInOpenedDatabase(query, database, &result, values);
        return result;
    });
    return rows;
}

uint64_t DIZDBStorage::countEntriesForTable(const std::string& table, const std::string& condition,
                                            const DIZStorageBindableArray& values) {
    std::string query = "SELECT COUNT(*) FROM " + quotedIdentifier(table) + " ";
    if (!condition.empty()) query += "WHERE " + condition;
    const DIZStorageRows rows = executeSelectionQuery(query, values);
    if (rows.empty() || rows[0].empty()) return 0;
    return static_cast<uint64_t>(rows[0][0].integerOr(0));
}

bool DIZDBStorage::createTable(const std::string& table, const DIZColumnsSchema& columns) {
    const int result = executeQueryUsingBlock([&](sqlite3* database) {
        if (tableExists(table, database)) return SQLITE_OK;
        const std::string query =
            "CREATE TABLE " + quotedIdentifier(table) + " (" + columnsQueryFromColumnsSchema(columns) + ");";
        const int created = executeNonSelectionQueryInOpenedDatabase(query, database);
        if (created == SQLITE_OK) {
            DIZLogVerbose(kDIZLogTag, "Table %@ has been created", table);
        } else {
            DIZLogError(kDIZLogTag, "Failed to create table %@", table);
        }
        return created;
    });
    return result == SQLITE_OK;
}

bool DIZDBStorage::dropTable(const std::string& table) {
    const int result = executeQueryUsingBlock([&](sqlite3* database) {
        if (!tableExists(table, database)) return SQLITE_OK;
        const int dropped =
            executeNonSelectionQueryInOpenedDatabase("DROP TABLE " + quotedIdentifier(table) + ";", database);
        if (dropped == SQLITE_OK) {
            DIZLogVerbose(kDIZLogTag, "Table %@ has been deleted", table);
        } else {
            DIZLogError(kDIZLogTag, "Failed to delete table %@", table);
        }
        return dropped;
    });
    return result == SQLITE_OK;
}

void DIZDBStorage::dropDatabase() {
    if (dbFileURL_.empty()) return;
    // A journal left beside a dropped file would be rolled back into the new one and corrupt it.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::remove(dbFileURL_.string() + suffix, ignored);
    }
    if (DIZUtility::deleteFileAtURL(dbFileURL_)) {
        DIZLogVerbose(kDIZLogTag, "Database %@ has been deleted.", fileURIForPath(dbFileURL_));
    } else {
        DIZLogError(kDIZLogTag, "Failed to delete database.");
    }
}

void DIZDBStorage::setMaxStorageSize(int64_t sizeInBytes,
                                     const std::function<void(bool)>& completionHandler) {
    int result = SQLITE_OK;
    sqlite3* database = openDatabaseAtFileURL(dbFileURL_, &result);
    if (!database) return;
    const auto finish = [&](bool success) {
        closeDatabase(database);
        if (completionHandler) completionHandler(success);
    };
    if (pageSize_ == 0) {
        DIZLogError(kDIZLogTag,
                    "The database was not configured correctly. The page size is expected to be non zero.");
        return finish(false);
    }

    const int64_t currentPageCount = getPageCountInOpenedDatabase(database);
    DIZLogDebug(kDIZLogTag, "Found %ld pages in the database.", currentPageCount);
    const int64_t requestedPages = sizeInBytes / pageSize_ + (sizeInBytes % pageSize_ > 0 ? 1 : 0);
    if (requestedPages < currentPageCount) {
        DIZLogWarning(
            kDIZLogTag,
            "Cannot change database size to %ld bytes as it would cause a loss of data. Maximum database "
            "size will not be changed.",
            sizeInBytes);
        return finish(false);
    }

    result = setMaxPageCount(requestedPages, database);
    if (result != SQLITE_OK) {
        DIZLogError(kDIZLogTag, "Could not change maximum database size to %ld bytes. SQLite error code: %i",
                    sizeInBytes, result);
        return finish(false);
    }

    const int64_t maxPageCount = getMaxPageCountInOpenedDatabase(database);
    const int64_t effectiveBytes = maxPageCount * pageSize_;
    if (maxPageCount != requestedPages) {
        DIZLogError(kDIZLogTag,
                    "Could not change maximum database size to %ld bytes, current maximum size is %ld bytes.",
                    sizeInBytes, effectiveBytes);
        return finish(false);
    }
    if (effectiveBytes == sizeInBytes) {
        DIZLogInfo(kDIZLogTag, "Changed maximum database size to %ld bytes.", sizeInBytes);
    } else {
        DIZLogInfo(kDIZLogTag, "Changed maximum database size to %ld bytes (next multiple of 4KiB).",
                   effectiveBytes);
    }
    maxSizeInBytes_ = effectiveBytes;
    finish(true);
}

void DIZDBStorage::customizeDatabase(sqlite3*) {}

int DIZDBStorage::migrateDatabase(sqlite3*, uint32_t) {
    return SQLITE_OK;
}

int DIZDBStorage::validateDatabase(sqlite3*) {
    return SQLITE_OK;
}

int DIZDBStorage::configureSQLite() {
    return sqlite3_config(SQLITE_CONFIG_URI, 1);
}

sqlite3* DIZDBStorage::openDatabaseAtFileURL(const std::filesystem::path& fileURL, int* result) {
    sqlite3* database = nullptr;
    // An empty name would silently open a private temporary database instead of the file.
    int opened = SQLITE_CANTOPEN;
    if (!fileURL.empty()) {
        opened = sqlite3_open_v2(fileURIForPath(fileURL).c_str(), &database,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    }
    if (result) *result = opened;
    if (opened != SQLITE_OK) {
        DIZLogError(kDIZLogTag, "Failed to open database with result: %d.", opened);
        if (database) sqlite3_close(database);
        return nullptr;
    }
    sqlite3_busy_timeout(database, kBusyTimeoutMilliseconds);
    keepJournalBetweenTransactions(database);
    return database;
}

int DIZDBStorage::executeQuery(const std::string& query, sqlite3* database,
                               const DIZStorageBindableArray& values,
                               const std::function<int(sqlite3_stmt*)>& block) {
    sqlite3_stmt* statement = nullptr;
    int result =
        sqlite3_prepare_v2(database, query.c_str(), static_cast<int>(query.size()) + 1, &statement, nullptr);
    if (result != SQLITE_OK) {
        DIZLogError(kDIZLogTag, "Failed to prepare SQLite statement, result=%d\n\t%@", result,
                    sqlite3_errmsg(database));
        return result;
    }
    if (!statement) return SQLITE_OK;  // only whitespace or comments: nothing to run
    result = values.bindAllValuesWithStatement(statement, database);
    if (result == SQLITE_OK) result = block(statement);
    const int finalized = sqlite3_finalize(statement);
    if (finalized != SQLITE_OK) {
        DIZLogError(kDIZLogTag, "Failed to finalize SQLite statement, result=%d\n\t%@", finalized,
                    sqlite3_errmsg(database));
    }
    return result;
}

int DIZDBStorage::executeNonSelectionQueryInOpenedDatabase(const std::string& query, sqlite3* database,
                                                           const DIZStorageBindableArray& values) {
    return executeQuery(query, database, values, [database](sqlite3_stmt* statement) {
        return stepNonSelection(statement, database);
    });
}

int DIZDBStorage::stepNonSelection(sqlite3_stmt* statement, sqlite3* database) {
    const int result = sqlite3_step(statement);
    // Reset at once: the statement can run again, and a pragma's unread row keeps no read lock.
    const auto reset = [statement] { sqlite3_reset(statement); };
    // A pragma that sets a value answers with a row holding the value it kept.
    if (result == SQLITE_DONE || result == SQLITE_ROW) {
        reset();
        return SQLITE_OK;
    }
    if (isCorruptionResult(result)) {
        DIZLogError(kDIZLogTag, "A database file is corrupted, result=%d\n\t%@", result,
                    sqlite3_errmsg(database));
    } else if (result == SQLITE_FULL) {
        DIZLogDebug(kDIZLogTag, "Query failed with error: %d\n\t%@", result, sqlite3_errmsg(database));
    } else {
        DIZLogError(kDIZLogTag, "Could not execute the statement, result=%d\n\t%@", result,
                    sqlite3_errmsg(database));
    }
    reset();
    return result;
}

DIZStorageRows DIZDBStorage::executeSelectionQueryInOpenedDatabase(const std::string& query,
                                                                   sqlite3* database, int* result,
                                                                   const DIZStorageBindableArray& values) {
    DIZStorageRows rows;
    const int code = executeQuery(query, database, values, [&](sqlite3_stmt* statement) {
        int stepped;
        while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) {
            DIZStorageRow row;
            const int count = sqlite3_column_count(statement);
            for (int i = 0; i < count; ++i) row.push_back(columnValueFromStatement(statement, i));
            if (!row.empty()) rows.push_back(std::move(row));
        }
        if (stepped == SQLITE_DONE) return SQLITE_OK;
        DIZLogError(kDIZLogTag, "Query failed with error: %d\n\t%@", stepped, sqlite3_errmsg(database));
        return stepped;
    });
    if (result) *result = code;
    return rows;
}

Value DIZDBStorage::columnValueFromStatement(sqlite3_stmt* statement, int index) {
    const int type = sqlite3_column_type(statement, index);
    switch (type) {
        case SQLITE_NULL:
            return Value();
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
            const int bytes = sqlite3_column_bytes(statement, index);
            return text ? Value(std::string(text, static_cast<size_t>(bytes))) : Value();
        }
        case SQLITE_INTEGER:
            return Value(static_cast<int64_t>(sqlite3_column_int64(statement, index)));
        default:
            DIZLogError(kDIZLogTag,
                        "Could not retrieve column value at index %d from statement: unknown type %d.", index,
                        type);
            return Value();
    }
}

std::string DIZDBStorage::columnsQueryFromColumnsSchema(const DIZColumnsSchema& columns) {
    std::string text;
    for (const auto& column : columns) {
        if (!text.empty()) text += ", ";
        text += quotedIdentifier(column.name);
        for (const auto& word : column.words) text += " " + word;
    }
    return text;
}

int DIZDBStorage::createTablesWithSchema(const DIZSchema& schema, sqlite3* database) {
    std::vector<std::string> statements;
    for (const auto& [table, columns] : schema) {
        int result = SQLITE_OK;
        const bool exists = tableExists(table, database, &result);
        if (result != SQLITE_OK) return result;
        if (exists) continue;
        statements.push_back("CREATE TABLE " + quotedIdentifier(table) + " (" +
                             columnsQueryFromColumnsSchema(columns) + ");");
    }
    for (const auto& statement : statements) {
        const int result = executeNonSelectionQueryInOpenedDatabase(statement, database);
        if (result != SQLITE_OK) return result;
    }
    return SQLITE_OK;
}

DIZColumnsIndexes DIZDBStorage::columnsIndexes(const DIZSchema& schema) {
    DIZColumnsIndexes indexes;
    for (const auto& [table, columns] : schema) {
        auto& tableIndexes = indexes[table];
        for (size_t i = 0; i < columns.size(); ++i) tableIndexes[columns[i].name] = i;
    }
    return indexes;
}

bool DIZDBStorage::tableExists(const std::string& table, sqlite3* database, int* result) {
    DIZStorageBindableArray values;
    values.addString(table);
    const DIZStorageRows rows = executeSelectionQueryInOpenedDatabase(
        "SELECT COUNT(*) FROM \"sqlite_master\" WHERE \"type\"='table' AND \"name\"=?;", database, result,
        values);
    return !rows.empty() && !rows[0].empty() && rows[0][0].integerOr(0) != 0;
}

uint32_t DIZDBStorage::versionInOpenedDatabase(sqlite3* database, int* result) {
    return static_cast<uint32_t>(querySingleValue("PRAGMA user_version", database, result));
}

int DIZDBStorage::setVersion(uint32_t version, sqlite3* database) {
    return executeNonSelectionQueryInOpenedDatabase("PRAGMA user_version = " + std::to_string(version),
                                                    database);
}

void DIZDBStorage::enableAutoVacuumInOpenedDatabase(sqlite3* database) {
    constexpr int64_t kAutoVacuumFull = 1;
    if (querySingleValue("PRAGMA auto_vacuum", database) == kAutoVacuumFull) return;
    DIZLogDebug(kDIZLogTag, "Vacuuming database and enabling auto_vacuum");
    executeNonSelectionQueryInOpenedDatabase("PRAGMA auto_vacuum = FULL;", database);
    executeNonSelectionQueryInOpenedDatabase("VACUUM;", database);
}

int64_t DIZDBStorage::getPageSizeInOpenedDatabase(sqlite3* database) {
    return querySingleValue("PRAGMA page_size;", database);
}

int64_t DIZDBStorage::getPageCountInOpenedDatabase(sqlite3* database) {
    return querySingleValue("PRAGMA page_count;", database);
}

int64_t DIZDBStorage::getMaxPageCountInOpenedDatabase(sqlite3* database) {
    return querySingleValue("PRAGMA max_page_count;", database);
}

int64_t DIZDBStorage::querySingleValue(const std::string& query, sqlite3* database, int* result) {
    const DIZStorageRows rows = executeSelectionQueryInOpenedDatabase(query, database, result);
    if (rows.empty() || rows[0].empty()) return 0;
    return rows[0][0].integerOr(0);
}

int DIZDBStorage::setMaxPageCount(int64_t pageCount, sqlite3* database, int64_t* effectivePageCount) {
    int result = SQLITE_OK;
    const int64_t kept =
        querySingleValue("PRAGMA max_page_count = " + std::to_string(pageCount), database, &result);
    if (effectivePageCount) *effectivePageCount = result == SQLITE_OK ? kept : 0;
    return result;
}

std::string DIZDBStorage::quotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}
