#pragma once
// A store of small property-list values under string keys. The typed reads and writes derive from
// objectForKey and setObject; a store implements the five operations that differ. Nothing here
// throws or fails for the caller: refused keys and values are logged and dropped.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ZDMConfigStore {
  public:
    virtual ~ZDMConfigStore() = default;

    virtual std::optional<Value> objectForKey(const std::string& key) = 0;
    std::optional<Value::Array> arrayForKey(const std::string& key);
    std::optional<Dictionary> dictionaryForKey(const std::string& key);
    std::optional<std::string> stringForKey(const std::string& key);
    int64_t integerForKey(const std::string& key);  // 0 unless a number is stored
    float floatForKey(const std::string& key);
    double doubleForKey(const std::string& key);
    bool boolForKey(const std::string& key);

    // A null value removes the key.
    virtual void setObject(const Value& value, const std::string& key) = 0;
    void setFloat(float value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setInteger(int64_t value, const std::string& key);
    void setBool(bool value, const std::string& key);
    virtual void removeObjectForKey(const std::string& key) = 0;
    virtual void clearAllData() = 0;
    virtual void synchronize() = 0;

    // What a store may hold: strings, numbers, dates, data, and arrays and dictionaries of them.
    static bool isPropertyListValue(const Value& value);

  protected:
    // The stores log through the outside utility library's logger, service "<DidAdirezarido>".
    static void logWarning(int64_t code, const std::string& message);
    static void logError(int64_t code, const std::string& message);
};
