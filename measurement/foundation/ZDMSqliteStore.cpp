#include "measurement/foundation/ZDMSqliteStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "platform/foundation/FileAttributes.h"

namespace fs = std::filesystem;

namespace {
constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
static_assert(kOpenFlags == 0x10006);

constexpr const char* kIntegrityCheck = "PRAGMA integrity_check";
constexpr const char* kTableExistsQuery = "SELECT name FROM sqlite_master WHERE type='table' AND name=?";
// Companions a removed database must not leave behind: a stale hot journal would be replayed into
// the next file created under the same name.
constexpr const char* kCompanionSuffixes[] = {"", "-journal", "-wal"};

void logToMonitor(int64_t level, int64_t code, const std::string& message) {
    ZDMMonitor::sharedMonitor()->logWithLevel(level, code, message);
}

void logToMonitor(int64_t level, int64_t code, const std::string& message, const Value& context) {
    ZDMMonitor::sharedMonitor()->logWithLevel(level, code, message, context);
}

Error fileSystemError(const std::string& what, const fs::path& path, int number) {
    const int64_t code = number == ENOENT || number == ENOTDIR ? FileAttributes::kFileNoSuchFileError
                                                               : FileAttributes::kFileWriteUnknownError;
    return Error(kFoundationErrorDomain, code,
                 what + " " + path.string() + ": " + std::generic_category().message(number));
}

bool isBindable(const Value& value) {
    return value.isNull() || value.isNumber() || value.isString() || value.isData();
}

bool containsWhereInAnyCase(const std::string& query) {
    static constexpr std::string_view kWhere = "where";
    auto it = std::search(query.begin(), query.end(), kWhere.begin(), kWhere.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return it != query.end();
}

bool beginsWithSelectInAnyCase(const std::string& query) {
    static constexpr std::string_view kSelect = "select";
    if (query.size() < kSelect.size()) return false;
    return std::equal(kSelect.begin(), kSelect.end(), query.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::string firstWord(const std::string& text) {
    const size_t blank = text.find(' ');
    return blank == std::string::npos ? text : text.substr(0, blank);
}

// floor(log10(n)) for n >= 1, counted in digits so that no rounding moves a power of ten.
int floorLog10(uint64_t n) {
    int exponent = 0;
    while (n >= 10) {
        n /= 10;
        ++exponent;
    }
    return exponent;
}

std::string joined(const std::vector<std::string>& names, const char* separator) {
    std::string out;
    for (const auto& name : names) {
        if (!out.empty()) out += separator;
        out += name;
    }
    return out;
}

// Hands a statement back to the store on every path out of the operation that took it.
class StatementLease {
  public:
    StatementLease(ZDMSqliteStore& store, std::string query, sqlite3_stmt* statement)
        : store_(store), query_(std::move(query)), statement_(statement) {}
    ~StatementLease() {
        if (statement_) store_.cleanUpStatement(statement_, query_);
    }
    StatementLease(const StatementLease&) = delete;
    StatementLease& operator=(const StatementLease&) = delete;
    sqlite3_stmt* get() const { return statement_; }
    explicit operator bool() const { return statement_ != nullptr; }

  private:
    ZDMSqliteStore& store_;
    const std::string query_;
    sqlite3_stmt* const statement_;
};

struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using OwnedStatement = std::unique_ptr<sqlite3_stmt, Finalizer>;
}  // namespace

ZDMSqliteStore::ZDMSqliteStore(std::string path) : databasePath_(std::move(path)) {}

ZDMSqliteStore::~ZDMSqliteStore() {
    closeDatabase();
}

std::unique_ptr<ZDMSqliteStore> ZDMSqliteStore::make(const std::string& path, Error* error) {
    if (!ZDMCheckLengthOrSetError(path.size(), error, 1, "Received empty database path on init"))
        return nullptr;
    std::unique_ptr<ZDMSqliteStore> store(new ZDMSqliteStore(path));
    Error attempt;
    if (store->openAndValidateDatabase(&attempt)) return store;
    if (store->closeAndDeleteDatabase()) {
        attempt = Error();
        if (store->openAndValidateDatabase(&attempt)) return store;
    }
    setError(error, std::move(attempt));
    return nullptr;
}

bool ZDMSqliteStore::openAndValidateDatabase(Error* error) {
    const fs::path path(databasePath_);
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        if (FileAttributes::isImmutable(path) && !FileAttributes::setImmutable(path, false, error))
            return false;
    } else if (errno != ENOENT && errno != ENOTDIR) {
        setError(error, fileSystemError("Could not read the attributes of", path, errno));
        return false;
    } else if (path.has_parent_path()) {
        std::error_code failure;
        fs::create_directories(path.parent_path(), failure);
        if (failure) {
            setError(error, fileSystemError("Could not create the directory of", path, failure.value()));
            return false;
        }
    }

    const int opened = sqlite3_open_v2(databasePath_.c_str(), &sqliteHandle_, kOpenFlags, nullptr);
    if (opened != SQLITE_OK) {
        setDatabaseError(error, "initialize sqlite handle");
        closeDatabase();
        return false;
    }

    Error backupError;
    if (!ZDMExcludePathFromBackup(databasePath_, &backupError))
        logToMonitor(4, 34017, "Failed to exclude database file from backup",
                     ErrorObject::value(std::move(backupError)));

    if (!validateDatabaseWithError(error)) {
        closeDatabase();
        return false;
    }
    return true;
}

bool ZDMSqliteStore::validateDatabaseWithError(Error* error) {
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Validate database failed. Database not open."))
        return false;
    sqlite3_stmt* raw = nullptr;
    // A file of foreign bytes already fails here, at the first read of its header.
    const int prepared = sqlite3_prepare_v2(sqliteHandle_, kIntegrityCheck, -1, &raw, nullptr);
    OwnedStatement statement(raw);
    bool valid = prepared == SQLITE_OK && statement && sqlite3_step(statement.get()) == SQLITE_ROW &&
                 sqlite3_column_count(statement.get()) == 1;
    if (valid) {
        const auto text = valueAtColumn(0, statement.get());
        valid = text && text->isString() && *text->asString() == "ok";
    }
    if (!valid) setDatabaseError(error, "validate database");
    return valid;
}

void ZDMSqliteStore::closeDatabase() {
    if (!isOpen()) return;
    finalizeAndClearStatements();
    const int closed = sqlite3_close(sqliteHandle_);
    if (closed != SQLITE_OK)
        logToMonitor(1, 34018, "Failed to close database. Got error code", Value(closed));
    sqliteHandle_ = nullptr;
}

void ZDMSqliteStore::finalizeAndClearStatements() {
    for (auto& [query, statement] : statementCache_) sqlite3_finalize(statement);
    statementCache_.clear();
}

bool ZDMSqliteStore::closeAndDeleteDatabase() {
    closeDatabase();
    bool deleted = true;
    for (const char* suffix : kCompanionSuffixes) {
        const fs::path file(databasePath_ + suffix);
        struct stat status {};
        if (::lstat(file.c_str(), &status) != 0) continue;
        FileAttributes::setImmutable(file, false);
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
            logToMonitor(1, 34019, "Failed to delete database. Error",
                         ErrorObject::value(fileSystemError("Could not remove", file, errno)));
            deleted = false;
        }
    }
    return deleted;
}

// MARK: Statements

sqlite3_stmt* ZDMSqliteStore::statementForQuery(const std::string& query, Error* error) {
    return statementForQuery(query, {}, error);
}

sqlite3_stmt* ZDMSqliteStore::statementForQuery(const std::string& query, const Value::Array& parameterValues,
                                                Error* error) {
    if (auto cached = statementCache_.find(query); cached != statementCache_.end()) {
        sqlite3_stmt* statement = cached->second;
        if (!parameterValues.empty() && !bindValues(parameterValues, statement, error)) {
            cleanUpStatement(statement, query);
            return nullptr;
        }
        return statement;
    }
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Statement for query failed. Database not open."))
        return nullptr;
    const bool hasMarkers = query.find('?') != std::string::npos;
    if (hasMarkers &&
        !ZDMCheckLengthOrSetError(parameterValues.size(), error, 1, "Received empty parameters"))
        return nullptr;
    // Literal conditions would grow the cache with every distinct value.
    const bool cacheable = hasMarkers || !containsWhereInAnyCase(query);
    sqlite3_stmt* statement = prepareSQL(query, error);
    if (!statement) return nullptr;
    if (cacheable) statementCache_[query] = statement;
    if (!parameterValues.empty() && !bindValues(parameterValues, statement, error)) {
        cleanUpStatement(statement, query);
        return nullptr;
    }
    return statement;
}

void ZDMSqliteStore::cleanUpStatement(sqlite3_stmt* statement, const std::string& query) {
    if (!statement) return;
    const auto cached = statementCache_.find(query);
    if (cached == statementCache_.end()) {
        sqlite3_finalize(statement);
        return;
    }
    if (cached->second != statement) {
        logToMonitor(5, 34016, "Statement is not the same one in the cache");
        // Not the cache's to keep: a statement left unfinalized would also make the close fail.
        sqlite3_finalize(statement);
        return;
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

sqlite3_stmt* ZDMSqliteStore::prepareSQL(const std::string& sql, Error* error) {
    if (!ZDMCheckLengthOrSetError(sql.size(), error, 1, "Received empty SQL string to prepare"))
        return nullptr;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Prepare SQL failed. Database not open."))
        return nullptr;
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int prepared = sqlite3_prepare_v2(sqliteHandle_, sql.c_str(), -1, &raw, &tail);
    OwnedStatement statement(raw);
    if (prepared != SQLITE_OK) {
        setDatabaseError(error, "prepare statement");
        return nullptr;
    }
    if (tail && *tail != '\0') {
        ZDMSetError(error, 1, "Query contained more than one SQL statement.");
        return nullptr;
    }
    return statement.release();
}

bool ZDMSqliteStore::executeSQL(const std::string& sql, Error* error) {
    if (!ZDMCheckLengthOrSetError(sql.size(), error, 1, "Received empty SQL string to execute")) return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Execute SQL failed. Database not open."))
        return false;
    sqlite3_stmt* statement = prepareSQL(sql, error);
    return statement && executeSQLStatement(statement, error);
}

bool ZDMSqliteStore::executeSQLStatement(sqlite3_stmt* raw, Error* error) {
    if (!ZDMCheckHandleOrSetError(raw, error, 1, "Execute SQL statement failed. Statement is NULL."))
        return false;
    OwnedStatement statement(raw);
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Execute SQL statement failed. Database not open."))
        return false;
    const bool done = sqlite3_step(statement.get()) == SQLITE_DONE;
    if (!done) setDatabaseError(error, "execute statement");
    return done;
}

bool ZDMSqliteStore::bindValues(const Value::Array& values, sqlite3_stmt* statement, Error* error) {
    if (!ZDMCheckHandleOrSetError(statement, error, 1, "Failed to bind to NULL statement")) return false;
    sqlite3_clear_bindings(statement);
    bool bound = true;
    for (size_t i = 0; i < values.size(); ++i)
        bound = bindValue(values[i], static_cast<int>(i + 1), statement, error) && bound;
    return bound;
}

bool ZDMSqliteStore::bindValue(const Value& value, int position, sqlite3_stmt* statement, Error* error) {
    int result = SQLITE_MISMATCH;
    if (value.isNull()) {
        result = sqlite3_bind_null(statement, position);
    } else if (value.isReal()) {
        result = sqlite3_bind_double(statement, position, *value.asReal());
    } else if (value.isNumber()) {
        result = sqlite3_bind_int64(statement, position, *value.asInteger());
    } else if (const std::string* text = value.asString()) {
        result = sqlite3_bind_text64(statement, position, text->data(), text->size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
    } else if (const Data* data = value.asData()) {
        // A null pointer would bind NULL; an empty buffer stays a zero-length blob.
        static const uint8_t kNoBytes = 0;
        result = sqlite3_bind_blob64(statement, position, data->empty() ? &kNoBytes : data->data(),
                                     data->size(), SQLITE_STATIC);
    }
    if (result == SQLITE_OK) return true;
    setDatabaseError(error, "bind values");
    return false;
}

std::optional<Value> ZDMSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) {
    if (!statement) return std::nullopt;
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            return Value(static_cast<int64_t>(sqlite3_column_int64(statement, column)));
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(statement, column));
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            if (!text) return std::nullopt;
            return Value(std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column))));
        }
        case SQLITE_BLOB: {
            const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
            if (!bytes) return std::nullopt;
            return Value(Data(bytes, bytes + sqlite3_column_bytes(statement, column)));
        }
        case SQLITE_NULL:
            return Value();
        default:
            return std::nullopt;
    }
}

