#include "platform/foundation/PropertyList.h"

#include <cmath>
#include <cstdlib>

#include "platform/foundation/PlistTree.h"

namespace plist {
namespace {

using tree::Node;

constexpr int64_t kPropertyListReadCorruptError = 3840;
constexpr int64_t kPropertyListWriteInvalidError = 3851;

// XML spells a date in whole seconds with a four-digit year; libplist writes nothing readable
// outside those years and truncates toward 2001 rather than down.
constexpr double kLatestXMLDate = 252423993600.0;  // 10000-01-01T00:00:00Z

std::optional<double> xmlDateSeconds(Date date) {
    const double seconds = date.timeIntervalSinceReferenceDate();
    if (!(seconds >= Date::distantPast().timeIntervalSinceReferenceDate() && seconds < kLatestXMLDate))
        return std::nullopt;
    return std::floor(seconds);
}

// Null when `value` holds what a property list of `format` cannot; `problem` then says what.
Node toNode(const Value& value, Format format, int depth, std::string& problem) {
    if (depth > tree::kMaxDepth) {
        problem = "The value is nested too deeply for a property list.";
        return Node();
    }
    switch (value.type()) {
        case Value::Type::Null:
            problem = "A property list cannot hold a null value.";
            return Node();
        case Value::Type::Bool:
            return Node(plist_new_bool(*value.asBool()));
        case Value::Type::Integer:
            return Node(tree::newInteger(*value.asInteger()));
        case Value::Type::Real:
            return Node(plist_new_real(*value.asReal()));
        case Value::Type::String:
            if (!tree::fitsStringNode(*value.asString())) {
                problem = "A property list string cannot hold a NUL character.";
                return Node();
            }
            return Node(plist_new_string(value.asString()->c_str()));
        case Value::Type::Data: {
            const auto& bytes = *value.asData();
            return Node(plist_new_data(bytes.empty() ? "" : reinterpret_cast<const char*>(bytes.data()),
                                       bytes.size()));
        }
        case Value::Type::Date: {
            if (format == Format::Binary)
                return Node(tree::newDate(value.asDate()->timeIntervalSinceReferenceDate()));
            auto seconds = xmlDateSeconds(*value.asDate());
            if (!seconds) {
                problem = "The date lies outside the years an XML property list can hold.";
                return Node();
            }
            return Node(tree::newDate(*seconds));
        }
        case Value::Type::Array: {
            Node array(plist_new_array());
            for (const auto& item : *value.asArray()) {
                Node child = toNode(item, format, depth + 1, problem);
                if (!child) return Node();
                plist_array_append_item(array.get(), child.release());
            }
            return array;
        }
        case Value::Type::Dictionary: {
            Node dictionary(plist_new_dict());
            for (const auto& [key, item] : *value.asDictionary()) {
                if (!tree::fitsStringNode(key)) {
                    problem = "A property list key cannot hold a NUL character.";
                    return Node();
                }
                Node child = toNode(item, format, depth + 1, problem);
                if (!child) return Node();
                plist_dict_set_item(dictionary.get(), key.c_str(), child.release());
            }
            return dictionary;
        }
        case Value::Type::Object:
            problem = "A property list cannot hold an object.";
            return Node();
    }
    problem = "The value has an unknown type.";
    return Node();
}

std::optional<Value> toValue(plist_t node, int depth, std::string& problem);

std::optional<Value> arrayValue(plist_t node, int depth, std::string& problem) {
    const auto nodes = tree::arrayItems(node);
    Value::Array items;
    items.reserve(nodes.size());
    for (plist_t itemNode : nodes) {
        auto item = toValue(itemNode, depth + 1, problem);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
    }
    return Value(std::move(items));
}

std::optional<Value> dictionaryValue(plist_t node, int depth, std::string& problem) {
    Dictionary entries;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    bool ok = true;
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        if (!item) {
            std::free(key);
            break;
        }
        auto value = toValue(item, depth + 1, problem);
        if (value && key) entries.set(key, std::move(*value));
        std::free(key);
        if (!value) {
            ok = false;
            break;
        }
    }
    std::free(iter);
    if (!ok) return std::nullopt;
    return Value(std::move(entries));
}

std::optional<Value> toValue(plist_t node, int depth, std::string& problem) {
    if (depth > tree::kMaxDepth) {
        problem = "The property list is nested too deeply.";
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t flag = 0;
            plist_get_bool_val(node, &flag);
            return Value(flag != 0);
        }
        case PLIST_UINT:
            return Value(tree::integerValue(node));
        case PLIST_REAL: {
            double real = 0;
            plist_get_real_val(node, &real);
            return Value(real);
        }
        case PLIST_STRING:
            return Value(tree::stringValue(node));
        case PLIST_DATA:
            return Value(tree::dataValue(node));
        case PLIST_DATE:
            return Value(Date::fromReference(tree::dateValue(node)));
        case PLIST_ARRAY:
            return arrayValue(node, depth, problem);
        case PLIST_DICT:
            return dictionaryValue(node, depth, problem);
        case PLIST_UID: {
            // Written as XML property lists spell a UID, so a keyed archive reads as plain values.
            uint64_t uid = 0;
            plist_get_uid_val(node, &uid);
            return Value(Dictionary{{"CF$UID", Value(uid)}});
        }
        default:
            problem = "The property list holds an object of an unknown type.";
            return std::nullopt;
    }
}

}  // namespace

std::optional<Data> write(const Value& value, Format format, Error* error) {
    std::string problem;
    Node root = toNode(value, format, 0, problem);
    if (!root) {
        setError(error, Error(kFoundationErrorDomain, kPropertyListWriteInvalidError, problem));
        return std::nullopt;
    }
    auto bytes = tree::serialize(root.get(), format == Format::Binary ? tree::Form::Binary : tree::Form::XML);
    if (!bytes) {
        setError(error, Error(kFoundationErrorDomain, kPropertyListWriteInvalidError,
                              "The property list could not be written."));
    }
    return bytes;
}

std::optional<Value> read(const Data& data, Error* error) {
    std::string problem;
    Node root = tree::parse(data, &problem);
    std::optional<Value> value;
    if (root) value = toValue(root.get(), 0, problem);
    if (!value) setError(error, Error(kFoundationErrorDomain, kPropertyListReadCorruptError, problem));
    return value;
}

}  // namespace plist
