#include "platform/foundation/KeyedArchiver.h"

#include <algorithm>
#include <map>

#include "platform/foundation/KeyedArchiveFormat.h"
#include "platform/foundation/PlistTree.h"

using namespace keyed_archive;
using plist::tree::Node;

namespace {
// Saturates instead of wrapping, far beyond any limit it is compared with.
uint64_t addElements(uint64_t total, uint64_t more) {
    constexpr uint64_t kSaturated = uint64_t{1} << 62;
    return std::min(kSaturated, total + std::min(kSaturated, more));
}
}  // namespace

Archived::Archived(const ::Value& value) {
    if (const auto* items = value.asArray()) {
        Array array;
        array.reserve(items->size());
        for (const auto& item : *items) array.emplace_back(item);
        *this = Archived(std::move(array));
    } else if (const auto* entries = value.asDictionary()) {
        Dictionary dictionary;
        dictionary.reserve(entries->size());
        for (const auto& [key, item] : *entries) dictionary.emplace_back(key, Archived(item));
        *this = Archived::dictionary(std::move(dictionary));
    } else if (!value.isNull()) {
        kind_ = Kind::Value;
        contents_ = std::make_shared<const Contents>(Contents{value, {}, {}, 1});
    }
}

Archived::Archived(CodablePtr object)
    : kind_(object ? Kind::Object : Kind::Null), object_(std::move(object)) {}

Archived::Archived(Array items) : kind_(Kind::Array) {
    uint64_t elements = 1;
    for (const auto& item : items) elements = addElements(elements, item.valueElements());
    contents_ = std::make_shared<const Contents>(Contents{{}, std::move(items), {}, elements});
}

Archived Archived::dictionary(Dictionary entries) {
    uint64_t elements = 1;
    for (const auto& entry : entries) elements = addElements(elements, entry.second.valueElements());
    Archived archived;
    archived.kind_ = Kind::Dictionary;
    archived.contents_ = std::make_shared<const Contents>(Contents{{}, {}, std::move(entries), elements});
    return archived;
}

std::optional<::Value> Archived::toValue() const {
    if (valueElements() > kMaxValueElements) return std::nullopt;
    return expanded();
}

std::optional<::Value> Archived::expanded() const {
    switch (kind_) {
        case Kind::Null:
            return ::Value();
        case Kind::Value:
            return contents_->value;
        case Kind::Object:
            return std::nullopt;
        case Kind::Array: {
            ::Value::Array items;
            items.reserve(contents_->array.size());
            for (const auto& item : contents_->array) {
                auto value = item.expanded();
                if (!value) return std::nullopt;
                items.push_back(std::move(*value));
            }
            return ::Value(std::move(items));
        }
        case Kind::Dictionary: {
            ::Dictionary entries;
            for (const auto& [key, item] : contents_->dictionary) {
                auto value = item.expanded();
                if (!value) return std::nullopt;
                entries.set(key, std::move(*value));
            }
            return ::Value(std::move(entries));
        }
    }
    return std::nullopt;
}

struct KeyedArchiver::State {
    // The dictionary being filled: "$top", or the entry of the object whose encodeWithCoder runs.
    struct Frame {
        plist_t dictionary;
        int unkeyedCount = 0;
    };

    KeyedArchiver& coder;
    bool requiresSecureCoding;
    Node top{plist_new_dict()};
    std::vector<Node> objects;
    std::map<const Codable*, uint64_t> objectUids;
    // Keeps every encoded object alive, so no later object can reuse an address in objectUids.
    std::vector<CodablePtr> encodedObjects;
    std::map<std::string, uint64_t> classUids;
    std::vector<Frame> frames;
    int depth = 0;
    std::optional<Error> error;
    Node archive;
    std::optional<Data> encoded;

    State(KeyedArchiver& owner, bool secure) : coder(owner), requiresSecureCoding(secure) {
        objects.emplace_back(plist_new_string(kNullObject));
        frames.push_back({top.get()});
    }

    void fail(int64_t code, std::string description) {
        if (!error) error = Error(kFoundationErrorDomain, code, std::move(description));
    }

    void set(std::string_view key, plist_t node) {
        plist_dict_set_item(frames.back().dictionary, std::string(key).c_str(), node);
    }

    uint64_t append(plist_t node) {
        objects.emplace_back(node);
        return objects.size() - 1;
    }