// MARK: Schema

bool ZDMSqliteStore::ensureTableWithName(const std::string& table, const ColumnInfo& elementaryColumnInfo,
                                         const ColumnInfo& addOnColumnInfo,
                                         const std::map<std::string, std::string>& modifyColumnInfo,
                                         Error* error) {
    if (!ensureTableWithName(table, elementaryColumnInfo, addOnColumnInfo, error)) return false;
    if (modifyColumnInfo.empty()) return true;
    const auto rewritten = [&](const ColumnInfo& columns) {
        ColumnInfo out = columns;
        for (auto& [name, type] : out)
            if (auto modified = modifyColumnInfo.find(name); modified != modifyColumnInfo.end())
                type = modified->second;
        return out;
    };
    return ensureSchemaOfTableWithName(table, rewritten(elementaryColumnInfo), rewritten(addOnColumnInfo),
                                       error);
}

bool ZDMSqliteStore::ensureTableWithName(const std::string& table, const ColumnInfo& elementaryColumnInfo,
                                         const ColumnInfo& addOnColumnInfo, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for ensure table"))
        return false;
    if (!ZDMCheckLengthOrSetError(elementaryColumnInfo.size(), error, 1,
                                  "Received empty elementary column info for ensure table"))
        return false;
    // The "PRIMARY KEY" pair is written like a column and so becomes the table constraint.
    std::string createSQL = "CREATE TABLE IF NOT EXISTS " + table + " ( ";
    for (const auto& [name, type] : elementaryColumnInfo) createSQL += name + " " + type + ", ";
    createSQL.replace(createSQL.size() - 2, 2, ");");

    ColumnInfo addOnStatements;
    for (const auto& [name, type] : addOnColumnInfo)
        if (!name.empty())
            addOnStatements.emplace_back(name, "ALTER TABLE " + table + " ADD COLUMN " + name + " " + type);

    std::vector<std::string> required;
    for (const auto& [name, type] : elementaryColumnInfo)
        if (name != kPrimaryKey) required.push_back(name);
    return ensureTableWithName(table, createSQL, required, addOnStatements, error);
}

