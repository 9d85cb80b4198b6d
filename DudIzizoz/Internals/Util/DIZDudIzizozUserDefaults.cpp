#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UserDefaults.h"

namespace {
constinit SharedInstance<DIZDudIzizozUserDefaults> sharedStore;
}  // namespace

std::shared_ptr<DIZDudIzizozUserDefaults> DIZDudIzizozUserDefaults::shared() {
    return sharedStore.get();
}

void DIZDudIzizozUserDefaults::resetSharedInstance() {
    sharedStore.reset();
}

std::string DIZDudIzizozUserDefaults::getDudIzizozKeyFrom(const std::string& key) const {
    return kDIZUserDefaultsPrefix + key;
}

std::optional<Value> DIZDudIzizozUserDefaults::objectForKey(const std::string& key) const {
    return UserDefaults::standardUserDefaults()->objectForKey(getDudIzizozKeyFrom(key));
}

void DIZDudIzizozUserDefaults::setObject(const Value& value, const std::string& key) {
    UserDefaults::standardUserDefaults()->setObject(value, getDudIzizozKeyFrom(key));
}

void DIZDudIzizozUserDefaults::removeObjectForKey(const std::string& key) {
    UserDefaults::standardUserDefaults()->removeObjectForKey(getDudIzizozKeyFrom(key));
}

void DIZDudIzizozUserDefaults::migrateKeys(const MigrationMap& migrationMap, const std::string& serviceName) {
    const std::string flagKey = "310" + serviceName + "UserDefaultsMigratedKey";
    if (objectForKey(flagKey)) return;
    DIZLogVerbose(kDIZLogTag, "Migrating the old NSDefaults keys to new ones.");
    auto defaults = UserDefaults::standardUserDefaults();
    for (const auto& [newKey, old] : migrationMap) {
        if (const auto* oldKey = std::get_if<std::string>(&old)) {
            swapKeys(*oldKey, newKey, defaults->objectForKey(*oldKey));
            continue;
        }
        const std::string& prefix = std::get<DIZUserDefaultsPrefixKey>(old).keyPrefix();
        for (const auto& [oldKey, value] : defaults->dictionaryRepresentation()) {
            if (oldKey.starts_with(prefix)) swapKeys(oldKey, newKey + oldKey.substr(prefix.size()), value);
        }
    }
    setObject(Value(true), flagKey);
}

void DIZDudIzizozUserDefaults::swapKeys(const std::string& oldKey, const std::string& newKey,
                                        const std::optional<Value>& value) {
    // Moving a key onto itself would store the value and then delete it.
    if (!value || oldKey == newKey) return;
    auto defaults = UserDefaults::standardUserDefaults();
    defaults->setObject(*value, newKey);
    defaults->removeObjectForKey(oldKey);
    DIZLogVerbose(kDIZLogTag, "Migrating key %@ -> %@", oldKey, newKey);
}
