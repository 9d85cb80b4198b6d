// The event-aggregate, user-property and conditional-user-property operations of the measurement
// database.
#include <string_view>

#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMNameMaps.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/dispatch/Clock.h"

namespace {

using Record = ZDMDatabase::Record;

constexpr const char* kEventsTable = "events";
constexpr const char* kUserAttributesTable = "user_attributes";
constexpr const char* kConditionalPropertiesTable = "conditional_properties";
constexpr int64_t kMaxRowsPerNameTable = 1000;

// sqlite's LIKE takes "_" and "%" as wildcards; a name or origin given by a caller is matched
// literally, so those and the escape character itself are escaped with "!".
std::string likeLiteral(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '!' || c == '_' || c == '%') escaped += '!';
        escaped += c;
    }
    return escaped;
}

// A user property value or a conditional property value as a column: the text of a string, the
// number of a double, the int64 of anything else.
Value storedValue(const ZDMValue& value) {
    if (auto text = value.stringValue()) return Value(*text);
    if (value.isDouble()) return Value(value.doubleValue());
    return Value(value.int64Value());
}

std::optional<std::shared_ptr<ZDMEventAggregates>> eventAggregatesFromRow(const Record& row, Error*) {
    const std::string* name = row["name"].asString();
    auto aggregates = ZDMEventAggregates::initWithName(
        name ? *name : std::string(), static_cast<int32_t>(row["lifetime_count"].integerOr(0)),
        static_cast<int32_t>(row["current_bundle_count"].integerOr(0)),
        static_cast<int32_t>(row["current_session_count"].integerOr(0)),
        row["last_fire_timestamp"].realOr(0));
    if (!aggregates) return std::nullopt;
    aggregates->setLastBundledTimestamp(row["last_bundled_timestamp"].realOr(0.0));
    if (row["last_sampled_complex_event_id"].isNumber())
        aggregates->setLastSampledComplexEventID(row["last_sampled_complex_event_id"]);
    aggregates->setLastSamplingRate(static_cast<int32_t>(row["last_sampling_rate"].integerOr(1)));
    aggregates->setLastExemptFromSampling(row["last_exempt_from_sampling"].integerOr(0) != 0);
    aggregates->setLastBundledDay(static_cast<int32_t>(row["last_bundled_day"].integerOr(0)));
    return aggregates;
}

std::optional<std::shared_ptr<ZDMUserAttribute>> userAttributeFromRow(const Record& row, Error*) {
    auto value = ZDMValue::valueFromObject(row["value"]);
    if (!value) return std::nullopt;
    auto attribute = ZDMUserAttribute::initWithOrigin(row["origin"].stringOr(""), row["name"].stringOr(""),
                                                      std::move(value), row["set_timestamp"].realOr(0));
    if (!attribute) return std::nullopt;
    return attribute;
}

// Each of the three events is optional; one that is stored but does not decode refuses the row.
bool readStoredEvent(const Record& row, std::string_view column,
                     void (ZDMConditionalUserProperty::*set)(std::shared_ptr<ZDMEvent>),
                     ZDMConditionalUserProperty& property, Error* error);

std::optional<std::shared_ptr<ZDMConditionalUserProperty>> conditionalPropertyFromRow(const Record& row,
                                                                                      Error* error) {
    auto property = std::make_shared<ZDMConditionalUserProperty>();
    property->setName(row["name"].stringOr(""));
    property->setOrigin(row["origin"].stringOr(""));
    property->setValue(ZDMValue::valueFromObject(row["value"]));
    property->setTriggerTimeout(row["trigger_timeout"].realOr(0));
    property->setTimeToLive(row["time_to_live"].realOr(0));
    if (const std::string* trigger = row["trigger_event_name"].asString())
        property->setTriggerEventName(*trigger);
    if (!readStoredEvent(row, "triggered_event", &ZDMConditionalUserProperty::setTriggeredEvent, *property,
                         error) ||
        !readStoredEvent(row, "timed_out_event", &ZDMConditionalUserProperty::setTimedOutEvent, *property,
                         error) ||
        !readStoredEvent(row, "expired_event", &ZDMConditionalUserProperty::setExpiredEvent, *property,
                         error))
        return std::nullopt;
    property->setActive(row["active"].integerOr(0) != 0);
    property->setCreationTimestamp(row["creation_timestamp"].realOr(0));
    property->setTriggeredTimestamp(row["triggered_timestamp"].realOr(0));
    return property;
}

