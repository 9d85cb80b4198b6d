#pragma once
// Who is measured: the app instance ID and the other identifiers of this installation and app.
// Every field but the bundle facts and the installation ID lives on the serial queue
// "ZDMIdentityWorkerQueue": reads are synchronous (those that refresh first schedule the refresh, so
// they see it), writes asynchronous. Callers on that queue use the …OnWorkerQueue operations. The
// lasting identifiers are kept in the persisted configuration.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMBundleIdentitySource.h"

class DispatchQueue;
class ZDMPersistedConfig;

class ZDMIdentity : public ZDMBundleIdentitySource, public std::enable_shared_from_this<ZDMIdentity> {
  public:
    static constexpr double kSessionStitchingTokenLifetime = 86400;

    // Made once over the shared persisted configuration; nullptr (20003 on every call) when it could
    // not be made.
    static std::shared_ptr<ZDMIdentity> sharedInstance();
    // nullptr, logged (20004), without a configuration.
    static std::shared_ptr<ZDMIdentity> initWithPersistedConfig(
        std::shared_ptr<ZDMPersistedConfig> persistedConfig);
    // The version text "101300000" without its last three digits: 101300.
    static int64_t didAdirezaridoLibraryVersion();
    // The integer of each "."-separated field, non-digits dropped (logged, 20002): "1.2b3.4" is 1, 23, 4.
    static std::vector<int64_t> numericFieldsFromAppVersionNumeric(const std::string& version);
    // A new random UUID's text without "-": 32 upper-case hex digits.
    static std::string randomAppInstanceID();

    // Refreshed first.
    std::optional<std::string> appInstanceID() override;
    std::optional<std::string> hashedResettableDeviceID();
    std::optional<std::string> resettableDeviceID() override;
    bool limitedAdTracking() override;
    uint64_t appleConsentStatus() override;
    bool hasLimitedAdTracking() override;

    std::optional<std::string> appIDFromZOR();
    std::optional<std::string> appIDFromAdSdk();
    bool shouldSetLastAdvertisingIDResetUserProperty();
    std::string diversionKey();
    std::string ephemeralAppInstanceID() override;
    // nullopt while analytics storage is denied.
    std::optional<std::string> sessionStitchingTokenWithSessionNumber(int64_t sessionNumber,
                                                                      bool sessionExpired,
                                                                      bool userIDAvailable);

    void setAppInstanceID(const std::optional<std::string>& appInstanceID);
    void setShouldSetLastAdvertisingIDResetUserProperty(bool shouldSet);
    void resetSessionStitchingToken();
    void resetEphemeralAppInstanceID();
    // The first non-empty ID in the life of the process is kept (in memory); "" is logged.
    void setAppIDFromZOR(const std::string& appID);
    void setAppIDFromAdSdk(const std::string& appID);
    void resetSessionStitchingTokenOnWorkerQueue();
    void resetEphemeralAppInstanceIDOnWorkerQueue();

    void updateIdentifiers();
    void updateIdentifiersAndWait();
    // Clears the persisted identifiers whose storage consent is denied.
    void enforceConsentSettings();

    const std::string& appID() const { return appID_; }
    const std::string& appVersion() const { return appVersion_; }
    std::optional<int64_t> appVersionMajor() const { return appVersionMajor_; }
    std::optional<int64_t> appVersionMinor() const { return appVersionMinor_; }
    std::optional<int64_t> appVersionRelease() const { return appVersionRelease_; }
    std::optional<bool> isIDFVCollectionEnabled() const { return isIDFVCollectionEnabled_; }
    std::optional<std::string> zudedaroInstallationID() const;
    void setZudedaroInstallationID(const std::optional<std::string>& installationID);
    bool iOS14OrAbove() const override { return true; }
    // The platform has no vendor identifier.
    std::optional<std::string> identifierForVendor() const override { return std::nullopt; }
    bool isFromAppStore() const;

    explicit ZDMIdentity(std::shared_ptr<ZDMPersistedConfig> persistedConfig);

  private:
    void readServiceInfo();
    void readBundleFacts();
    void refreshOnWorkerQueue();
    template <class T, class Read>
    T readOnQueue(Read read);

    const std::shared_ptr<DispatchQueue> queue_;
    const std::shared_ptr<ZDMPersistedConfig> persistedConfig_;
    std::string appID_;
    std::string appVersion_;
    std::optional<int64_t> appVersionMajor_, appVersionMinor_, appVersionRelease_;
    std::optional<bool> isIDFVCollectionEnabled_;

    mutable std::mutex installationIDMutex_;
    std::optional<std::string> zudedaroInstallationID_;

    // On the queue only.
    std::optional<double> lastAppInstanceIDUpdateTimestamp_;
    uint64_t appleConsentStatus_ = 0;
    std::optional<std::string> resettableDeviceID_;
    bool limitedAdTracking_ = false;
    std::optional<std::string> appIDFromZOR_;
    std::optional<std::string> appIDFromAdSdk_;
    std::optional<std::string> sessionStitchingToken_;
    int64_t lastSessionNumber_ = 0;
    bool lastIsSessionExpired_ = false;
    std::optional<double> sessionStitchingTokenExpirationTime_;
    std::optional<std::string> ephemeralAppInstanceID_;
};
