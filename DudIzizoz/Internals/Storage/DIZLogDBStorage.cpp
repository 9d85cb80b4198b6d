#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZEncrypter.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/UUID.h"

namespace {

std::string quoted(const char* name) {
    return DIZDBStorage::quotedIdentifier(name);
}

std::string joinedValues(const std::vector<std::string>& texts) {
    std::string joined;
    for (size_t i = 0; i < texts.size(); ++i) joined += (i ? "','" : "") + texts[i];
    return joined;
}

std::string valueText(const Value& value) {
    if (const auto* text = value.asString()) return *text;
    return std::to_string(value.integerOr(0));
}

// The insert of a plain log, or of a Core Schema log with its target token and key.
std::string insertQuery(bool withTargetToken) {
    std::string columns = quoted(kDIZGroupIdColumnName) + ", " + quoted(kDIZLogColumnName) + ", ";
    std::string placeholders = "?, ?, ?";
    if (withTargetToken) {
        columns += quoted(kDIZTargetTokenColumnName) + ", " + quoted(kDIZTargetKeyColumnName) + ", ";
        placeholders += ", ?, ?";
    }
    return "INSERT INTO " + quoted(kDIZLogsTableName) + " (" + columns + quoted(kDIZPriorityColumnName) +
           ") VALUES (" + placeholders + ")";
}

std::string selectQuery(const std::string& condition) {
    std::string query = "SELECT * FROM " + quoted(kDIZLogsTableName);
    if (!condition.empty()) query += " WHERE " + condition;
    return query;
}

void logDeletion(const std::string& columnName, const std::vector<std::string>& values, int result) {
    const std::string description =
        "Deletion of log(s) by " + columnName + " with value(s) '" + joinedValues(values) + "'";
    if (result == SQLITE_OK) {
        DIZLogVerbose(kDIZLogTag, "%@ succeeded.", description);
    } else {
        DIZLogError(kDIZLogTag, "%@ failed.", description);
    }
}

}  // namespace

DIZLogDBStorage::DIZLogDBStorage() : targetTokenEncrypter_(std::make_shared<DIZEncrypter>()) {
    initWithSchema(logsSchema(), kDIZLogsDatabaseVersion, kDIZLogsDatabaseFilename);
    const auto columns = columnsIndexes(*schema()).at(kDIZLogsTableName);
    idColumnIndex_ = columns.at(kDIZIdColumnName);
    groupIdColumnIndex_ = columns.at(kDIZGroupIdColumnName);
    logColumnIndex_ = columns.at(kDIZLogColumnName);
    targetTokenColumnIndex_ = columns.at(kDIZTargetTokenColumnName);
}

DIZLogDBStorage::~DIZLogDBStorage() = default;

DIZSchema DIZLogDBStorage::logsSchema() {
    return {{kDIZLogsTableName,
             {{kDIZIdColumnName, {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}},
              {kDIZGroupIdColumnName, {"TEXT", "NOT NULL"}},
              {kDIZLogColumnName, {"TEXT", "NOT NULL"}},
              {kDIZTargetTokenColumnName, {"TEXT"}},
              {kDIZTargetKeyColumnName, {"TEXT"}},
              {kDIZPriorityColumnName, {"INTEGER"}}}}};
}

std::string DIZLogDBStorage::buildKeyFormatWithCount(size_t count) {
    std::string format = "(";
    for (size_t i = 0; i < count; ++i) format += i ? ",?" : "?";
    return format + ")";
}

bool DIZLogDBStorage::saveLog(const std::shared_ptr<DIZAbstractLog>& log, const std::string& groupId,
                              uint64_t flags) {
    if (!log) return false;
    // A row whose archive is missing could never be read back: refuse it rather than report it stored.
    const auto archive = DIZUtility::archiveKeyedData(log);
    if (!archive) return false;
    const std::string logText = base64Encode(*archive);
    const auto priority = static_cast<int64_t>(flags & 0xFF);

    DIZStorageBindableArray values;
    const auto coreSchemaLog = std::dynamic_pointer_cast<DIZCoreSchemaLog>(log);
    if (coreSchemaLog) {
        std::optional<std::string> encryptedToken;
        std::optional<std::string> targetKey;
        const auto tokens = coreSchemaLog->transmissionTargetTokens();
        if (tokens && !tokens->empty()) {
            const std::string& token = *tokens->begin();
            encryptedToken = targetTokenEncrypter_->encryptString(token);
            if (!encryptedToken) {
                DIZLogError(kDIZLogTag, "Failed to encrypt the target token; the log is not stored.");
                return false;
            }
            targetKey = DIZUtility::targetKeyFromTargetToken(token);
        }
        values.addString(groupId);
        values.addString(logText);
        values.addString(encryptedToken);
        values.addString(targetKey);
        values.addNumber(priority);
    } else {
        values.addString(groupId);
        values.addString(logText);
        values.addNumber(priority);
    }
    const std::string query = insertQuery(coreSchemaLog != nullptr);
    const int result = executeQueryUsingBlock(
        [&](sqlite3* database) { return insertLog(database, query, values, logText.size(), priority); });
    return result == SQLITE_OK;
}

