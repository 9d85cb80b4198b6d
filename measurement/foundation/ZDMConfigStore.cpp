#include "measurement/foundation/ZDMConfigStore.h"

#include "measurement/foundation/ZDMASLLogger.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

namespace {
constexpr const char* kService = "<DidAdirezarido>";
constexpr int kMaxDepth = 512;

bool isPropertyListValue(const Value& value, int depth) {
    if (depth > kMaxDepth) return false;
    switch (value.type()) {
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Real:
        case Value::Type::String:
        case Value::Type::Data:
        case Value::Type::Date:
            return true;
        case Value::Type::Array:
            for (const auto& item : *value.asArray())
                if (!isPropertyListValue(item, depth + 1)) return false;
            return true;
        case Value::Type::Dictionary:
            for (const auto& [key, item] : *value.asDictionary())
                if (!isPropertyListValue(item, depth + 1)) return false;
            return true;
        case Value::Type::Null:
        case Value::Type::Object:
            return false;
    }
    return false;
}
}  // namespace

std::optional<Value::Array> ZDMConfigStore::arrayForKey(const std::string& key) {
    auto value = objectForKey(key);
    if (value && value->isArray()) return *value->asArray();
    return std::nullopt;
}

std::optional<Dictionary> ZDMConfigStore::dictionaryForKey(const std::string& key) {
    auto value = objectForKey(key);
    if (value && value->isDictionary()) return *value->asDictionary();
    return std::nullopt;
}

std::optional<std::string> ZDMConfigStore::stringForKey(const std::string& key) {
    auto value = objectForKey(key);
    if (value && value->isString()) return *value->asString();
    return std::nullopt;
}

int64_t ZDMConfigStore::integerForKey(const std::string& key) {
    auto value = objectForKey(key);
    return value && value->isNumber() ? *value->asInteger() : 0;
}

float ZDMConfigStore::floatForKey(const std::string& key) {
    return static_cast<float>(doubleForKey(key));
}

double ZDMConfigStore::doubleForKey(const std::string& key) {
    auto value = objectForKey(key);
    return value && value->isNumber() ? *value->asReal() : 0;
}

bool ZDMConfigStore::boolForKey(const std::string& key) {
    auto value = objectForKey(key);
    return value && value->isNumber() ? *value->asBool() : false;
}

void ZDMConfigStore::setFloat(float value, const std::string& key) {
    setObject(Value(static_cast<double>(value)), key);
}

void ZDMConfigStore::setDouble(double value, const std::string& key) {
    setObject(Value(value), key);
}

void ZDMConfigStore::setInteger(int64_t value, const std::string& key) {
    setObject(Value(value), key);
}

void ZDMConfigStore::setBool(bool value, const std::string& key) {
    setObject(Value(value), key);
}

bool ZDMConfigStore::isPropertyListValue(const Value& value) {
    return ::isPropertyListValue(value, 0);
}

void ZDMConfigStore::logWarning(int64_t code, const std::string& message) {
    ZIZLogWarning(kService, false, ZDMASLLogger::messageCodeText(code),
                  ZDMASLLogger::doubledPercents(message));
}

void ZDMConfigStore::logError(int64_t code, const std::string& message) {
    ZIZLogError(kService, false, ZDMASLLogger::messageCodeText(code), ZDMASLLogger::doubledPercents(message));
}
