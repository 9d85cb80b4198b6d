#include "measurement/foundation/ZDMUserDefaults.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMUserDefaults> sharedStandard{[] {
    auto store = std::make_shared<ZDMUserDefaults>();
    // The application's own preferences file is the application's business, never the library's.
    store->setIsPreferenceFileExcluded(true);
    return store;
}};

std::mutex gPreferenceEnabledMutex;
std::optional<bool> gPreferenceEnabled;
[[maybe_unused]] const bool gPreferenceEnabledResets = [] {
    registerResetForTesting([] {
        std::lock_guard lock(gPreferenceEnabledMutex);
        gPreferenceEnabled.reset();
    });
    return true;
}();
}  // namespace

ZDMUserDefaults::ZDMUserDefaults(std::string suiteName)
    : suiteName_(std::move(suiteName)),
      appNameRef_(suiteName_.empty() ? kCFPreferencesCurrentApplication : suiteName_),
      useCFPreferencesLibrary_(userPreferenceEnabled()) {
    if (!useCFPreferencesLibrary_) userDefaults_ = makeDefaultsObject();
}

std::shared_ptr<ZDMUserDefaults> ZDMUserDefaults::standardUserDefaults() {
    return sharedStandard.get();
}

bool ZDMUserDefaults::userPreferenceEnabled() {
    std::lock_guard lock(gPreferenceEnabledMutex);
    if (!gPreferenceEnabled) {
        auto flag = Bundle::mainBundle()->objectForInfoDictionaryKey("UseCFPreferencesLibrary");
        gPreferenceEnabled = flag && flag->isNumber() ? *flag->asBool() : true;
    }
    return *gPreferenceEnabled;
}

bool ZDMUserDefaults::useCFPreferencesLibrary() const {
    std::lock_guard lock(mutex_);
    return useCFPreferencesLibrary_;
}

void ZDMUserDefaults::setUseCFPreferencesLibrary(bool use) {
    std::lock_guard lock(mutex_);
    if (use == useCFPreferencesLibrary_) return;
    useCFPreferencesLibrary_ = use;
    if (use)
        userDefaults_.reset();
    else if (!userDefaults_)
        userDefaults_ = makeDefaultsObject();
}

bool ZDMUserDefaults::isPreferenceFileExcluded() const {
    std::lock_guard lock(mutex_);
    return isPreferenceFileExcluded_;
}

void ZDMUserDefaults::setIsPreferenceFileExcluded(bool excluded) {
    std::lock_guard lock(mutex_);
    isPreferenceFileExcluded_ = excluded;
}

std::shared_ptr<UserDefaults> ZDMUserDefaults::makeDefaultsObject() const {
    return suiteName_.empty() ? UserDefaults::standardUserDefaults() : UserDefaults::suite(suiteName_);
}

// Null while the C-style calls are on.
std::shared_ptr<UserDefaults> ZDMUserDefaults::defaultsObject() const {
    std::lock_guard lock(mutex_);
    return useCFPreferencesLibrary_ ? nullptr : userDefaults_;
}

std::optional<Value> ZDMUserDefaults::objectForKey(const std::string& key) {
    if (key.empty()) {
        logWarning(41001, "Cannot get object for invalid user default key.");
        return std::nullopt;
    }
    if (auto defaults = defaultsObject()) return defaults->objectForKey(key);
    return CFPreferencesCopyAppValue(key, appNameRef_);
}

void ZDMUserDefaults::setObject(const Value& value, const std::string& key) {
    if (key.empty()) {
        logWarning(41002, "Cannot set object for invalid user default key.");
        return;
    }
    // Only the kind is checked here, as the platform's own store does: a container holding something
    // else is refused by the preferences themselves with an exception, which the caller may catch.
    if (value.isObject()) {
        logWarning(
            41003,
            "Cannot set invalid object to user defaults. Must be a string or number or an array. Value " +
                ZDMDescription(value));
        return;
    }
    if (auto defaults = defaultsObject())
        defaults->setObject(value, key);
    else
        CFPreferencesSetAppValue(key, value, appNameRef_);
}

void ZDMUserDefaults::removeObjectForKey(const std::string& key) {
    if (auto defaults = defaultsObject())
        defaults->removeObjectForKey(key);
    else
        setObject(Value(), key);
}

void ZDMUserDefaults::clearAllData() {
    if (auto defaults = defaultsObject()) {
        defaults->removePersistentDomainForName(suiteName_.empty() ? Bundle::mainBundle()->bundleIdentifier()
                                                                   : suiteName_);
        return;
    }
    auto keys = CFPreferencesCopyKeyList(appNameRef_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    if (keys)
        CFPreferencesSetMultiple(Dictionary(), *keys, appNameRef_, kCFPreferencesCurrentUser,
                                 kCFPreferencesAnyHost);
}

void ZDMUserDefaults::synchronize() {
    if (auto defaults = defaultsObject())
        defaults->synchronize();
    else if (!CFPreferencesAppSynchronize(appNameRef_))
        logError(41004, "Cannot synchronize user defaults to disk");
    excludePreferenceFileFromBackup();
}

void ZDMUserDefaults::excludePreferenceFileFromBackup() {
    Error error;
    {
        std::lock_guard lock(mutex_);
        if (isPreferenceFileExcluded_) return;
        const std::string path = ZDMPreferencesPlistPath(suiteName_);
        std::error_code ec;
        if (path.empty() || !std::filesystem::exists(path, ec)) return;
        isPreferenceFileExcluded_ = ZDMExcludePathFromBackup(path, &error);
        if (isPreferenceFileExcluded_) return;
    }
    // Tried again at the next synchronize.
    logWarning(41000,
               "Failed to exclude preferences file from backup. Error code " + std::to_string(error.code));
}
