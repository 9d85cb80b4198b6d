#pragma once
// The persistent queue behind the channel units: logs are saved under their unit's group id and
// priority, loaded in batches to send, and deleted by batch once sent or by group when a unit
// drops its data.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DIZAbstractLog;

// The loaded logs (possibly none) and their batch id (none when no log was loaded).
using DIZLoadDataCompletionHandler = std::function<void(
    const std::vector<std::shared_ptr<DIZAbstractLog>>& logs, const std::optional<std::string>& batchId)>;

class DIZStorage {
  public:
    virtual ~DIZStorage() = default;

    // `flags` carries the priority in its low 8 bits. True when the log was stored.
    virtual bool saveLog(const std::shared_ptr<DIZAbstractLog>& log, const std::string& groupId,
                         uint64_t flags) = 0;
    virtual uint64_t countLogs() = 0;
    // The group's logs, which are deleted; its pending batches are forgotten.
    virtual std::vector<std::shared_ptr<DIZAbstractLog>> deleteLogsWithGroupId(
        const std::string& groupId) = 0;
    virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
    // Hands at most `limit` logs of the group that are in no pending batch and whose target key is not
    // excluded to `completionHandler` before returning; true when more such logs remain.
    virtual bool loadLogsWithGroupId(const std::string& groupId, uint64_t limit,
                                     const std::vector<std::string>& excludedTargetKeys,
                                     const DIZLoadDataCompletionHandler& completionHandler) = 0;
    virtual void setMaxStorageSize(int64_t sizeInBytes,
                                   const std::function<void(bool)>& completionHandler) = 0;
};
