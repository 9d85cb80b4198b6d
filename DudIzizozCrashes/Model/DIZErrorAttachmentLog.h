#pragma once
// A small file (text or bytes) that the application attaches to one crash or handled error. It
// travels as a log of its own, linked to the error by the error's id.
#include <memory>

#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"

class DIZErrorAttachmentLog : public DIZAbstractLog {
  public:
    // Type "errorAttachment" and a new random attachment id.
    DIZErrorAttachmentLog();
    // The bytes, their content type and the file name as given.
    DIZErrorAttachmentLog(Text filename, Data attachmentBinary, Text contentType);
    // The text's UTF-8 bytes, as "text/plain".
    DIZErrorAttachmentLog(Text filename, const std::string& attachmentText);

    static std::shared_ptr<DIZErrorAttachmentLog> attachmentWithText(const std::string& text, Text filename);
    static std::shared_ptr<DIZErrorAttachmentLog> attachmentWithBinary(Data data, Text filename,
                                                                       Text contentType);

    DIZ_PROPERTY(Text, contentType, ContentType)
    DIZ_PROPERTY(Text, filename, Filename)
    DIZ_PROPERTY(std::optional<Data>, data, Data)
    DIZ_PROPERTY(Text, attachmentId, AttachmentId)
    DIZ_PROPERTY(Text, errorId, ErrorId)

    // The base log's keys, then "id" (the attachment id), "errorId", "contentType", "fileName" and
    // "data" (Base64 on one line), each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The base log, then errorId, attachmentId, data and contentType; the file name is optional.
    bool isValid() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZErrorAttachmentLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZErrorAttachmentLog", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text contentType_, filename_;
    std::optional<Data> data_;
    Text attachmentId_, errorId_;
};
