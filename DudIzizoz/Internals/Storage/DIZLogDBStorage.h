#pragma once
// The reporting client's log queue in "Logs.sqlite": one row per log with its group id, its keyed
// archive as Base64 text, the encrypted target token and target key of Core Schema logs, and its
// priority. When the size cap is reached, a new log evicts the oldest logs of equal or lower
// priority; a full result below the cap evicts nothing. Logs handed out in a batch stay in the
// file until their batch is deleted, but are not loaded again in this process. No lock: the
// channel group's queue orders every call.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DudIzizoz/Internals/Storage/DIZDBStorage.h"
#include "DudIzizoz/Internals/Storage/DIZStorage.h"

class DIZEncrypter;

inline constexpr const char* kDIZLogsDatabaseFilename = "Logs.sqlite";
inline constexpr uint32_t kDIZLogsDatabaseVersion = 5;
inline constexpr const char* kDIZLogsTableName = "logs";
inline constexpr const char* kDIZIdColumnName = "id";
inline constexpr const char* kDIZGroupIdColumnName = "groupId";
inline constexpr const char* kDIZLogColumnName = "log";
inline constexpr const char* kDIZTargetTokenColumnName = "targetToken";
inline constexpr const char* kDIZTargetKeyColumnName = "targetKey";
inline constexpr const char* kDIZPriorityColumnName = "priority";

class DIZLogDBStorage : public DIZDBStorage, public DIZStorage {
  public:
    // One stored log as read back: its row id, its group id and the decoded log.
    struct Row {
        int64_t id = 0;
        std::string groupId;
        std::shared_ptr<DIZAbstractLog> log;
    };
    // A pending batch: the group id of the unit that loaded it and the batch id.
    using BatchKey = std::pair<std::string, std::string>;

    DIZLogDBStorage();
    ~DIZLogDBStorage() override;

    bool saveLog(const std::shared_ptr<DIZAbstractLog>& log, const std::string& groupId,
                 uint64_t flags) override;
    uint64_t countLogs() override;
    std::vector<std::shared_ptr<DIZAbstractLog>> deleteLogsWithGroupId(const std::string& groupId) override;
    void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
    bool loadLogsWithGroupId(const std::string& groupId, uint64_t limit,
                             const std::vector<std::string>& excludedTargetKeys,
                             const DIZLoadDataCompletionHandler& completionHandler) override;
    void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) override;

    const std::map<BatchKey, std::vector<int64_t>>& batches() const { return batches_; }
    size_t idColumnIndex() const { return idColumnIndex_; }
    size_t groupIdColumnIndex() const { return groupIdColumnIndex_; }
    size_t logColumnIndex() const { return logColumnIndex_; }
    size_t targetTokenColumnIndex() const { return targetTokenColumnIndex_; }
    const std::shared_ptr<DIZEncrypter>& targetTokenEncrypter() const { return targetTokenEncrypter_; }

    static DIZSchema logsSchema();
    // "(?,?,?)" for 3.
    static std::string buildKeyFormatWithCount(size_t count);
    std::vector<std::shared_ptr<DIZAbstractLog>> logsFromDBWithGroupId(const std::string& groupId);
    // The decodable rows matching `condition`; undecodable ones are deleted on the way.
    std::vector<Row> logsWithCondition(const std::string& condition, const DIZStorageBindableArray& values);
    void deleteLogFromDBWithId(int64_t id);
    void deleteLogsFromDBWithColumnValue(const Value& value, const std::string& columnName);
    void deleteLogsFromDBWithColumnValues(const std::vector<Value>& values, const std::string& columnName);
    // Binds every value; strings as text, integers as numbers.
    static int deleteLogsFromDBWithColumnValues(const std::vector<Value>& values,
                                                const std::string& columnName, sqlite3* database);
    static void createPriorityIndex(sqlite3* database);

  protected:
    void customizeDatabase(sqlite3* database) override;
    int migrateDatabase(sqlite3* database, uint32_t fromVersion) override;
    int validateDatabase(sqlite3* database) override;

  private:
    int insertLog(sqlite3* database, const std::string& query, const DIZStorageBindableArray& values,
                  size_t logTextLength, int64_t priority);
    struct Eviction {
        int64_t deletedCount = 0;
        bool reachedCap = false;
    };
    int evictAndInsert(sqlite3_stmt* insert, sqlite3* database, size_t logTextLength, int64_t priority,
                       Eviction& eviction);
    // Batches of `groupId` itself and of its twin unit ("<groupId>/..."), never of a group that
    // merely shares the prefix.
    static bool batchBelongsToGroup(const BatchKey& key, const std::string& groupId);

    std::map<BatchKey, std::vector<int64_t>> batches_;
    size_t idColumnIndex_ = 0;
    size_t groupIdColumnIndex_ = 0;
    size_t logColumnIndex_ = 0;
    size_t targetTokenColumnIndex_ = 0;
    std::shared_ptr<DIZEncrypter> targetTokenEncrypter_;
};
