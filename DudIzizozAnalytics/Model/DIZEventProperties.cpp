#include "DudIzizozAnalytics/Model/DIZEventProperties.h"

#include <algorithm>
#include <cmath>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

namespace {
constexpr const char* kAnalyticsLogTag = "DudIzizozAnalytics";

template <class Property, class V>
std::shared_ptr<DIZTypedProperty> make(const std::string& key, V value) {
    auto property = std::make_shared<Property>();
    property->setName(key);
    property->setValue(std::move(value));
    return property;
}
}  // namespace

DIZEventProperties::DIZEventProperties(const std::vector<std::pair<std::string, std::string>>& strings) {
    for (const auto& [key, value] : strings)
        add(key, make<DIZStringTypedProperty>(key, std::optional<std::string>(value)));
}

DIZEventProperties::DIZEventProperties(const DIZEventProperties& other) : Codable() {
    properties_ = other.properties();
}

bool DIZEventProperties::validateKey(const std::optional<std::string>& key) {
    if (!key) DIZLogError(kAnalyticsLogTag, "Key cannot be null. Property will not be added.");
    return key.has_value();
}

template <class T>
bool DIZEventProperties::validateValue(const std::optional<T>& value) {
    if (!value) DIZLogError(kAnalyticsLogTag, "Value cannot be null. Property will not be added.");
    return value.has_value();
}

DIZEventProperties& DIZEventProperties::setString(const std::optional<std::string>& value,
                                                  const std::optional<std::string>& key) {
    if (validateKey(key) && validateValue(value)) add(*key, make<DIZStringTypedProperty>(*key, value));
    return *this;
}

DIZEventProperties& DIZEventProperties::setDouble(double value, const std::optional<std::string>& key) {
    if (!validateKey(key)) return *this;
    if (!std::isfinite(value)) {
        DIZLogError(kAnalyticsLogTag,
                    "Double value for property '%@' must be finite (cannot be INFINITY or NAN).", *key);
        return *this;
    }
    add(*key, make<DIZDoubleTypedProperty>(*key, value));
    return *this;
}

DIZEventProperties& DIZEventProperties::setInt64(int64_t value, const std::optional<std::string>& key) {
    if (validateKey(key)) add(*key, make<DIZLongTypedProperty>(*key, value));
    return *this;
}

DIZEventProperties& DIZEventProperties::setBool(bool value, const std::optional<std::string>& key) {
    if (validateKey(key)) add(*key, make<DIZBooleanTypedProperty>(*key, value));
    return *this;
}

DIZEventProperties& DIZEventProperties::setDate(const std::optional<Date>& value,
                                                const std::optional<std::string>& key) {
    if (validateKey(key) && validateValue(value)) add(*key, make<DIZDateTimeTypedProperty>(*key, value));
    return *this;
}

void DIZEventProperties::setProperty(const std::shared_ptr<DIZTypedProperty>& property) {
    if (property && property->name()) add(*property->name(), property);
}

void DIZEventProperties::add(const std::string& key, std::shared_ptr<DIZTypedProperty> property) {
    std::lock_guard guard(lock_);
    auto it = std::find_if(properties_.begin(), properties_.end(),
                           [&](const auto& entry) { return entry.first == key; });
    if (it != properties_.end())
        it->second = std::move(property);
    else
        properties_.emplace_back(key, std::move(property));
}

void DIZEventProperties::removeProperty(const std::string& key) {
    std::lock_guard guard(lock_);
    std::erase_if(properties_, [&](const auto& entry) { return entry.first == key; });
}

std::shared_ptr<DIZTypedProperty> DIZEventProperties::property(const std::string& key) const {
    std::lock_guard guard(lock_);
    for (const auto& [name, property] : properties_)
        if (name == key) return property;
    return nullptr;
}

DIZEventProperties::Entries DIZEventProperties::properties() const {
    std::lock_guard guard(lock_);
    return properties_;
}

size_t DIZEventProperties::count() const {
    std::lock_guard guard(lock_);
    return properties_.size();
}

bool DIZEventProperties::isEmpty() const {
    return count() == 0;
}

void DIZEventProperties::mergeEventProperties(const DIZEventProperties& other) {
    for (const auto& [key, property] : other.properties()) add(key, property);
}

Value::Array DIZEventProperties::serializeToArray() const {
    Value::Array array;
    for (const auto& [key, property] : properties()) {
        if (auto dictionary = property->serializeToDictionary())
            array.push_back(Value(std::move(*dictionary)));
    }
    return array;
}

bool DIZEventProperties::isEqual(const DIZEventProperties& other) const {
    const auto mine = properties(), theirs = other.properties();
    if (mine.size() != theirs.size()) return false;
    for (const auto& [key, property] : mine) {
        auto match =
            std::find_if(theirs.begin(), theirs.end(), [&](const auto& e) { return e.first == key; });
        if (match == theirs.end() || !DIZEqualObjects(property, match->second)) return false;
    }
    return true;
}

void DIZEventProperties::encodeWithCoder(KeyedArchiver& coder) const {
    Archived::Dictionary entries;
    for (const auto& [key, property] : properties()) entries.emplace_back(key, Archived(property));
    coder.encodeObject(Archived::dictionary(std::move(entries)));
}

bool DIZEventProperties::initWithCoder(KeyedUnarchiver& coder) {
    Archived stored = coder.decodeObject();
    const auto* entries = stored.dictionaryEntries();
    if (!entries) return false;
    Entries properties;
    for (const auto& [key, archived] : *entries) {
        auto property = archived.objectAs<DIZTypedProperty>();
        if (!property) return false;
        properties.emplace_back(key, std::move(property));
    }
    std::lock_guard guard(lock_);
    properties_ = std::move(properties);
    return true;
}
