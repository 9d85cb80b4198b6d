#include "DudIzizozAnalytics/Model/DIZEventLog.h"

#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

namespace {
constexpr const char* kAnalyticsLogTag = "DudIzizozAnalytics";
constexpr const char* kBaseType = "baseType";
constexpr const char* kBaseData = "baseData";
const std::string kBaseTypePrefix = std::string(kBaseType) + ".";
const std::string kBaseDataPrefix = std::string(kBaseData) + ".";
constexpr const char* kMetadataFields = "f";

std::vector<std::string> splitAtDots(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1)
        parts.push_back(name.substr(start, dot - start));
    parts.push_back(name.substr(start));
    return parts;
}

// The dictionary under `key`, made when missing; null when the key holds a value.
Dictionary* childDictionary(Dictionary& node, const std::string& key) {
    Value* child = node.find(key);
    if (!child) {
        node.set(key, Value(Dictionary{}));
        child = node.find(key);
    }
    return child->asDictionary();
}

std::optional<Value> jsonValueOf(const DIZTypedProperty& property) {
    if (auto* p = dynamic_cast<const DIZStringTypedProperty*>(&property))
        return p->value() ? std::optional<Value>(*p->value()) : std::nullopt;
    if (auto* p = dynamic_cast<const DIZBooleanTypedProperty*>(&property)) return Value(p->value());
    if (auto* p = dynamic_cast<const DIZLongTypedProperty*>(&property)) return Value(p->value());
    if (auto* p = dynamic_cast<const DIZDoubleTypedProperty*>(&property)) return Value(p->value());
    if (auto* p = dynamic_cast<const DIZDateTimeTypedProperty*>(&property))
        return p->value() ? std::optional<Value>(DIZUtility::dateToISO8601(*p->value())) : std::nullopt;
    return std::nullopt;
}

// "baseType" and "baseData" only travel together: whichever comes without the other is dropped.
void pairBaseTypeWithBaseData(DIZEventProperties& properties) {
    const auto entries = properties.properties();
    const bool hasBaseData = std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.first.starts_with(kBaseDataPrefix);
    });
    auto baseType = properties.property(kBaseType);
    if (baseType && dynamic_cast<DIZStringTypedProperty*>(baseType.get())) {
        if (hasBaseData) return;
        DIZLogWarning(kAnalyticsLogTag, "baseType was set but baseData is missing.");
        properties.removeProperty(kBaseType);
        return;
    }
    for (const auto& [key, property] : entries)
        if (key.starts_with(kBaseDataPrefix)) properties.removeProperty(key);
    if (hasBaseData) DIZLogWarning(kAnalyticsLogTag, "baseData was set but baseType is missing or invalid.");
    properties.removeProperty(kBaseType);
}
}  // namespace

const std::map<std::string, int64_t>& DIZEventLog::metadataTypeIdMapping() {
    static const std::map<std::string, int64_t> mapping{{"long", 4}, {"double", 6}, {"dateTime", 9}};
    return mapping;
}

std::optional<Dictionary> DIZEventLog::serializeToDictionary() const {
    auto dictionary = DIZLogWithNameAndProperties::serializeToDictionary();
    if (!dictionary) return dictionary;
    DIZSetIfPresent(*dictionary, "id", eventId_);
    if (typedProperties_) dictionary->set("typedProperties", Value(typedProperties_->serializeToArray()));
    return dictionary;
}

bool DIZEventLog::isValid() const {
    if (!DIZLogWithNameAndProperties::isValid()) return false;
    if (!eventId_) DIZLogInvalidField(archiveClassName(), "eventId");
    return eventId_.has_value();
}

bool DIZEventLog::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZEventLog*>(&other);
    return log && DIZLogWithNameAndProperties::isEqual(other) && eventId_ == log->eventId_;
}

std::shared_ptr<DIZCoreSchemaLog> DIZEventLog::toCoreSchemaLogForTargetToken(const std::string& token,
                                                                             int64_t flags) const {
    auto log = DIZLogWithNameAndProperties::toCoreSchemaLogForTargetToken(token, flags);
    log->setName(name());
    setPropertiesAndMetadataForCSLog(*log);
    log->setTag(tag());
    return log;
}

void DIZEventLog::setPropertiesAndMetadataForCSLog(DIZCoreSchemaLog& log) const {
    if (!typedProperties_) return;
    // The pairing rule drops entries; the event keeps its own bag as it was tracked.
    DIZEventProperties properties(*typedProperties_);
    pairBaseTypeWithBaseData(properties);
    Dictionary metadata, tree;
    for (const auto& [key, property] : properties.properties()) {
        const auto& name = property->name().value_or(key);
        if (name.starts_with(kBaseTypePrefix)) {
            DIZLogWarning(kAnalyticsLogTag, "baseType must not be an object.");
        } else if (name == kBaseData) {
            DIZLogWarning(kAnalyticsLogTag, "baseData must be an object.");
        } else {
            addTypedProperty(*property, metadata, tree);
        }
    }
    if (!tree.empty()) {
        auto data = std::make_shared<DIZCSData>();
        data->setProperties(std::move(tree));
        log.setData(std::move(data));
    }
    if (!metadata.empty() && log.ext()) {
        auto extension = std::make_shared<DIZMetadataExtension>();
        extension->setMetadata(std::move(metadata));
        log.ext()->setMetadataExt(std::move(extension));
    }
}

void DIZEventLog::addTypedProperty(const DIZTypedProperty& property, Dictionary& metadata,
                                   Dictionary& properties) const {
    const auto parts = splitAtDots(property.name().value_or(""));
    // A part that already holds a value leaves no tree to place the property in. Only parts that
    // existed can hold one, so nothing was made on the way when that happens.
    Dictionary* node = &properties;
    for (size_t i = 0; node && i + 1 < parts.size(); ++i) node = childDictionary(*node, parts[i]);
    if (!addTypedProperty(property, node, parts.back())) return;

    // Metadata is written only for a placed value, so a refused property leaves none behind.
    const auto typeId = metadataTypeIdMapping().find(property.type().value_or(""));
    if (typeId == metadataTypeIdMapping().end()) return;
    Dictionary* meta = &metadata;
    for (size_t i = 0; meta && i + 1 < parts.size(); ++i) {
        Dictionary* fields = childDictionary(*meta, kMetadataFields);
        meta = fields ? childDictionary(*fields, parts[i]) : nullptr;
    }
    if (Dictionary* fields = meta ? childDictionary(*meta, kMetadataFields) : nullptr)
        fields->set(parts.back(), Value(typeId->second));
}

bool DIZEventLog::addTypedProperty(const DIZTypedProperty& property, Dictionary* tree,
                                   const std::string& key) {
    auto value = jsonValueOf(property);
    if (tree && value && !tree->contains(key)) {
        tree->set(key, std::move(*value));
        return true;
    }
    DIZLogWarning(kAnalyticsLogTag, "Property key '%@' already has a value, choosing one.", key);
    return false;
}

void DIZEventLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZLogWithNameAndProperties::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(eventId_), "id");
    coder.encodeObject(typedProperties_ ? Archived(typedProperties_) : Archived(), "typedProperties");
}

bool DIZEventLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZLogWithNameAndProperties::initWithCoder(coder)) return false;
    eventId_ = coder.decodeString("id");
    Archived stored = coder.decodeObject("typedProperties");
    typedProperties_ = stored.objectAs<DIZEventProperties>();
    return stored.isNull() || typedProperties_ != nullptr;
}
