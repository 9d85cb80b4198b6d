#pragma once
// One batch of logs on its way from a channel to an ingestion: the batch id the log store gave it
// and its logs in store order. Its JSON, {"logs":[...]}, is the body of a Dud Izizoz log upload.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"

class DIZLogContainer {
  public:
    DIZLogContainer() = default;
    DIZLogContainer(std::optional<std::string> batchId, std::vector<std::shared_ptr<DIZLog>> logs)
        : batchId_(std::move(batchId)), logs_(std::move(logs)) {}

    DIZ_PROPERTY(std::optional<std::string>, batchId, BatchId)
    DIZ_PROPERTY(std::vector<std::shared_ptr<DIZLog>>, logs, Logs)

    std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
    // A log that writes no dictionary is left out.
    std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;
    // At least one log, and every log valid.
    bool isValid() const;

  private:
    std::optional<std::string> batchId_;
    std::vector<std::shared_ptr<DIZLog>> logs_;
};
