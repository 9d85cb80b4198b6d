// The Dud Izizoz limits on event and page logs: names and string properties checked just before a
// log is stored, typed properties at track time. Every limit cuts or skips with a log line; only an
// unusable name drops a log. Lengths count UTF-16 units, as the platform does, and a cut never
// splits a character.
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "platform/foundation/Unicode.h"

bool DIZAnalytics::channelUnitShouldFilterLog(DIZChannelUnitProtocol&, const std::shared_ptr<DIZLog>& log) {
    auto* named = dynamic_cast<DIZLogWithNameAndProperties*>(log.get());
    const bool isEventOrPage = dynamic_cast<DIZEventLog*>(named) || dynamic_cast<DIZPageLog*>(named);
    return isEventOrPage && !validateLog(*named);
}

bool DIZAnalytics::validateLog(DIZLogWithNameAndProperties& log) const {
    const std::string type = log.type().value_or("");
    auto name = validateEventName(log.name(), type);
    if (!name) return false;
    log.setName(*name);
    log.setProperties(validateProperties(log.properties(), *name, type));
    return true;
}

std::optional<std::string> DIZAnalytics::validateEventName(const std::optional<std::string>& name,
                                                           const std::string& logType) const {
    if (!name || name->empty()) {
        DIZLogError(kLogTag, "%@ name cannot be null or empty", logType);
        return std::nullopt;
    }
    if (utf16Length(*name) <= kMaxEventNameLength) return name;
    DIZLogWarning(kLogTag,
                  "%@ '%@' : name length cannot be longer than %d characters. Name will be truncated.",
                  logType, *name, kMaxEventNameLength);
    return prefixOfUtf16Length(*name, kMaxEventNameLength);
}

DIZProperties DIZAnalytics::validateProperties(const std::optional<DIZProperties>& properties,
                                               const std::string& logName, const std::string& logType) const {
    Dictionary dictionary;
    for (const auto& [key, value] : properties.value_or(DIZProperties{})) dictionary.set(key, Value(value));
    return DIZUtility::validateProperties(dictionary, logName, logType);
}

std::shared_ptr<DIZEventProperties> DIZAnalytics::validateDudIzizozEventProperties(
    const std::shared_ptr<DIZEventProperties>& properties) const {
    auto valid = std::make_shared<DIZEventProperties>();
    if (!properties) return valid;
    for (const auto& [key, property] : properties->properties()) {
        if (valid->count() >= kMaxTypedProperties) {
            DIZLogWarning(kLogTag,
                          "Typed properties cannot contain more than %d items. Skipping other properties.",
                          kMaxTypedProperties);
            break;
        }
        // Two keys that become equal once cut keep the later one.
        if (auto validated = validateDudIzizozTypedProperty(*property)) valid->setProperty(validated);
    }
    return valid;
}

namespace {
template <class Property, class Transform>
std::shared_ptr<DIZTypedProperty> copyOf(const DIZTypedProperty& property, Transform transformValue) {
    const auto* same = dynamic_cast<const Property*>(&property);
    if (!same) return nullptr;
    auto copy = std::make_shared<Property>();
    copy->setValue(transformValue(same->value()));
    return copy;
}
}  // namespace

std::shared_ptr<DIZTypedProperty> DIZAnalytics::validateDudIzizozTypedProperty(
    const DIZTypedProperty& property) const {
    auto unchanged = [](const auto& value) { return value; };
    std::shared_ptr<DIZTypedProperty> copy =
        copyOf<DIZStringTypedProperty>(property, [&](const std::optional<std::string>& value) {
            return value ? std::optional(validateDudIzizozStringTypedPropertyValue(*value)) : value;
        });
    if (!copy) copy = copyOf<DIZBooleanTypedProperty>(property, unchanged);
    if (!copy) copy = copyOf<DIZLongTypedProperty>(property, unchanged);
    if (!copy) copy = copyOf<DIZDoubleTypedProperty>(property, unchanged);
    if (!copy) copy = copyOf<DIZDateTimeTypedProperty>(property, unchanged);
    if (copy) copy->setName(validateDudIzizozPropertyName(property.name().value_or("")));
    return copy;
}

std::string DIZAnalytics::validateDudIzizozPropertyName(const std::string& key) const {
    if (utf16Length(key) <= kMaxTypedPropertyKeyLength) return key;
    DIZLogWarning(
        kLogTag,
        "Typed property '%@': key length cannot exceed %d characters. Property value will be truncated.", key,
        kMaxTypedPropertyKeyLength);
    return prefixOfUtf16Length(key, kMaxTypedPropertyKeyLength);
}

std::string DIZAnalytics::validateDudIzizozStringTypedPropertyValue(const std::string& value) const {
    if (utf16Length(value) <= kMaxTypedPropertyValueLength) return value;
    DIZLogWarning(
        kLogTag, "Typed property value length cannot exceed %d characters. Property value will be truncated.",
        kMaxTypedPropertyValueLength);
    return prefixOfUtf16Length(value, kMaxTypedPropertyValueLength);
}
