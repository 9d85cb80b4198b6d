#pragma once
// The one store of the client's settings: the application's standard user defaults, every key
// carrying the prefix "DZDudIzizoz". It also moves values that earlier versions kept under old
// names to their prefixed names, once per service.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/Value.h"

inline constexpr const char* kDIZUserDefaultsPrefix = "DZDudIzizoz";

// Marks an old key of a migration map as the prefix of a family of keys rather than one key.
class DIZUserDefaultsPrefixKey {
  public:
    explicit DIZUserDefaultsPrefixKey(std::string prefix) : keyPrefix_(std::move(prefix)) {}
    const std::string& keyPrefix() const { return keyPrefix_; }

  private:
    std::string keyPrefix_;
};

class DIZDudIzizozUserDefaults {
  public:
    // New complete stored key (already prefixed) -> the old key, or the old prefix of a family.
    using MigrationMap =
        std::vector<std::pair<std::string, std::variant<std::string, DIZUserDefaultsPrefixKey>>>;

    static std::shared_ptr<DIZDudIzizozUserDefaults> shared();
    static void resetSharedInstance();

    std::string getDudIzizozKeyFrom(const std::string& key) const;
    std::optional<Value> objectForKey(const std::string& key) const;
    // A null value removes the key.
    void setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Runs once per service: a flag stored under "310<service>UserDefaultsMigratedKey" stops later runs.
    void migrateKeys(const MigrationMap& migrationMap, const std::string& serviceName);
    // Stores `value` under `newKey` as given (no prefix added) and removes `oldKey`; no value, no move.
    void swapKeys(const std::string& oldKey, const std::string& newKey, const std::optional<Value>& value);
};