int DIZLogDBStorage::insertLog(sqlite3* database, const std::string& query,
                               const DIZStorageBindableArray& values, size_t logTextLength,
                               int64_t priority) {
    const int64_t capacity = appliedMaxPageCount() * pageSize();
    if (static_cast<int64_t>(logTextLength) >= capacity) {
        DIZLogError(
            kDIZLogTag,
            "Log is too large (%tu bytes) to store in database. Current maximum database size is %tu bytes.",
            logTextLength, capacity);
        return SQLITE_ERROR;
    }

    Eviction eviction;
    const int result = executeQuery(query, database, values, [&](sqlite3_stmt* insert) {
        const int inserted = stepNonSelection(insert, database);
        return inserted == SQLITE_FULL ? evictAndInsert(insert, database, logTextLength, priority, eviction)
                                       : inserted;
    });
    if (eviction.deletedCount > 0) {
        DIZLogDebug(kDIZLogTag,
                    "Log storage was over capacity, %ld oldest log(s) with equal or lower priority deleted.",
                    eviction.deletedCount);
    }
    if (result == SQLITE_FULL && eviction.reachedCap) {
        DIZLogError(kDIZLogTag,
                    "Storage is full and no logs with equal or lower priority exist; discarding the log.");
    } else if (result == SQLITE_FULL) {
        DIZLogError(kDIZLogTag,
                    "Storage cannot take the log although it is below its size limit; "
                    "no stored log is deleted for it.");
    } else if (result == SQLITE_OK) {
        DIZLogVerbose(kDIZLogTag, "Log is stored with id: '%ld'",
                      static_cast<int64_t>(sqlite3_last_insert_rowid(database)));
    }
    return result;
}

// sqlite answers FULL also when no row id is left, and deleting stored logs cannot help then. So
// logs are evicted only while the file lacks pages for the new one under its cap: the pages in
// use, the row's own and a few for splitting the table and index trees it lands in. One log is
// deleted at a time, oldest of the lowest priority first, and `insert` runs again after each.
int DIZLogDBStorage::evictAndInsert(sqlite3_stmt* insert, sqlite3* database, size_t logTextLength,
                                    int64_t priority, Eviction& eviction) {
    constexpr int64_t kTreeSplitPages = 6;
    const int64_t rowPages = static_cast<int64_t>(logTextLength) / pageSize() + 1;
    return executeQuery("PRAGMA page_count", database, {}, [&](sqlite3_stmt* pageCount) {
        const auto lacksPages = [&] {
            const bool read = sqlite3_step(pageCount) == SQLITE_ROW;
            const int64_t pages = read ? sqlite3_column_int64(pageCount, 0) : 0;
            sqlite3_reset(pageCount);
            return read && pages + rowPages + kTreeSplitPages > appliedMaxPageCount();
        };
        if (!lacksPages()) return SQLITE_FULL;
        eviction.reachedCap = true;

        DIZStorageBindableArray priorityValue;
        priorityValue.addNumber(priority);
        const DIZStorageRows candidates = executeSelectionQueryInOpenedDatabase(
            "SELECT " + quoted(kDIZIdColumnName) + " FROM " + quoted(kDIZLogsTableName) + " WHERE " +
                quoted(kDIZPriorityColumnName) + " <= ? ORDER BY " + quoted(kDIZPriorityColumnName) +
                " ASC, " + quoted(kDIZIdColumnName) + " ASC",
            database, nullptr, priorityValue);
        const std::string deletion =
            "DELETE FROM " + quoted(kDIZLogsTableName) + " WHERE " + quoted(kDIZIdColumnName) + " = ?";
        return executeQuery(deletion, database, {}, [&](sqlite3_stmt* deleteById) {
            int result = SQLITE_FULL;
            for (const auto& candidate : candidates) {
                const std::string id = valueText(candidate[0]);
                sqlite3_bind_int64(deleteById, 1, candidate[0].integerOr(0));
                const int deleted = stepNonSelection(deleteById, database);
                logDeletion(kDIZIdColumnName, {id}, deleted);
                if (deleted != SQLITE_OK) return deleted;
                ++eviction.deletedCount;
                DIZLogDebug(kDIZLogTag, "Deleted a log with id %@ to store a new log.", id);
                result = stepNonSelection(insert, database);
                if (result != SQLITE_FULL || !lacksPages()) break;
            }
            return result;
        });
    });
}