bool readStoredEvent(const Record& row, std::string_view column,
                     void (ZDMConditionalUserProperty::*set)(std::shared_ptr<ZDMEvent>),
                     ZDMConditionalUserProperty& property, Error* error) {
    const Value& stored = row[column];
    if (stored.isNull()) return true;
    auto event = ZDMDatabase::eventFromStoredObject(stored, error);
    if (!event) return false;
    (property.*set)(std::move(event));
    return true;
}

std::optional<Record> conditionalPropertyRow(const ZDMConditionalUserProperty* property, Error* error) {
    if (!ZDMCheckObjectOrSetError(
            property, error, 3,
            "Received empty conditional user property for getting dictionary representation") ||
        !ZDMCheckLengthOrSetError(
            property->name().size(), error, 3,
            "Received conditional user property with empty name for getting dictionary representation") ||
        !ZDMCheckLengthOrSetError(
            property->origin().size(), error, 3,
            "Received conditional user property with empty origin for getting dictionary representation") ||
        !ZDMCheckObjectOrSetError(
            property->value(), error, 3,
            "Received conditional user property with nil value for getting dictionary representation"))
        return std::nullopt;
    Record row{{"name", Value(property->name())},
               {"origin", Value(property->origin())},
               {"value", storedValue(*property->value())},
               {"creation_timestamp", Value(property->creationTimestamp())},
               {"active", Value(property->isActive())},
               {"trigger_timeout", Value(property->triggerTimeout())},
               {"triggered_timestamp", Value(property->triggeredTimestamp())},
               {"time_to_live", Value(property->timeToLive())}};
    if (!property->triggerEventName().empty())
        row.set("trigger_event_name", Value(property->triggerEventName()));
    const std::pair<const char*, const std::shared_ptr<ZDMEvent>*> events[] = {
        {"triggered_event", &property->triggeredEvent()},
        {"timed_out_event", &property->timedOutEvent()},
        {"expired_event", &property->expiredEvent()}};
    for (const auto& [column, event] : events)
        if (*event)
            if (auto encoding = (*event)->protoEvent()->protoBuffer())
                row.set(column, Value(std::move(*encoding)));
    return row;
}

}  // namespace

std::shared_ptr<ZDMEvent> ZDMDatabase::eventFromStoredObject(const Value& object, Error* error) {
    const Data* data = object.asData();
    if (!ZDMCheckConditionOrSetError(data != nullptr, error, 2,
                                     "Failed to convert data to an event. Data must be a NSData instance"))
        return nullptr;
    auto proto = ZDMPBEvent::initWithBuffer(*data);
    if (!ZDMCheckObjectOrSetError(proto, error, 2, "Failed to parse event from data")) return nullptr;
    auto event = ZDMEvent::initWithEventProto(proto.get());
    ZDMCheckObjectOrSetError(event, error, 2, "Failed to initialize event from proto data");
    return event;
}

std::optional<int64_t> ZDMDatabase::countForQuery(const std::string& query, const Value::Array& values,
                                                  Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto number = sqliteStore_->numberForQuery(query, values, error);
    if (!number) return std::nullopt;
    return number->asInteger();
}

// Event aggregates.

