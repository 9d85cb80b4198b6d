#include "measurement/interpreter/ZDMEventEditing.h"

#include <optional>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/interpreter/ZDMPEvent.h"

namespace {

// A measurement value as a plain one; nothing for a value of another kind, or for an array where
// arrays are not allowed (inside an item).
std::optional<Value> plainValue(const Value& value, bool arraysAllowed) {
    auto z = value.objectAs<ZDMValue>();
    if (!z) return std::nullopt;
    if (z->isDouble()) return Value(z->doubleValue());
    if (z->isInt64()) return Value(z->int64Value());
    if (z->isString()) return Value(*z->stringValue());
    if (!z->isArray() || !arraysAllowed) return std::nullopt;
    Value::Array items;
    for (const Value& item : *z->arrayValue()) {
        const Dictionary* entries = item.asDictionary();
        if (!entries) continue;
        Dictionary plain;
        for (const auto& [key, entry] : *entries)
            if (auto converted = plainValue(entry, false)) plain.set(key, std::move(*converted));
        items.push_back(Value(std::move(plain)));
    }
    return Value(std::move(items));
}

}  // namespace

std::shared_ptr<ZDMPEvent> ZDMEventEditEvent(const ZDMEvent& event) {
    const Value* publicName = ZDMInternalToPublicEventNameMap().find(event.name());
    Dictionary parameters;
    for (const auto& [key, value] : event.parameters())
        if (auto converted = plainValue(value, true)) parameters.set(key, std::move(*converted));
    return ZDMPEvent::initWithName(
        publicName && publicName->asString() ? *publicName->asString() : event.name(), event.timestamp(),
        std::move(parameters));
}

std::shared_ptr<ZDMEvent> ZDMEventFromEditEvent(const ZDMPEvent& editEvent) {
    const Value* internalName = ZDMPublicToInternalEventNameMap().find(editEvent.name());
    const std::string name =
        internalName && internalName->asString() ? *internalName->asString() : editEvent.name();
    const std::string* origin = editEvent.parameters()["_o"].asString();
    return ZDMEvent::initWithOrigin(origin ? *origin : "app", false, name, editEvent.timestamp(), 0,
                                    editEvent.parameters());
}
