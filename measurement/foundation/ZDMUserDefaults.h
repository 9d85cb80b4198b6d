#pragma once
// A configuration store over the platform's preferences: one domain per suite name, or the
// application's own domain for an empty name. It goes through the C-style preferences calls unless
// Info.plist turns them off ("UseCFPreferencesLibrary" = NO), then through a defaults object; both
// reach the same file. A suite's file is left out of backups at the first synchronize after it
// exists; the application's own file is never touched. Any thread may call it. An array or
// dictionary holding a value that is not a property-list value passes through to the preferences,
// which raise an Exception (NSInvalidArgumentException) for it, as the platform's do.
#include <memory>
#include <mutex>
#include <string>

#include "measurement/foundation/ZDMConfigStore.h"
#include "platform/foundation/UserDefaults.h"

class ZDMUserDefaults : public ZDMConfigStore {
  public:
    explicit ZDMUserDefaults(std::string suiteName = {});
    // The shared store over the application's own domain.
    static std::shared_ptr<ZDMUserDefaults> standardUserDefaults();
    // Info.plist's "UseCFPreferencesLibrary" when it is a number, else true; read once per process.
    static bool userPreferenceEnabled();

    bool useCFPreferencesLibrary() const;
    void setUseCFPreferencesLibrary(bool use);
    bool isPreferenceFileExcluded() const;
    void setIsPreferenceFileExcluded(bool excluded);

    std::optional<Value> objectForKey(const std::string& key) override;
    void setObject(const Value& value, const std::string& key) override;
    void removeObjectForKey(const std::string& key) override;
    void clearAllData() override;
    void synchronize() override;

  private:
    std::shared_ptr<UserDefaults> defaultsObject() const;
    std::shared_ptr<UserDefaults> makeDefaultsObject() const;
    void excludePreferenceFileFromBackup();

    const std::string suiteName_;
    const std::string appNameRef_;  // the preferences application identifier
    mutable std::mutex mutex_;
    std::shared_ptr<UserDefaults> userDefaults_;  // only while the C-style calls are off
    bool useCFPreferencesLibrary_;
    bool isPreferenceFileExcluded_ = false;
};
