#pragma once
// Helpers for the crash models' fields that hold other models: lists and single records, compared,
// written to JSON and archived the same way by every model.
#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

// A list that may be absent; an absent list and an empty one differ on the wire.
template <class T>
using DIZList = std::optional<std::vector<std::shared_ptr<T>>>;

// Two absent lists are equal; present ones compare element by element, in order.
template <class T>
bool DIZEqualLists(const DIZList<T>& a, const DIZList<T>& b) {
    if (!a || !b) return !a && !b;
    return std::equal(a->begin(), a->end(), b->begin(), b->end(),
                      [](const auto& x, const auto& y) { return DIZEqualObjects(x, y); });
}

template <class T>
Value DIZSerialized(const std::shared_ptr<T>& object) {
    return Value(object->serializeToDictionary().value_or(Dictionary{}));
}

template <class T>
void DIZSetIfPresent(Dictionary& dictionary, const char* key, const std::shared_ptr<T>& object) {
    if (object) dictionary.set(key, DIZSerialized(object));
}

// An array of the elements' dictionaries, in list order.
template <class T>
void DIZSetIfPresent(Dictionary& dictionary, const char* key, const DIZList<T>& list) {
    if (!list) return;
    Value::Array items;
    for (const auto& item : *list) {
        if (item) items.push_back(DIZSerialized(item));
    }
    dictionary.set(key, Value(std::move(items)));
}

template <class T>
Archived DIZArchived(const std::shared_ptr<T>& object) {
    return object ? Archived(object) : Archived();
}

template <class T>
Archived DIZArchived(const DIZList<T>& list) {
    return list ? Archived(*list) : Archived();
}

// Reads an optional record; false when the archive holds something else under the key.
template <class T>
bool DIZDecodeObject(KeyedUnarchiver& coder, std::string_view key, std::shared_ptr<T>& out) {
    Archived stored = coder.decodeObject(key);
    out = stored.objectAs<T>();
    return stored.isNull() || out;
}

// Reads an optional list of records; false when the archive holds anything but such a list.
template <class T>
bool DIZDecodeList(KeyedUnarchiver& coder, std::string_view key, DIZList<T>& out) {
    Archived stored = coder.decodeObject(key);
    out = stored.arrayOf<T>();
    return stored.isNull() || out;
}