bool ZDMSqliteStore::ensureTableWithName(const std::string& table, const std::string& createSQL,
                                         const std::vector<std::string>& requiredColumnNames,
                                         const ColumnInfo& addOnColumns, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for ensure table"))
        return false;
    if (!ZDMCheckLengthOrSetError(requiredColumnNames.size(), error, 1,
                                  "Received no table columns for ensure table"))
        return false;
    if (!ZDMCheckLengthOrSetError(createSQL.size(), error, 1,
                                  "Received empty create statement for ensure table"))
        return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Ensure table failed. Database not open."))
        return false;
    const auto exists = tableExists(table, error);
    if (!exists) return false;
    if (!*exists && !executeSQL(createSQL, error)) return false;
    return validateTableWithName(table, requiredColumnNames, addOnColumns, error).value_or(false);
}

std::optional<bool> ZDMSqliteStore::validateTableWithName(const std::string& table,
                                                          const std::vector<std::string>& requiredColumnNames,
                                                          const ColumnInfo& addOnColumns, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for validate table"))
        return std::nullopt;
    if (!ZDMCheckLengthOrSetError(requiredColumnNames.size(), error, 1,
                                  "Received no table columns for validate table"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Validate table failed. Database not open."))
        return std::nullopt;
    const auto columns = columnsForTableWithName(table, error);
    if (!columns || columns->empty()) return std::nullopt;

    std::set<std::string> leftOver(columns->begin(), columns->end());
    for (const auto& name : requiredColumnNames) {
        if (!leftOver.count(name)) {
            ZDMSetError(error, 2, "Table is missing required columns");
            return false;
        }
    }
    for (const auto& name : requiredColumnNames) leftOver.erase(name);
    for (const auto& [name, statement] : addOnColumns) {
        if (leftOver.erase(name) == 0 && !executeSQL(statement, error)) return false;
    }
    if (leftOver.empty()) return true;

    const std::string query = "PRAGMA table_info(" + table + ")";
    StatementLease statement(*this, query, statementForQuery(query, error));
    if (!statement) return false;
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        const auto name = valueAtColumn(1, statement.get());
        if (name && name->isString() && leftOver.count(*name->asString()) &&
            sqlite3_column_int64(statement.get(), 3) != 0) {
            ZDMSetError(error, 2, "Table contains unknown non-optional columns");
            return false;
        }
    }
    if (stepped != SQLITE_DONE) {
        setDatabaseError(error, "validate table");
        return false;
    }
    return true;
}

std::optional<bool> ZDMSqliteStore::tableExists(const std::string& table, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for table exists"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Table exists failed. Database not open."))
        return std::nullopt;
    OwnedStatement statement(prepareSQL(kTableExistsQuery, error));
    if (!statement || !bindValues({Value(table)}, statement.get(), error)) return std::nullopt;
    const int stepped = sqlite3_step(statement.get());
    if (stepped == SQLITE_ROW) return true;
    if (stepped == SQLITE_DONE) return false;
    setDatabaseError(error, "table exists");
    return std::nullopt;
}

