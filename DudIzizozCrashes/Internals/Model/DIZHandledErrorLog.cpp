#include "DudIzizozCrashes/Internals/Model/DIZHandledErrorLog.h"

std::optional<Dictionary> DIZHandledErrorLog::serializeToDictionary() const {
    auto dictionary = DIZLogWithProperties::serializeToDictionary();
    if (!dictionary) return dictionary;
    DIZSetIfPresent(*dictionary, "id", errorId_);
    DIZSetIfPresent(*dictionary, "exception", exception_);
    return dictionary;
}

bool DIZHandledErrorLog::isValid() const {
    if (!DIZLogWithProperties::isValid()) return false;
    const char* missing = !errorId_ ? "errorId" : !exception_ ? "exception" : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZHandledErrorLog::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZHandledErrorLog*>(&other);
    return log && DIZLogWithProperties::isEqual(other) && errorId_ == log->errorId_ &&
           DIZEqualObjects(exception_, log->exception_);
}

void DIZHandledErrorLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZLogWithProperties::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(errorId_), "id");
    coder.encodeObject(DIZArchived(exception_), "exception");
}

bool DIZHandledErrorLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZLogWithProperties::initWithCoder(coder)) return false;
    errorId_ = coder.decodeString("id");
    return DIZDecodeObject(coder, "exception", exception_);
}
