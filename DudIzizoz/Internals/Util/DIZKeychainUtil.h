#pragma once
// A small string store over the keychain: generic passwords by service and account, the account
// being the caller's key. Without a service, the service "<bundle id>.DudIzizoz" is used.
#include <optional>
#include <string>

#include "platform/security/SecItem.h"

class DIZKeychainUtil {
  public:
    static bool storeString(const std::string& string, const std::string& key,
                            const std::string& serviceName);
    static bool storeString(const std::string& string, const std::string& key);
    // The keychain's status goes to `statusCode` when given.
    static std::optional<std::string> stringForKey(const std::string& key, const std::string& serviceName,
                                                   OSStatus* statusCode = nullptr);
    static std::optional<std::string> stringForKey(const std::string& key, OSStatus* statusCode = nullptr);
    // The deleted string, or nothing when there was none or it could not be deleted.
    static std::optional<std::string> deleteStringForKey(const std::string& key,
                                                         const std::string& serviceName);
    static std::optional<std::string> deleteStringForKey(const std::string& key);
    // Deletes every item of the default service; true when the keychain reports success.
    static bool clear();

    static std::string defaultServiceName();
    static OSStatus addSecItem(const Dictionary& attributes);
    static OSStatus deleteSecItem(const Dictionary& query);
    static OSStatus secItemCopyMatchingQuery(const Dictionary& query, Value* result);
    static Dictionary generateItem(const std::string& key, const std::string& serviceName);
};