std::optional<std::vector<std::string>> ZDMSqliteStore::columnsForTableWithName(const std::string& table,
                                                                                Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for get columns"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Get table columns failed. Database not open."))
        return std::nullopt;
    const std::string query = "PRAGMA table_info(" + table + ")";
    StatementLease statement(*this, query, statementForQuery(query, error));
    if (!statement) return std::nullopt;
    std::vector<std::string> names;
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        const auto name = valueAtColumn(1, statement.get());
        if (name && name->isString() && !name->asString()->empty()) names.push_back(*name->asString());
    }
    if (stepped != SQLITE_DONE) {
        setDatabaseError(error, "get table columns");
        return std::nullopt;
    }
    return names;
}

std::optional<std::map<std::string, std::string>> ZDMSqliteStore::columnInfoForTableWithName(
    const std::string& table, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for column info"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Get table column info failed. Database not open."))
        return std::nullopt;
    const std::string query = "PRAGMA table_info(" + table + ")";
    StatementLease statement(*this, query, statementForQuery(query, error));
    if (!statement) return std::nullopt;
    std::map<std::string, std::string> info;
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        const auto name = valueAtColumn(1, statement.get());
        const auto type = valueAtColumn(2, statement.get());
        if (name && name->isString() && !name->asString()->empty() && type && type->isString() &&
            !type->asString()->empty())
            info[*name->asString()] = *type->asString();
    }
    if (stepped != SQLITE_DONE) {
        setDatabaseError(error, "get table column info");
        return std::nullopt;
    }
    return info;
}

