#include "platform/foundation/JSON.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/foundation/Base64.h"

namespace {
using Json = nlohmann::ordered_json;

constexpr int kMaxDepth = 512;

Json toJson(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null: return nullptr;
        case Value::Type::Bool: return *value.asBool();
        case Value::Type::Integer: return *value.asInteger();
        case Value::Type::Real: {
            double d = *value.asReal();
            return std::isfinite(d) ? Json(d) : Json(nullptr);  // JSON has no NaN or infinity
        }
        case Value::Type::String: return *value.asString();
        case Value::Type::Data: return base64Encode(*value.asData());
        case Value::Type::Date: return value.asDate()->unixMillis();
        case Value::Type::Array: {
            Json out = Json::array();
            for (const auto& item : *value.asArray()) out.push_back(toJson(item));
            return out;
        }
        case Value::Type::Dictionary: {
            Json out = Json::object();
            for (const auto& [key, item] : *value.asDictionary()) out[key] = toJson(item);
            return out;
        }
    }
    return nullptr;
}

Value fromJson(const Json& json) {
    switch (json.type()) {
        case Json::value_t::boolean: return json.get<bool>();
        case Json::value_t::number_integer: return json.get<int64_t>();
        case Json::value_t::number_unsigned: {
            uint64_t u = json.get<uint64_t>();
            return u <= static_cast<uint64_t>(INT64_MAX) ? Value(static_cast<int64_t>(u)) : Value(static_cast<double>(u));
        }
        case Json::value_t::number_float: return json.get<double>();
        case Json::value_t::string: return json.get<std::string>();
        case Json::value_t::array: {
            Value::Array out;
            out.reserve(json.size());
            for (const auto& item : json) out.push_back(fromJson(item));
            return out;
        }
        case Json::value_t::object: {
            Dictionary out;
            for (const auto& [key, item] : json.items()) out.set(key, fromJson(item));
            return out;
        }
        default: return Value();
    }
}
}  // namespace

std::string json::write(const Value& value, Style style) {
    // Invalid UTF-8 in a string is replaced rather than thrown on: output never fails.
    return toJson(value).dump(style == Style::Pretty ? 2 : -1, ' ', false, Json::error_handler_t::replace);
}

std::optional<Value> json::parse(std::string_view text, Error* error) {
    int depth = 0;
    bool tooDeep = false;
    auto limitDepth = [&](int, Json::parse_event_t event, Json&) {
        if (event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) {
            if (++depth > kMaxDepth) tooDeep = true;
        } else if (event == Json::parse_event_t::object_end || event == Json::parse_event_t::array_end) {
            --depth;
        }
        return !tooDeep;
    };
    Json parsed = Json::parse(text.begin(), text.end(), limitDepth, false);
    if (parsed.is_discarded() || tooDeep) {
        setError(error, Error(kFoundationErrorDomain, 3840,
                              tooDeep ? "The JSON text is nested too deeply." : "The data is not valid JSON."));
        return std::nullopt;
    }
    return fromJson(parsed);
}
