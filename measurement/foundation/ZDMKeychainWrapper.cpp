#include "measurement/foundation/ZDMKeychainWrapper.h"

#include <mutex>

#include "platform/security/SecItem.h"

namespace {
std::optional<Value> copyMatching(Dictionary query, bool withAttributes) {
    query.set(kSecMatchLimit, Value(kSecMatchLimitOne));
    query.set(kSecReturnData, Value(true));
    if (withAttributes) query.set(kSecReturnAttributes, Value(true));
    Value result;
    if (SecItemCopyMatching(query, &result) != errSecSuccess) return std::nullopt;
    return result;
}
}  // namespace

std::optional<Dictionary> ZDMKeychainWrapper::searchDirectoryForIdentifier(const std::string& identifier,
                                                                           const std::string& appID) {
    if (identifier.empty() || appID.empty()) return std::nullopt;
    Dictionary query;
    query.set(kSecClass, Value(kSecClassGenericPassword));
    query.set(kSecAttrService, Value(appID));
    query.set(kSecAttrGeneric, Value(identifier));
    query.set(kSecAttrAccount, Value(identifier));
    return query;
}

std::optional<Data> ZDMKeychainWrapper::keychainDataWithIdentifier(const std::string& identifier,
                                                                   const std::string& appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return std::nullopt;
    auto result = copyMatching(*query, false);
    if (!result || !result->asData()) return std::nullopt;
    return *result->asData();
}

std::optional<std::string> ZDMKeychainWrapper::keychainValueWithIdentifier(const std::string& identifier,
                                                                           const std::string& appID) {
    static std::once_flag migration;
    std::call_once(migration, [&] { migrateKeychainDataToStringWithIdentifier(identifier, appID); });
    auto data = keychainDataWithIdentifier(identifier, appID);
    if (!data || data->empty()) return std::nullopt;
    return std::string(data->begin(), data->end());
}

bool ZDMKeychainWrapper::upsertKeychainValue(const std::string& value, const std::string& identifier,
                                             const std::string& appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (value.empty() || !query) return false;
    const Value bytes(Data(value.begin(), value.end()));
    const auto stored = keychainDataWithIdentifier(identifier, appID);
    if (stored && !stored->empty()) {
        Dictionary change;
        change.set(kSecValueData, bytes);
        return SecItemUpdate(*query, change) == errSecSuccess;
    }
    Dictionary item = *query;
    item.set(kSecValueData, bytes);
    item.set(kSecAttrAccessible, Value(kSecAttrAccessibleAlwaysThisDeviceOnly));
    return SecItemAdd(item) == errSecSuccess;
}

void ZDMKeychainWrapper::deleteKeychainValueWithIdentifier(const std::string& identifier,
                                                           const std::string& appID) {
    if (auto query = searchDirectoryForIdentifier(identifier, appID)) SecItemDelete(*query);
}

bool ZDMKeychainWrapper::isMigrationNeededForIdentifier(const std::string& identifier,
                                                        const std::string& appID) {
    auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query) return false;
    auto result = copyMatching(*query, true);
    const Dictionary* attributes = result ? result->asDictionary() : nullptr;
    if (!attributes) return false;
    const Value* account = attributes->find(kSecAttrAccount);
    const Value* generic = attributes->find(kSecAttrGeneric);
    return !(account && account->isString() && generic && generic->isString());
}

void ZDMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(const std::string&, const std::string&) {}