bool ZDMSqliteStore::ensureSchemaOfTableWithName(const std::string& table,
                                                 const ColumnInfo& elementaryColumnInfo,
                                                 const ColumnInfo& addOnColumnInfo, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1,
                                  "Received empty table name for ensure table schema"))
        return false;
    if (!ZDMCheckLengthOrSetError(elementaryColumnInfo.size(), error, 1,
                                  "Received empty column info for ensure table schema"))
        return false;
    const auto current = columnInfoForTableWithName(table, error);
    if (!current) return false;
    if (!ZDMCheckLengthOrSetError(current->size(), error, 2, "Table does not exist for ensure table schema"))
        return false;

    // The table reports a column's type name without its constraints: "REAL NOT NULL" reads "REAL".
    std::map<std::string, std::string> expected;
    for (const auto& [name, type] : elementaryColumnInfo)
        if (name != kPrimaryKey && !name.empty() && !type.empty()) expected[name] = firstWord(type);
    for (const auto& [name, type] : addOnColumnInfo)
        if (!name.empty() && !type.empty()) expected[name] = type;
    if (*current == expected) return true;

    const std::string oldTable = table + "_old";
    Error stepError;
    Error transactionError;
    const bool rebuilt = performTransactionWithError(&transactionError, [&] {
        return renameTable(table, oldTable, &stepError) &&
               ensureTableWithName(table, elementaryColumnInfo, addOnColumnInfo, &stepError) &&
               copyContentsFromTable(oldTable, table, &stepError) && dropTableWithName(oldTable, &stepError);
    });
    if (!rebuilt) setError(error, transactionError.code != 0 ? transactionError : stepError);
    return rebuilt;
}

bool ZDMSqliteStore::dropTableWithName(const std::string& table, Error* error) {
    return executeSQL("DROP TABLE " + table, error);
}

bool ZDMSqliteStore::renameTable(const std::string& table, const std::string& newName, Error* error) {
    return executeSQL("ALTER TABLE " + table + " RENAME TO " + newName, error);
}

// By name, not by position: an older table may hold an accepted extra column or its add-on columns
// in another order, and a positional copy would fail or move values into the wrong columns.
bool ZDMSqliteStore::copyContentsFromTable(const std::string& source, const std::string& destination,
                                           Error* error) {
    const auto sourceColumns = columnsForTableWithName(source, error);
    if (!sourceColumns) return false;
    const auto destinationColumns = columnsForTableWithName(destination, error);
    if (!destinationColumns) return false;
    std::vector<std::string> shared;
    for (const auto& name : *destinationColumns)
        if (std::find(sourceColumns->begin(), sourceColumns->end(), name) != sourceColumns->end())
            shared.push_back(name);
    if (!ZDMCheckLengthOrSetError(shared.size(), error, 2, "Tables have no columns in common to copy"))
        return false;
    const std::string columns = joined(shared, ", ");
    return executeSQL(
        "INSERT INTO " + destination + " (" + columns + ") SELECT " + columns + " FROM " + source, error);
}

// MARK: Records

bool ZDMSqliteStore::upsertRecord(const Record& record, const std::string& table, Error* error) {
    if (!ZDMCheckLengthOrSetError(record.size(), error, 1, "Received empty record for upsert")) return false;
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for upsert"))
        return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Upsert record failed. Database not open."))
        return false;
    sqlite3_stmt* statement = upsertStatementForRecord(record, table, error);
    return statement && executeSQLStatement(statement, error);
}