uint64_t DIZLogDBStorage::countLogs() {
    return countEntriesForTable(kDIZLogsTableName);
}

std::vector<std::shared_ptr<DIZAbstractLog>> DIZLogDBStorage::deleteLogsWithGroupId(
    const std::string& groupId) {
    auto logs = logsFromDBWithGroupId(groupId);
    deleteLogsFromDBWithColumnValue(Value(groupId), kDIZGroupIdColumnName);
    std::erase_if(batches_, [&](const auto& entry) { return batchBelongsToGroup(entry.first, groupId); });
    return logs;
}

void DIZLogDBStorage::deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
    const auto entry = batches_.find({groupId, batchId});
    if (entry == batches_.end() || entry->second.empty()) return;
    deleteLogsFromDBWithColumnValues(std::vector<Value>(entry->second.begin(), entry->second.end()),
                                     kDIZIdColumnName);
    batches_.erase(entry);
}

bool DIZLogDBStorage::loadLogsWithGroupId(const std::string& groupId, uint64_t limit,
                                          const std::vector<std::string>& excludedTargetKeys,
                                          const DIZLoadDataCompletionHandler& completionHandler) {
    std::vector<int64_t> pendingIds;
    for (const auto& [key, ids] : batches_) {
        if (batchBelongsToGroup(key, groupId)) pendingIds.insert(pendingIds.end(), ids.begin(), ids.end());
    }

    DIZStorageBindableArray values;
    std::string condition = quoted(kDIZGroupIdColumnName) + " = ?";
    values.addString(groupId);
    if (!excludedTargetKeys.empty()) {
        condition += " AND " + quoted(kDIZTargetKeyColumnName) + " NOT IN " +
                     buildKeyFormatWithCount(excludedTargetKeys.size());
        for (const auto& key : excludedTargetKeys) values.addString(key);
    }
    if (!pendingIds.empty()) {
        condition +=
            " AND " + quoted(kDIZIdColumnName) + " NOT IN " + buildKeyFormatWithCount(pendingIds.size());
        for (int64_t id : pendingIds) values.addNumber(id);
    }
    condition +=
        " ORDER BY " + quoted(kDIZPriorityColumnName) + " DESC, " + quoted(kDIZIdColumnName) + " ASC";
    // One row beyond the limit tells whether more remain. sqlite's limit is signed: a limit past
    // its range means no limit at all.
    if (limit < static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        condition += " LIMIT " + std::to_string(limit + 1);
    }

    std::vector<Row> rows = logsWithCondition(condition, values);
    bool moreLogsAvailable = false;
    if (rows.size() > limit) {
        rows.resize(limit);
        moreLogsAvailable = true;
    }

    std::vector<int64_t> ids;
    std::vector<std::shared_ptr<DIZAbstractLog>> logs;
    for (const auto& row : rows) {
        ids.push_back(row.id);
        logs.push_back(row.log);
    }
    std::optional<std::string> batchId;
    if (!logs.empty()) {
        batchId = UUID().uuidString();
        batches_[{groupId, *batchId}] = ids;
        std::vector<std::string> idTexts;
        for (int64_t id : ids) idTexts.push_back(std::to_string(id));
        DIZLogVerbose(kDIZLogTag, "Load log(s) with id(s) '%@' as batch Id:%@", joinedValues(idTexts),
                      *batchId);
    }
    if (completionHandler) completionHandler(logs, batchId);
    return moreLogsAvailable;
}

void DIZLogDBStorage::setMaxStorageSize(int64_t sizeInBytes,
                                        const std::function<void(bool)>& completionHandler) {
    DIZDBStorage::setMaxStorageSize(sizeInBytes, completionHandler);
}

std::vector<std::shared_ptr<DIZAbstractLog>> DIZLogDBStorage::logsFromDBWithGroupId(
    const std::string& groupId) {
    DIZStorageBindableArray values;
    values.addString(groupId);
    std::vector<std::shared_ptr<DIZAbstractLog>> logs;
    for (auto& row : logsWithCondition(quoted(kDIZGroupIdColumnName) + " = ?", values))
        logs.push_back(row.log);
    return logs;
}

