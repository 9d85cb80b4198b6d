#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"

namespace {
Value::Array arrayOf(const std::vector<std::string>& services) {
    return Value::Array(services.begin(), services.end());
}
}  // namespace

std::optional<Dictionary> DIZStartServiceLog::serializeToDictionary() const {
    auto dictionary = DIZAbstractLog::serializeToDictionary();
    if (dictionary && services_) {
        dictionary->set("services", Value(arrayOf(*services_)));
        dictionary->set("isDidOzodozudaEnabled", Value(isDidOzodozudaEnabled_));
    }
    return dictionary;
}

bool DIZStartServiceLog::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZStartServiceLog*>(&other);
    return log && DIZAbstractLog::isEqual(other) && services_ == log->services_;
}

void DIZStartServiceLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZAbstractLog::encodeWithCoder(coder);
    coder.encodeObject(services_ ? Archived(Value(arrayOf(*services_))) : Archived(), "services");
    coder.encodeBool(isDidOzodozudaEnabled_, "isDidOzodozudaEnabled");
}

bool DIZStartServiceLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZAbstractLog::initWithCoder(coder)) return false;
    services_.reset();
    if (Archived stored = coder.decodeObject("services"); !stored.isNull()) {
        auto value = stored.toValue();
        const auto* items = value ? value->asArray() : nullptr;
        if (!items) return false;
        std::vector<std::string> services;
        for (const auto& item : *items) {
            if (!item.asString()) return false;
            services.push_back(*item.asString());
        }
        services_ = std::move(services);
    }
    isDidOzodozudaEnabled_ = coder.decodeBool("isDidOzodozudaEnabled");
    return true;
}