sqlite3_stmt* ZDMSqliteStore::upsertStatementForRecord(const Record& record, const std::string& table,
                                                       Error* error) {
    std::string sql = "INSERT OR REPLACE INTO " + table + " (";
    for (const auto& [name, value] : record) {
        if (!isBindable(value)) {
            logToMonitor(4, 34020, "Record has value of unexpected type");
            return nullptr;
        }
        sql += name + ", ";
    }
    sql.replace(sql.size() - 2, 2, ") VALUES (");
    for (size_t i = 0; i < record.size(); ++i) sql += "?, ";
    sql.replace(sql.size() - 2, 2, ");");

    OwnedStatement statement(prepareSQL(sql, error));
    if (!statement) return nullptr;
    // Bound from the record itself: its blobs are not copied and the record outlives the step.
    bool bound = true;
    int position = 1;
    for (const auto& [name, value] : record)
        bound = bindValue(value, position++, statement.get(), error) && bound;
    return bound ? statement.release() : nullptr;
}

bool ZDMSqliteStore::updateRecord(const Record& record, const std::string& table,
                                  const std::string& columnName, const Value& columnValue, Error* error) {
    if (!ZDMCheckLengthOrSetError(record.size(), error, 1, "Empty record for update")) return false;
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Empty table name for update")) return false;
    if (!ZDMCheckLengthOrSetError(columnName.size(), error, 1, "Empty column name for update")) return false;
    if (!ZDMCheckObjectOrSetError(columnValue, error, 1, "Nil column value for update")) return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Update record failed. Database not open."))
        return false;
    sqlite3_stmt* statement = updateStatementForRecord(record, table, columnName, columnValue, error);
    return statement && executeSQLStatement(statement, error);
}

sqlite3_stmt* ZDMSqliteStore::updateStatementForRecord(const Record& record, const std::string& table,
                                                       const std::string& columnName,
                                                       const Value& columnValue, Error* error) {
    std::string assignments;
    for (const auto& [name, value] : record) {
        if (!isBindable(value)) {
            logToMonitor(4, 34021, "Record has value of unexpected type (update)");
            ZDMSetError(error, 1, "Failed to bind parameter of unexpected type to update statement");
            return nullptr;
        }
        assignments += name + "=?,";
    }
    assignments.pop_back();
    OwnedStatement statement(
        prepareSQL("UPDATE " + table + " SET " + assignments + " WHERE " + columnName + "=?", error));
    if (!statement) return nullptr;
    bool bound = true;
    int position = 1;
    for (const auto& [name, value] : record)
        bound = bindValue(value, position++, statement.get(), error) && bound;
    bound = bindValue(columnValue, position, statement.get(), error) && bound;
    return bound ? statement.release() : nullptr;
}

bool ZDMSqliteStore::updateAllRecordsInTableWithName(const std::string& table, const std::string& columnName,
                                                     const Value& columnValue, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Empty table name for update")) return false;
    if (!ZDMCheckLengthOrSetError(columnName.size(), error, 1, "Empty column name for update")) return false;
    if (!ZDMCheckObjectOrSetError(columnValue, error, 1, "Nil column value for update")) return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Update record failed. Database not open."))
        return false;
    const std::string query = "UPDATE " + table + " SET " + columnName + "=?";
    const Value::Array values{columnValue};
    StatementLease statement(*this, query, statementForQuery(query, values, error));
    if (!statement) return false;
    const bool done = sqlite3_step(statement.get()) == SQLITE_DONE;
    if (!done) setDatabaseError(error, "update all records value");
    return done;
}

bool ZDMSqliteStore::increaseColumn(const std::string& column, int64_t amount, const std::string& table,
                                    const std::string& condition, const Value::Array& parameterValues,
                                    Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Empty table name for increase column"))
        return false;
    if (!ZDMCheckLengthOrSetError(column.size(), error, 1, "Empty column name for increase column"))
        return false;
    if (!ZDMCheckLengthOrSetError(condition.size(), error, 1, "Empty condition for increase column"))
        return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Increase column failed. Database not open."))
        return false;
    const auto info = columnInfoForTableWithName(table, error);
    if (!info || !info->count(column)) {
        ZDMSetError(error, 1, "Invalid column or table name");
        return false;
    }
    std::string type = info->at(column);
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
    if (!ZDMCheckConditionOrSetError(type == "INTEGER", error, 1, "Column type is not integer."))
        return false;

    const std::string query = "UPDATE " + table + " SET " + column + " = " + column + " + " +
                              std::to_string(amount) + " WHERE " + condition;
    StatementLease statement(*this, query, statementForQuery(query, parameterValues, error));
    if (!statement) return false;
    const bool done = sqlite3_step(statement.get()) == SQLITE_DONE;
    if (!done) setDatabaseError(error, "increase records value");
    return done;
}