    uint64_t classUid(const std::string& name, std::vector<std::string> hierarchy) {
        if (auto found = classUids.find(name); found != classUids.end()) return found->second;
        if (hierarchy.empty()) hierarchy.push_back(name);
        plist_t classes = plist_new_array();
        for (const auto& ancestor : hierarchy)
            plist_array_append_item(classes, plist_new_string(ancestor.c_str()));
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, kClassesKey, classes);
        plist_dict_set_item(entry, kClassNameKey, plist_new_string(name.c_str()));
        return classUids[name] = append(entry);
    }

    plist_t platformObject(const char* className) {
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, kClassKey, plist_new_uid(classUid(className, {className, kObjectClass})));
        return entry;
    }

    uint64_t encode(const Archived& archived) {
        if (error || archived.isNull()) return 0;
        if (depth >= kMaxNesting) {
            fail(kCoderInvalidValueError, "The object graph is nested too deeply to archive.");
            return 0;
        }
        ++depth;
        uint64_t uid = 0;
        switch (archived.kind()) {
            case Archived::Kind::Null:
                break;
            case Archived::Kind::Value:
                uid = encodeValue(*archived.value());
                break;
            case Archived::Kind::Object:
                uid = encodeObject(archived.object());
                break;
            case Archived::Kind::Array:
                uid = encodeArray(*archived.array());
                break;
            case Archived::Kind::Dictionary:
                uid = encodeDictionary(*archived.dictionaryEntries());
                break;
        }
        --depth;
        return uid;
    }

    uint64_t encodeValue(const ::Value& value) {
        switch (value.type()) {
            case ::Value::Type::Null:
                return 0;
            case ::Value::Type::Bool:
                return append(plist_new_bool(*value.asBool()));
            case ::Value::Type::Integer:
                return append(plist::tree::newInteger(*value.asInteger()));
            case ::Value::Type::Real:
                return append(plist_new_real(*value.asReal()));
            case ::Value::Type::String:
                return encodeString(*value.asString());
            case ::Value::Type::Data: {
                const auto& bytes = *value.asData();
                const char* start = bytes.empty() ? "" : reinterpret_cast<const char*>(bytes.data());
                return append(plist_new_data(start, bytes.size()));
            }
            case ::Value::Type::Date: {
                plist_t entry = platformObject(kDateClass);
                plist_dict_set_item(entry, kTimeField,
                                    plist_new_real(value.asDate()->timeIntervalSinceReferenceDate()));
                return append(entry);
            }
            case ::Value::Type::Array:
            case ::Value::Type::Dictionary:
                return encode(Archived(value));
            case ::Value::Type::Object:
                fail(kCoderInvalidValueError, "An object of this class cannot be archived.");
                return 0;
        }
        return 0;
    }

    uint64_t encodeString(const std::string& text) {
        if (!plist::tree::fitsStringNode(text)) {
            fail(kCoderInvalidValueError, "A string holding a NUL character cannot be archived.");
            return 0;
        }
        return append(plist_new_string(text.c_str()));
    }

    uint64_t encodeArray(const Archived::Array& items) {
        plist_t entry = platformObject(kArrayClass);
        const uint64_t uid = append(entry);
        plist_t refs = plist_new_array();
        plist_dict_set_item(entry, kObjectsField, refs);
        for (const auto& item : items) plist_array_append_item(refs, plist_new_uid(encode(item)));
        return uid;
    }

    uint64_t encodeDictionary(const Archived::Dictionary& entries) {
        plist_t entry = platformObject(kDictionaryClass);
        const uint64_t uid = append(entry);
        plist_t keys = plist_new_array();
        plist_t refs = plist_new_array();
        plist_dict_set_item(entry, kKeysField, keys);
        plist_dict_set_item(entry, kObjectsField, refs);
        for (const auto& [key, item] : entries) {
            plist_array_append_item(keys, plist_new_uid(encodeString(key)));
            plist_array_append_item(refs, plist_new_uid(encode(item)));
        }
        return uid;
    }

    uint64_t encodeObject(const CodablePtr& object) {
        if (auto found = objectUids.find(object.get()); found != objectUids.end()) return found->second;
        if (requiresSecureCoding && !object->supportsSecureCoding()) {
            fail(kCoderInvalidValueError,
                 "Class '" + object->archiveClassName() +
                     "' does not support secure coding, which the archiver requires.");
            return 0;
        }
        plist_t entry = plist_new_dict();
        const uint64_t uid = append(entry);
        objectUids[object.get()] = uid;
        encodedObjects.push_back(object);
        plist_dict_set_item(
            entry, kClassKey,
            plist_new_uid(classUid(object->archiveClassName(), object->archiveClassHierarchy())));
        frames.push_back({entry});
        object->encodeWithCoder(coder);
        frames.pop_back();
        return uid;
    }
};

KeyedArchiver::KeyedArchiver(bool requiresSecureCoding)
    : state_(std::make_unique<State>(*this, requiresSecureCoding)) {}

KeyedArchiver::~KeyedArchiver() = default;

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Archived& object,
                                                              bool requiresSecureCoding, Error* error) {
    KeyedArchiver archiver(requiresSecureCoding);
    archiver.encodeObject(object, "root");
    return archiver.encodedData(error);
}

bool KeyedArchiver::requiresSecureCoding() const {
    return state_->requiresSecureCoding;
}

void KeyedArchiver::encodeObject(const Archived& object, std::string_view key) {
    const uint64_t uid = state_->encode(object);
    state_->set(key, plist_new_uid(uid));
}

void KeyedArchiver::encodeObject(const Archived& object) {
    const std::string key = "$" + std::to_string(state_->frames.back().unkeyedCount++);
    encodeObject(object, key);
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    state_->set(key, plist_new_bool(value));
}

void KeyedArchiver::encodeInt32(int32_t value, std::string_view key) {
    encodeInt64(value, key);
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
    state_->set(key, plist::tree::newInteger(value));
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    state_->set(key, plist_new_real(value));
}

std::optional<Data> KeyedArchiver::encodedData(Error* error) {
    State& s = *state_;
    if (s.error) {
        setError(error, *s.error);
        return std::nullopt;
    }
    if (!s.encoded) {
        plist_t objects = plist_new_array();
        for (auto& object : s.objects) plist_array_append_item(objects, object.release());
        s.archive.reset(plist_new_dict());
        plist_dict_set_item(s.archive.get(), kVersionKey, plist_new_uint(kVersion));
        plist_dict_set_item(s.archive.get(), kArchiverKey, plist_new_string(kArchiverName));
        plist_dict_set_item(s.archive.get(), kTopKey, s.top.release());
        plist_dict_set_item(s.archive.get(), kObjectsKey, objects);
        s.encoded = plist::tree::serialize(s.archive.get(), plist::tree::Form::Binary);
    }
    if (!s.encoded)
        setError(error,
                 Error(kFoundationErrorDomain, kCoderInvalidValueError, "The archive could not be written."));
    return s.encoded;
}
