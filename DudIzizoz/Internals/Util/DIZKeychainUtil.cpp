#include "DudIzizoz/Internals/Util/DIZKeychainUtil.h"

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Unicode.h"

std::string DIZKeychainUtil::defaultServiceName() {
    static const std::string name = Bundle::mainBundle()->bundleIdentifier() + ".DudIzizoz";
    return name;
}

bool DIZKeychainUtil::storeString(const std::string& string, const std::string& key) {
    return storeString(string, key, defaultServiceName());
}

bool DIZKeychainUtil::storeString(const std::string& string, const std::string& key,
                                  const std::string& serviceName) {
    Dictionary item = generateItem(key, serviceName);
    item.set(kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
    item.set(kSecValueData, dataFromString(string));
    OSStatus status = addSecItem(item);
    if (status == errSecDuplicateItem) {
        deleteSecItem(generateItem(key, serviceName));
        status = addSecItem(item);
    }
    if (status == errSecSuccess) {
        DIZLogVerbose(kDIZLogTag, "Stored a string with key='%@', service='%@' to keychain.", key,
                      serviceName);
        return true;
    }
    DIZLogWarning(kDIZLogTag,
                  "Failed to store item with key='%@', service='%@' to keychain. OS Status code %i", key,
                  serviceName, status);
    return false;
}

std::optional<std::string> DIZKeychainUtil::stringForKey(const std::string& key, OSStatus* statusCode) {
    return stringForKey(key, defaultServiceName(), statusCode);
}

std::optional<std::string> DIZKeychainUtil::stringForKey(const std::string& key,
                                                         const std::string& serviceName,
                                                         OSStatus* statusCode) {
    Dictionary query = generateItem(key, serviceName);
    query.set(kSecReturnData, true);
    query.set(kSecMatchLimit, kSecMatchLimitOne);
    Value result;
    const OSStatus status = secItemCopyMatchingQuery(query, &result);
    if (statusCode) *statusCode = status;
    if (status == errSecSuccess && result.isData() && isValidUtf8(stringFromData(*result.asData()))) {
        DIZLogVerbose(kDIZLogTag, "Retrieved a string with key='%@', service='%@' from keychain.", key,
                      serviceName);
        return stringFromData(*result.asData());
    }
    DIZLogWarning(kDIZLogTag,
                  "Failed to retrieve item with key='%@', service='%@' from keychain. OS Status code %i", key,
                  serviceName, status);
    return std::nullopt;
}

std::optional<std::string> DIZKeychainUtil::deleteStringForKey(const std::string& key) {
    return deleteStringForKey(key, defaultServiceName());
}

// The value is looked up in the service it is deleted from, so a key of another service is never
// reported as deleted while the default service's item stays.
std::optional<std::string> DIZKeychainUtil::deleteStringForKey(const std::string& key,
                                                               const std::string& serviceName) {
    auto current = stringForKey(key, serviceName);
    if (!current) return std::nullopt;
    const OSStatus status = deleteSecItem(generateItem(key, serviceName));
    if (status == errSecSuccess) {
        DIZLogVerbose(kDIZLogTag, "Deleted a string with key='%@', service='%@' from keychain.", key,
                      serviceName);
        return current;
    }
    DIZLogWarning(kDIZLogTag,
                  "Failed to delete item with key='%@', service='%@' from keychain. OS Status code %i", key,
                  serviceName, status);
    return std::nullopt;
}

bool DIZKeychainUtil::clear() {
    const Dictionary query{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, defaultServiceName()}};
    return deleteSecItem(query) == errSecSuccess;
}

OSStatus DIZKeychainUtil::addSecItem(const Dictionary& attributes) {
    return SecItemAdd(attributes);
}

OSStatus DIZKeychainUtil::deleteSecItem(const Dictionary& query) {
    return SecItemDelete(query);
}

OSStatus DIZKeychainUtil::secItemCopyMatchingQuery(const Dictionary& query, Value* result) {
    return SecItemCopyMatching(query, result);
}

Dictionary DIZKeychainUtil::generateItem(const std::string& key, const std::string& serviceName) {
    return {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, serviceName}, {kSecAttrAccount, key}};
}