bool ZDMSqliteStore::deleteRecordFromTableWithName(const std::string& table, const std::string& columnName,
                                                   const Value& columnValue, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for delete record"))
        return false;
    if (!ZDMCheckLengthOrSetError(columnName.size(), error, 1, "Received empty column for delete record"))
        return false;
    if (!ZDMCheckObjectOrSetError(columnValue, error, 1, "Received nil value for delete record"))
        return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Delete record failed. Database not open."))
        return false;
    OwnedStatement statement(prepareSQL("DELETE FROM " + table + " WHERE " + columnName + "=?", error));
    if (!statement || !bindValue(columnValue, 1, statement.get(), error)) return false;
    const bool done = sqlite3_step(statement.get()) == SQLITE_DONE;
    if (!done) setDatabaseError(error, "delete record");
    return done;
}

std::optional<int64_t> ZDMSqliteStore::deleteRecordsFromTableWithName(const std::string& table,
                                                                      const std::string& condition,
                                                                      const Value::Array& parameterValues,
                                                                      Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for delete record"))
        return std::nullopt;
    if (!ZDMCheckLengthOrSetError(condition.size(), error, 1, "Received empty condition for delete record"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2,
                                     "Delete records with condition failed. Database not open."))
        return std::nullopt;
    const std::string query = "DELETE FROM " + table + " WHERE " + condition;
    StatementLease statement(*this, query, statementForQuery(query, parameterValues, error));
    if (!statement) return std::nullopt;
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        setDatabaseError(error, "delete records with condition");
        return std::nullopt;
    }
    return static_cast<int64_t>(sqlite3_changes64(sqliteHandle_));
}

bool ZDMSqliteStore::deleteAllRecordsFromTableWithName(const std::string& table, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for delete all records"))
        return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Delete all records failed. Database not open."))
        return false;
    const std::string query = "DELETE FROM " + table;
    StatementLease statement(*this, query, statementForQuery(query, error));
    if (!statement) return false;
    const bool done = sqlite3_step(statement.get()) == SQLITE_DONE;
    if (!done) setDatabaseError(error, "delete all records");
    return done;
}

std::optional<int64_t> ZDMSqliteStore::rowCountForTableWithName(const std::string& table, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for row count"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Row count failed. Database not open."))
        return std::nullopt;
    const auto count = numberForQuery("SELECT count(1) FROM " + table, {}, error);
    return count ? count->asInteger() : std::nullopt;
}

std::optional<int64_t> ZDMSqliteStore::rowCountForTableWithName(const std::string& table,
                                                                const std::string& columnName,
                                                                const Value& columnValue, Error* error) {
    if (!ZDMCheckLengthOrSetError(table.size(), error, 1, "Received empty table name for row count"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Row count failed. Database not open."))
        return std::nullopt;
    const auto count =
        numberForQuery("SELECT count(1) FROM " + table + " WHERE " + columnName + "=?", {columnValue}, error);
    return count ? count->asInteger() : std::nullopt;
}

// MARK: Queries

std::optional<std::vector<ZDMSqliteStore::Record>> ZDMSqliteStore::recordsForQuery(
    const std::string& query, const Value::Array& parameterValues, Error* error) {
    return recordsForQuery(query, parameterValues, error, [](int64_t, const Record&) { return true; });
}

std::optional<std::vector<ZDMSqliteStore::Record>> ZDMSqliteStore::recordsForQuery(
    const std::string& query, const Value::Array& parameterValues, Error* error, const RecordFilter& filter) {
    if (!ZDMCheckLengthOrSetError(query.size(), error, 1, "Received empty query for records for query"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(static_cast<bool>(filter), error, 1,
                                     "Received empty filter for selecting records"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Query records failed. Database not open."))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(beginsWithSelectInAnyCase(query), error, 1,
                                     "Received invalid select query"))
        return std::nullopt;
    StatementLease statement(*this, query, statementForQuery(query, parameterValues, error));
    if (!statement) return std::nullopt;

    std::vector<Record> records;
    int64_t rowIndex = 0;
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        Record record;
        const int columnCount = sqlite3_column_count(statement.get());
        for (int column = 0; column < columnCount; ++column) {
            const char* name = sqlite3_column_name(statement.get(), column);
            if (!name) {
                logToMonitor(4, 34003, "Failed to get column name");
                continue;
            }
            auto value = valueAtColumn(column, statement.get());
            if (!value) {
                logToMonitor(4, 34004, "Value is nil for column", Value(name));
                continue;
            }
            record.set(name, std::move(*value));
        }
        const bool kept = filter(rowIndex++, record);
        if (!kept) break;
        records.push_back(std::move(record));
    }
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
        setDatabaseError(error, "query records");
        return std::nullopt;
    }
    if (rowIndex > 0 && records.empty())
        logToMonitor(4, 34005, "Database contains records that were all filtered out");
    return records;
}

std::optional<Value> ZDMSqliteStore::numberForQuery(const std::string& query,
                                                    const Value::Array& parameterValues, Error* error) {
    if (!ZDMCheckLengthOrSetError(query.size(), error, 1, "Received empty query to get numeric result"))
        return std::nullopt;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Query numeric result failed. Database not open."))
        return std::nullopt;
    StatementLease statement(*this, query, statementForQuery(query, parameterValues, error));
    if (!statement) return std::nullopt;
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        setDatabaseError(error, "query numeric result");
        return std::nullopt;
    }
    if (sqlite3_column_type(statement.get(), 0) == SQLITE_NULL) return std::nullopt;
    auto value = valueAtColumn(0, statement.get());
    if (!value || !value->isNumber()) {
        ZDMSetError(error, 1, "Found result that was not numeric");
        return std::nullopt;
    }
    return value;
}