std::optional<int64_t> ZDMDatabase::publicEventCount(Error* error) {
    return countForQuery("SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
}

std::optional<std::vector<std::shared_ptr<ZDMEventAggregates>>> ZDMDatabase::allEventAggregates(
    Error* error) {
    return allDataTypesFromTableWithName<std::shared_ptr<ZDMEventAggregates>>(
        kEventsTable, kMaxRowsPerNameTable, error, eventAggregatesFromRow);
}

std::shared_ptr<ZDMEventAggregates> ZDMDatabase::eventAggregatesWithName(const std::string& name,
                                                                         Error* error) {
    auto records = dataTypesFromTableWithName<std::shared_ptr<ZDMEventAggregates>>(
        kEventsTable, "name", Value(name), error, eventAggregatesFromRow);
    return records && !records->empty() ? records->front() : nullptr;
}

bool ZDMDatabase::updateEventAggregates(const ZDMEventAggregates* aggregates, Error* error) {
    if (!ZDMCheckObjectOrSetError(
            aggregates, error, 3,
            "Received empty event aggregates object for getting dictionary representation") ||
        !ZDMCheckLengthOrSetError(
            aggregates->name().size(), error, 1,
            "Received event aggregates object with empty name for getting dictionary representation"))
        return false;
    Record row{{"name", Value(aggregates->name())},
               {"lifetime_count", Value(aggregates->lifetimeCount())},
               {"current_bundle_count", Value(aggregates->currentBundleCount())},
               {"last_fire_timestamp", Value(aggregates->lastFireTimestamp())},
               {"last_bundled_timestamp", Value(aggregates->lastBundledTimestamp())},
               {"last_sampling_rate", Value(aggregates->lastSamplingRate())},
               {"last_exempt_from_sampling", Value(aggregates->lastExemptFromSampling())},
               {"last_bundled_day", Value(aggregates->lastBundledDay())},
               {"current_session_count", Value(aggregates->currentSessionCount())}};
    if (!aggregates->lastSampledComplexEventID().isNull())
        row.set("last_sampled_complex_event_id", aggregates->lastSampledComplexEventID());
    return upsertDataType(row, kEventsTable, "name", Value(aggregates->name()), kMaxRowsPerNameTable, error);
}

bool ZDMDatabase::clearCurrentSessionCounts(Error* error) {
    return sqliteStore_ && sqliteStore_->updateAllRecordsInTableWithName(
                               kEventsTable, "current_session_count", Value(0), error);
}

// User properties.

std::optional<int64_t> ZDMDatabase::publicUserAttributeCount(Error* error) {
    return countForQuery("SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'", {},
                         error);
}

std::optional<int64_t> ZDMDatabase::userAttributeCountForOrigin(const std::string& origin, Error* error) {
    if (!ZDMCheckLengthOrSetError(origin.size(), error, 1,
                                  "Received empty user property origin for count query"))
        return std::nullopt;
    return countForQuery("SELECT count(1) FROM user_attributes WHERE origin = ?", {Value(origin)}, error);
}

std::optional<bool> ZDMDatabase::containsUserAttributeWithName(const std::string& name, Error* error) {
    if (!ZDMCheckLengthOrSetError(name.size(), error, 1,
                                  "Received empty user property name for exists query"))
        return std::nullopt;
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)",
                           {Value(name)}, error);
}

std::shared_ptr<ZDMUserAttribute> ZDMDatabase::userAttributeWithName(const std::string& name, Error* error) {
    auto records = dataTypesFromTableWithName<std::shared_ptr<ZDMUserAttribute>>(
        kUserAttributesTable, "name", Value(name), error, userAttributeFromRow);
    return records && !records->empty() ? records->front() : nullptr;
}

std::optional<std::vector<std::shared_ptr<ZDMUserAttribute>>> ZDMDatabase::userAttributesIncludingInternal(
    bool includeInternal, Error* error) {
    auto attributes = allDataTypesFromTableWithName<std::shared_ptr<ZDMUserAttribute>>(
        kUserAttributesTable, kMaxRowsPerNameTable, error, userAttributeFromRow);
    if (!attributes || includeInternal) return attributes;
    std::erase_if(*attributes, [](const std::shared_ptr<ZDMUserAttribute>& attribute) {
        const std::string& name = attribute->name();
        return name.starts_with('_') || ZDMDataTypeValidator::hasReservedPrefixes(name) ||
               ZDMPublicToInternalUserPropertyNameMap().contains(name);
    });
    return attributes;
}

std::optional<std::vector<std::shared_ptr<ZDMUserAttribute>>> ZDMDatabase::allLifetimeValueUserAttributes(
    Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT * FROM user_attributes WHERE name LIKE ? || '%' ESCAPE '!' ORDER BY set_timestamp DESC",
        {Value(likeLiteral("_ltv_"))}, error);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<ZDMUserAttribute>> attributes;
    for (const Record& row : *rows) {
        auto attribute = userAttributeFromRow(row, error);
        if (!attribute) return std::nullopt;
        attributes.push_back(std::move(*attribute));
    }
    return attributes;
}

bool ZDMDatabase::updateUserAttribute(const ZDMUserAttribute* attribute, Error* error) {
    if (!ZDMCheckObjectOrSetError(attribute, error, 3,
                                  "Received empty user property for getting dictionary representation") ||
        !ZDMCheckLengthOrSetError(
            attribute->origin().size(), error, 3,
            "Received user property with empty origin for getting dictionary representation") ||
        !ZDMCheckLengthOrSetError(
            attribute->name().size(), error, 1,
            "Received user property with empty name for getting dictionary representation") ||
        !ZDMCheckObjectOrSetError(
            attribute->value(), error, 3,
            "Received user property with nil value for getting dictionary representation"))
        return false;
    const auto text = attribute->value()->stringValue();
    if (!ZDMCheckConditionOrSetError(!text || !text->empty(), error, 1,
                                     "Received empty string value for user property"))
        return false;
    const Record row{{"origin", Value(attribute->origin())},
                     {"name", Value(attribute->name())},
                     {"value", storedValue(*attribute->value())},
                     {"set_timestamp", Value(attribute->lastSetTimestamp())}};
    return upsertDataType(row, kUserAttributesTable, "name", Value(attribute->name()), kMaxRowsPerNameTable,
                          error);
}

