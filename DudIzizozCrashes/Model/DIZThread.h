#pragma once
// One thread of a crashed or erring process: its id and name, its stack, and the exception met on
// it, if any.
#include "DudIzizozCrashes/Model/DIZExceptionModel.h"

class DIZThread : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    using Text = std::optional<std::string>;

    // Starts with an empty list of frames, which an archive's contents replace as stored.
    DIZThread() : frames_(std::vector<std::shared_ptr<DIZStackFrame>>()) {}

    DIZ_PROPERTY(std::optional<int64_t>, threadId, ThreadId)
    DIZ_PROPERTY(Text, name, Name)
    DIZ_PROPERTY(DIZList<DIZStackFrame>, frames, Frames)
    DIZ_PROPERTY(std::shared_ptr<DIZExceptionModel>, exception, Exception)

    // "id" (the thread id), "name", "frames", "exception", each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    // An id, then at least one frame.
    bool isValid() const override;
    bool isEqual(const DIZThread& other) const;
    // The text of the dictionary.
    std::string description() const;

    std::string archiveClassName() const override { return "DIZThread"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<int64_t> threadId_;
    Text name_;
    DIZList<DIZStackFrame> frames_;
    std::shared_ptr<DIZExceptionModel> exception_;
};