// MARK: Transactions

bool ZDMSqliteStore::performTransactionWithError(Error* error, const std::function<bool()>& block) {
    if (!ZDMCheckConditionOrSetError(static_cast<bool>(block), error, 1, "Received nil transaction block"))
        return false;
    if (!ZDMCheckConditionOrSetError(isOpen(), error, 2, "Database not open")) return false;
    if (!ZDMCheckConditionOrSetError(beginTransaction(), error, 3, "Failed to begin transaction"))
        return false;
    bool committed;
    try {
        committed = block();
    } catch (...) {
        if (!rollbackTransaction()) logToMonitor(1, 34009, "Failed to rollback transaction after exception");
        throw;
    }
    if (committed)
        return ZDMCheckConditionOrSetError(endTransaction(), error, 3, "Failed to end transaction");
    ZDMSetError(error, 3, "Transaction failed");
    if (!rollbackTransaction()) logToMonitor(1, 34011, "Failed to rollback transaction");
    return false;
}

bool ZDMSqliteStore::beginTransaction() {
    return executeSQL("BEGIN EXCLUSIVE TRANSACTION");
}

bool ZDMSqliteStore::endTransaction() {
    return executeSQL("END TRANSACTION");
}

bool ZDMSqliteStore::rollbackTransaction() {
    return executeSQL("ROLLBACK");
}

// MARK: Errors

std::optional<std::string> ZDMSqliteStore::lastErrorMessage() const {
    if (!isOpen()) {
        logToMonitor(1, 34022, "Failed to get last error message. Database not open");
        return std::nullopt;
    }
    return std::string(sqlite3_errmsg(sqliteHandle_));
}

std::optional<std::string> ZDMSqliteStore::errorDescriptionForDatabaseOperation(
    const std::string& operation) const {
    const auto message = lastErrorMessage();
    if (!message) return std::nullopt;
    return "Database operation \"" + operation + "\" failed with sqlite code " +
           std::to_string(sqlite3_errcode(sqliteHandle_)) + " and error message \"" + *message + "\"";
}

std::string ZDMSqliteStore::monitorContextForDatabaseOperation(const std::string& operation) const {
    std::string context = operation.empty() ? "Unknown operation" : operation;
    context += "," + std::to_string(sqlite3_errcode(sqliteHandle_));
    context += ::access(databasePath_.c_str(), W_OK) == 0 ? ",A," : ",NA,";
    struct statvfs fileSystem {};
    if (::statvfs(databasePath_.c_str(), &fileSystem) == 0) {
        const uint64_t freeMiB = static_cast<uint64_t>(fileSystem.f_bavail) * fileSystem.f_frsize / 1048576;
        context += freeMiB >= 1 ? std::to_string(floorLog10(freeMiB)) : "-1";
    }
    return context;
}

void ZDMSqliteStore::setDatabaseError(Error* error, const std::string& operation) const {
    if (!error) return;
    ZDMSetErrorWithContext(error, 3, errorDescriptionForDatabaseOperation(operation).value_or(std::string()),
                           monitorContextForDatabaseOperation(operation));
}
