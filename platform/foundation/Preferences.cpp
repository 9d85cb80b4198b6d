#include "platform/foundation/Preferences.h"

#include <memory>

#include "platform/foundation/UserDefaults.h"

namespace {
std::shared_ptr<UserDefaults> domain(const std::string& applicationID) {
    if (applicationID == kCFPreferencesCurrentApplication) return UserDefaults::standardUserDefaults();
    return UserDefaults::suite(applicationID);
}

bool isKept(const std::string& user, const std::string& host) {
    return user == kCFPreferencesCurrentUser && host == kCFPreferencesAnyHost;
}
}  // namespace

std::optional<Value> CFPreferencesCopyAppValue(const std::string& key, const std::string& applicationID) {
    return domain(applicationID)->objectForKey(key);
}

void CFPreferencesSetAppValue(const std::string& key, const Value& value, const std::string& applicationID) {
    domain(applicationID)->setObject(value, key);
}

std::optional<std::vector<std::string>> CFPreferencesCopyKeyList(const std::string& applicationID,
                                                                 const std::string& user,
                                                                 const std::string& host) {
    if (!isKept(user, host)) return std::nullopt;
    auto keys = domain(applicationID)->dictionaryRepresentation().keys();
    if (keys.empty()) return std::nullopt;
    return keys;
}

void CFPreferencesSetMultiple(const Dictionary& keysToSet, const std::vector<std::string>& keysToRemove,
                              const std::string& applicationID, const std::string& user,
                              const std::string& host) {
    if (!isKept(user, host)) return;
    auto defaults = domain(applicationID);
    for (const auto& [key, value] : keysToSet) defaults->setObject(value, key);
    for (const auto& key : keysToRemove) defaults->removeObjectForKey(key);
}

bool CFPreferencesAppSynchronize(const std::string& applicationID) {
    return domain(applicationID)->synchronize();
}