std::vector<DIZLogDBStorage::Row> DIZLogDBStorage::logsWithCondition(const std::string& condition,
                                                                     const DIZStorageBindableArray& values) {
    const std::string query = selectQuery(condition);
    const size_t columnCount =
        std::max({idColumnIndex_, groupIdColumnIndex_, logColumnIndex_, targetTokenColumnIndex_}) + 1;

    std::vector<Row> result;
    for (const auto& row : executeSelectionQuery(query, values)) {
        if (row.size() < columnCount) continue;
        const auto id = row[idColumnIndex_].asInteger();
        if (!id) continue;

        std::shared_ptr<DIZAbstractLog> log;
        if (const auto* text = row[logColumnIndex_].asString()) {
            if (auto archived = DIZUtility::unarchiveKeyedData(base64DecodeIgnoringUnknown(*text))) {
                log = archived->objectAs<DIZAbstractLog>();
            }
        }
        if (!log) {
            DIZLogError(kDIZLogTag, "Deserialization failed for log with Id %@", *id);
            deleteLogFromDBWithId(*id);
            continue;
        }

        if (const auto* encryptedToken = row[targetTokenColumnIndex_].asString()) {
            if (encryptedToken->empty()) {
                DIZLogError(kDIZLogTag, "Unexpected empty target token for log with Id %@.", *id);
            } else if (auto token = targetTokenEncrypter_->decryptString(*encryptedToken)) {
                log->addTransmissionTargetToken(*token);
            } else {
                DIZLogError(kDIZLogTag, "Failed to decrypt the target token for log with Id %@.", *id);
            }
        }
        result.push_back({*id, row[groupIdColumnIndex_].stringOr(""), std::move(log)});
    }
    return result;
}

void DIZLogDBStorage::deleteLogFromDBWithId(int64_t id) {
    deleteLogsFromDBWithColumnValues({Value(id)}, kDIZIdColumnName);
}

void DIZLogDBStorage::deleteLogsFromDBWithColumnValue(const Value& value, const std::string& columnName) {
    deleteLogsFromDBWithColumnValues(std::vector<Value>{value}, columnName);
}

void DIZLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<Value>& values,
                                                       const std::string& columnName) {
    executeQueryUsingBlock(
        [&](sqlite3* database) { return deleteLogsFromDBWithColumnValues(values, columnName, database); });
}

int DIZLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<Value>& values,
                                                      const std::string& columnName, sqlite3* database) {
    if (values.empty()) return SQLITE_OK;
    DIZStorageBindableArray bound;
    std::vector<std::string> texts;
    for (const auto& value : values) {
        if (const auto* text = value.asString()) {
            bound.addString(*text);
        } else {
            bound.addNumber(value.integerOr(0));
        }
        texts.push_back(valueText(value));
    }
    const std::string query = "DELETE FROM " + quoted(kDIZLogsTableName) + " WHERE " +
                              quotedIdentifier(columnName) + " IN " + buildKeyFormatWithCount(values.size());
    const int result = executeNonSelectionQueryInOpenedDatabase(query, database, bound);
    logDeletion(columnName, texts, result);
    return result;
}

void DIZLogDBStorage::createPriorityIndex(sqlite3* database) {
    executeNonSelectionQueryInOpenedDatabase("CREATE INDEX \"ix_logs_priority\" ON " +
                                                 quoted(kDIZLogsTableName) + " (" +
                                                 quoted(kDIZPriorityColumnName) + ")",
                                             database);
}

void DIZLogDBStorage::customizeDatabase(sqlite3* database) {
    createPriorityIndex(database);
}

// The index only speeds up eviction, so the migration stands without it.
int DIZLogDBStorage::migrateDatabase(sqlite3* database, uint32_t) {
    if (!dropTable(kDIZLogsTableName)) return SQLITE_ERROR;
    const int result = createTablesWithSchema(*schema(), database);
    if (result == SQLITE_OK) customizeDatabase(database);
    return result;
}

// A "logs" table that the store's statements do not fit (other columns under the current version)
// would fail every later operation; like a corrupt file, it is dropped and created anew.
int DIZLogDBStorage::validateDatabase(sqlite3* database) {
    const DIZColumnsSchema& columns = schema()->front().second;
    int result = executeQuery(insertQuery(true), database, {}, [](sqlite3_stmt*) { return SQLITE_OK; });
    if (result == SQLITE_OK) {
        result = executeQuery(selectQuery(""), database, {}, [&](sqlite3_stmt* statement) {
            if (sqlite3_column_count(statement) < static_cast<int>(columns.size())) return SQLITE_ERROR;
            for (size_t i = 0; i < columns.size(); ++i) {
                const char* name = sqlite3_column_name(statement, static_cast<int>(i));
                if (!name || columns[i].name != name) return SQLITE_ERROR;
            }
            return SQLITE_OK;
        });
    }
    if (result != SQLITE_ERROR) return result;
    DIZLogError(kDIZLogTag, "The table \"%@\" does not fit the log store; the file is treated as corrupt.",
                kDIZLogsTableName);
    return SQLITE_CORRUPT;
}

bool DIZLogDBStorage::batchBelongsToGroup(const BatchKey& key, const std::string& groupId) {
    const std::string& owner = key.first;
    return owner == groupId ||
           (owner.size() > groupId.size() && owner.compare(0, groupId.size(), groupId) == 0 &&
            owner[groupId.size()] == '/');
}
