#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"

#include "platform/foundation/Base64.h"
#include "platform/foundation/UUID.h"

namespace {
constexpr const char* kTextContentType = "text/plain";
}

DIZErrorAttachmentLog::DIZErrorAttachmentLog() : attachmentId_(UUID().uuidString()) {
    setType("errorAttachment");
}

DIZErrorAttachmentLog::DIZErrorAttachmentLog(Text filename, Data attachmentBinary, Text contentType)
    : DIZErrorAttachmentLog() {
    data_ = std::move(attachmentBinary);
    contentType_ = std::move(contentType);
    filename_ = std::move(filename);
}

DIZErrorAttachmentLog::DIZErrorAttachmentLog(Text filename, const std::string& attachmentText)
    : DIZErrorAttachmentLog(std::move(filename), Data(attachmentText.begin(), attachmentText.end()),
                            kTextContentType) {}

std::shared_ptr<DIZErrorAttachmentLog> DIZErrorAttachmentLog::attachmentWithText(const std::string& text,
                                                                                 Text filename) {
    return std::make_shared<DIZErrorAttachmentLog>(std::move(filename), text);
}

std::shared_ptr<DIZErrorAttachmentLog> DIZErrorAttachmentLog::attachmentWithBinary(Data data, Text filename,
                                                                                   Text contentType) {
    return std::make_shared<DIZErrorAttachmentLog>(std::move(filename), std::move(data),
                                                   std::move(contentType));
}

std::optional<Dictionary> DIZErrorAttachmentLog::serializeToDictionary() const {
    auto dictionary = DIZAbstractLog::serializeToDictionary();
    if (!dictionary) return dictionary;
    DIZSetIfPresent(*dictionary, "id", attachmentId_);
    DIZSetIfPresent(*dictionary, "errorId", errorId_);
    DIZSetIfPresent(*dictionary, "contentType", contentType_);
    DIZSetIfPresent(*dictionary, "fileName", filename_);
    if (data_) dictionary->set("data", Value(base64Encode(*data_)));
    return dictionary;
}

bool DIZErrorAttachmentLog::isValid() const {
    if (!DIZAbstractLog::isValid()) return false;
    const char* missing = !errorId_        ? "errorId"
                          : !attachmentId_ ? "attachmentId"
                          : !data_         ? "data"
                          : !contentType_  ? "contentType"
                                           : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZErrorAttachmentLog::isEqual(const DIZAbstractLog& other) const {
    const auto* attachment = dynamic_cast<const DIZErrorAttachmentLog*>(&other);
    return attachment && DIZAbstractLog::isEqual(other) && attachmentId_ == attachment->attachmentId_ &&
           errorId_ == attachment->errorId_ && contentType_ == attachment->contentType_ &&
           filename_ == attachment->filename_ && data_ == attachment->data_;
}

void DIZErrorAttachmentLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZAbstractLog::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(attachmentId_), "id");
    coder.encodeObject(DIZArchived(errorId_), "errorId");
    coder.encodeObject(DIZArchived(contentType_), "contentType");
    coder.encodeObject(DIZArchived(filename_), "fileName");
    coder.encodeObject(data_ ? Archived(Value(*data_)) : Archived(), "data");
}

bool DIZErrorAttachmentLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZAbstractLog::initWithCoder(coder)) return false;
    attachmentId_ = coder.decodeString("id");
    errorId_ = coder.decodeString("errorId");
    contentType_ = coder.decodeString("contentType");
    filename_ = coder.decodeString("fileName");
    Archived stored = coder.decodeObject("data");
    const Data* bytes = stored.value() ? stored.value()->asData() : nullptr;
    data_ = bytes ? std::optional<Data>(*bytes) : std::nullopt;
    return stored.isNull() || bytes;
}
