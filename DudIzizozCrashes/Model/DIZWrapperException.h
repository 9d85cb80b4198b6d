#pragma once
// What a wrapper SDK saves when its own runtime meets a fatal exception: its exception model, bytes
// of its own that this client never reads, and the id of the process that crashed, by which the
// record is paired with that process's crash report at the next start.
#include <memory>
#include <optional>

#include "DudIzizozCrashes/Model/DIZExceptionModel.h"
#include "platform/foundation/Data.h"

class DIZWrapperException : public Codable, public DIZSerializableObject {
  public:
    DIZ_PROPERTY(std::shared_ptr<DIZExceptionModel>, modelException, ModelException)
    DIZ_PROPERTY(std::optional<Data>, exceptionData, ExceptionData)
    DIZ_PROPERTY(std::optional<int64_t>, processId, ProcessId)

    // "modelException", "processId", "exceptionData" (the bytes themselves), each when present.
    std::optional<Dictionary> serializeToDictionary() const override;

    std::string archiveClassName() const override { return "DIZWrapperException"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::shared_ptr<DIZExceptionModel> modelException_;
    std::optional<Data> exceptionData_;
    std::optional<int64_t> processId_;
};
