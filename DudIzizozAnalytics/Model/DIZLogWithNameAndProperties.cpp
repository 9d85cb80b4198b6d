#include "DudIzizozAnalytics/Model/DIZLogWithNameAndProperties.h"

std::optional<Dictionary> DIZLogWithNameAndProperties::serializeToDictionary() const {
    auto dictionary = DIZLogWithProperties::serializeToDictionary();
    if (dictionary) DIZSetIfPresent(*dictionary, "name", name_);
    return dictionary;
}

bool DIZLogWithNameAndProperties::isValid() const {
    if (!DIZLogWithProperties::isValid()) return false;
    if (!name_) DIZLogInvalidField(archiveClassName(), "name");
    return name_.has_value();
}

bool DIZLogWithNameAndProperties::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZLogWithNameAndProperties*>(&other);
    return log && DIZLogWithProperties::isEqual(other) && name_ == log->name_;
}

void DIZLogWithNameAndProperties::encodeWithCoder(KeyedArchiver& coder) const {
    DIZLogWithProperties::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(name_), "name");
}

bool DIZLogWithNameAndProperties::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZLogWithProperties::initWithCoder(coder)) return false;
    name_ = coder.decodeString("name");
    return true;
}