bool ZDMDatabase::deleteUserAttributeWithName(const std::string& name, Error* error) {
    return sqliteStore_ &&
           sqliteStore_->deleteRecordFromTableWithName(kUserAttributesTable, "name", Value(name), error);
}

// Conditional user properties.

std::shared_ptr<ZDMConditionalUserProperty> ZDMDatabase::conditionalUserPropertyWithName(
    const std::string& name, Error* error) {
    auto records = dataTypesFromTableWithName<std::shared_ptr<ZDMConditionalUserProperty>>(
        kConditionalPropertiesTable, "name", Value(name), error, conditionalPropertyFromRow);
    return records && !records->empty() ? records->front() : nullptr;
}

bool ZDMDatabase::updateConditionalUserProperty(const ZDMConditionalUserProperty* property, Error* error) {
    const auto row = conditionalPropertyRow(property, error);
    // The write replaces the whole row, so a column left out of the record is cleared.
    return row && upsertDataType(*row, kConditionalPropertiesTable, "name", Value(property->name()),
                                 kMaxRowsPerNameTable, error);
}

bool ZDMDatabase::deleteConditionalUserPropertyWithName(const std::string& name, Error* error) {
    return sqliteStore_ && sqliteStore_->deleteRecordFromTableWithName(kConditionalPropertiesTable, "name",
                                                                       Value(name), error);
}

std::optional<ZDMDatabase::ConditionalUserProperties> ZDMDatabase::timedOutConditionalUserPropertiesWithError(
    Error* error) {
    return conditionalUserPropertiesWithCondition(
        "active=0 and abs(? - creation_timestamp) > trigger_timeout", {Value(Clock::current().now())}, error);
}

std::optional<ZDMDatabase::ConditionalUserProperties> ZDMDatabase::expiredConditionalUserPropertiesWithError(
    Error* error) {
    return conditionalUserPropertiesWithCondition("active=1 and abs(? - triggered_timestamp) > time_to_live",
                                                  {Value(Clock::current().now())}, error);
}

std::optional<ZDMDatabase::ConditionalUserProperties>
ZDMDatabase::triggeredConditionalUserPropertiesWithEventName(const std::string& eventName, Error* error) {
    if (!ZDMCheckLengthOrSetError(
            eventName.size(), error, 1,
            "Received nil/empty event name for querying triggered conditional user properties"))
        return std::nullopt;
    return conditionalUserPropertiesWithCondition(
        "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout",
        {Value(eventName), Value(Clock::current().now())}, error);
}

std::optional<ZDMDatabase::ConditionalUserProperties> ZDMDatabase::conditionalUserPropertiesWithPrefix(
    const std::string& prefix, const std::string& origin, Error* error) {
    std::string condition;
    Value::Array values;
    if (!origin.empty()) {
        condition = "origin LIKE ? ESCAPE '!'";
        values.push_back(Value(likeLiteral(origin)));
    }
    if (!prefix.empty()) {
        condition += std::string(condition.empty() ? "" : " AND ") + "name LIKE ? || '%' ESCAPE '!'";
        values.push_back(Value(likeLiteral(prefix)));
    }
    return conditionalUserPropertiesWithCondition(condition.empty() ? "1 == 1" : condition, values, error);
}

std::optional<ZDMDatabase::ConditionalUserProperties> ZDMDatabase::conditionalUserPropertiesWithCondition(
    const std::string& condition, const Value::Array& parameterValues, Error* error) {
    if (!ZDMCheckLengthOrSetError(condition.size(), error, 1,
                                  "Received empty condition for querying a conditional user property") ||
        !sqliteStore_)
        return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        std::string("SELECT rowid, * FROM ") + kConditionalPropertiesTable + " WHERE " + condition,
        parameterValues, error);
    if (!rows) return std::nullopt;
    ConditionalUserProperties properties;
    for (const Record& row : *rows) {
        auto property = conditionalPropertyFromRow(row, error);
        if (!property) return std::nullopt;
        properties.push_back(std::move(*property));
    }
    return properties;
}
