#include "measurement/foundation/ZDMDescription.h"

#include <charconv>
#include <cmath>
#include <ctime>

#include "platform/foundation/JSON.h"

namespace {
std::string realText(double value) {
    char digits[64];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

// As the platform prints a date: "2026-01-01 00:00:00 +0000".
std::string dateText(Date date) {
    const double seconds = std::floor(date.timeIntervalSince1970());
    if (!(std::fabs(seconds) < 1e15)) return realText(date.timeIntervalSince1970());
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64];
    if (!gmtime_r(&time, &parts) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts))
        return realText(date.timeIntervalSince1970());
    return text;
}

std::string hexText(const Data& data) {
    static const char* hex = "0123456789abcdef";
    std::string out = "<";
    for (uint8_t byte : data) {
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out + ">";
}
}  // namespace

std::string ZDMDescription(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null:
            return "(nil)";
        case Value::Type::Bool:
        case Value::Type::Integer:
            return std::to_string(*value.asInteger());
        case Value::Type::Real:
            return realText(*value.asReal());
        case Value::Type::String:
            return *value.asString();
        case Value::Type::Data:
            return hexText(*value.asData());
        case Value::Type::Date:
            return dateText(*value.asDate());
        case Value::Type::Array:
        case Value::Type::Dictionary:
            return json::write(value);
        case Value::Type::Object:
            return value.asObject()->description();
    }
    return {};
}
