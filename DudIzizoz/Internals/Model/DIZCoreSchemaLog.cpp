#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"

#include "DudIzizoz/Internals/Util/DIZUtility.h"

std::optional<Dictionary> DIZCoreSchemaLog::serializeToDictionary() const {
    DIZOrderedDictionary dictionary;
    DIZSetIfPresent(dictionary, "ver", ver_);
    DIZSetIfPresent(dictionary, "name", name_);
    if (timestamp()) dictionary.set("time", Value(DIZUtility::dateToISO8601(*timestamp())));
    DIZSetIfPresent(dictionary, "iKey", iKey_);
    if (flags_ != 0) dictionary.set("flags", Value(flags_));
    if (ext_) dictionary.set("ext", Value(ext_->serializeToDictionary().value_or(Dictionary{})));
    if (data_) {
        if (auto data = data_->serializeToDictionary()) dictionary.set("data", Value(std::move(*data)));
    }
    return dictionary;
}

bool DIZCoreSchemaLog::isValid() const {
    const char* missing = !timestamp() ? "timestamp" : !ver_ ? "ver" : !name_ ? "name" : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZCoreSchemaLog::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZCoreSchemaLog*>(&other);
    return log && DIZAbstractLog::isEqual(other) && ver_ == log->ver_ && name_ == log->name_ &&
           popSample_ == log->popSample_ && iKey_ == log->iKey_ && flags_ == log->flags_ && cV_ == log->cV_ &&
           DIZEqualObjects(ext_, log->ext_) && DIZEqualObjects(data_, log->data_);
}

void DIZCoreSchemaLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZAbstractLog::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(ver_), "ver");
    coder.encodeObject(DIZArchived(name_), "name");
    coder.encodeDouble(popSample_, "popSample");
    coder.encodeObject(DIZArchived(iKey_), "iKey");
    coder.encodeInt64(flags_, "flags");
    coder.encodeObject(DIZArchived(cV_), "cV");
    coder.encodeObject(ext_ ? Archived(ext_) : Archived(), "ext");
    coder.encodeObject(data_ ? Archived(data_) : Archived(), "data");
}

bool DIZCoreSchemaLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZAbstractLog::initWithCoder(coder)) return false;
    ver_ = coder.decodeString("ver");
    name_ = coder.decodeString("name");
    popSample_ = coder.decodeDouble("popSample");
    iKey_ = coder.decodeString("iKey");
    flags_ = coder.decodeInt64("flags");
    cV_ = coder.decodeString("cV");
    ext_ = coder.decodeObjectOfClass<DIZCSExtensions>("ext");
    data_ = coder.decodeObjectOfClass<DIZCSData>("data");
    return true;
}
