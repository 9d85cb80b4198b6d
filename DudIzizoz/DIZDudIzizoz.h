#pragma once
// The reporting client's front door: one shared instance that the application configures once with
// its secret and asks to start a list of services. It owns the channel group with its own unit,
// the Did Ozodozuda delegate, the install id and the client-wide switches (enabled, network
// requests allowed), starts the services in priority order and reports which were started with
// a start-service log.
//
// Class methods are the static members and act on the shared instance. Where an instance
// operation has the name of a class method, the instance one carries the prefix "instance", as
// C++ cannot overload a static and a member function alike.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/UUID.h"

class DIZChannelGroupProtocol;
class DIZChannelUnitProtocol;
class DIZDidOzodozudaChannelDelegate;
class DIZServiceAbstract;
class DIZServiceClass;
class DIZWrapperSdk;

// Service classes in the order the caller lists them; a null entry is refused with a message.
using DIZServiceClasses = std::vector<const DIZServiceClass*>;
using DIZStorageSizeCompletionHandler = std::function<void(bool success)>;

inline constexpr const char* kDIZGroupId = "DudIzizoz";
inline constexpr int64_t kDIZMinUpperSizeLimitInBytes = 24 * 1024;
inline constexpr const char* kDIZDisableVariable = "DUD_IZIZOZ_DISABLE";
inline constexpr const char* kDIZRunningInDudIzizozVariable = "RUNNING_IN_DUD_IZIZOZ";

class DIZDudIzizoz {
  public:
    static std::shared_ptr<DIZDudIzizoz> sharedInstance();
    static void resetSharedInstance();

    // --- Class methods ---
    // The application's start: configures with the secret string and starts the services.
    static void start(const std::string& appSecret, const DIZServiceClasses& services);
    static void startWithServices(const DIZServiceClasses& services);
    static void startFromLibraryWithServices(const DIZServiceClasses& services);
    // One more service, with the secret and token already stored; null does nothing.
    static void startService(const DIZServiceClass* service);
    static void configureWithAppSecret(const std::string& appSecret);
    static void configure();
    // Configured, and by the application.
    static bool isConfigured();
    static bool isRunningInDudIzizozTestCloud();

    static void setEnabled(bool isEnabled);
    static bool isEnabled();
    static void setNetworkRequestsAllowed(bool isAllowed);
    static bool isNetworkRequestsAllowed();
    static void setLogUrl(const std::string& logUrl);
    static std::optional<std::string> logUrl();
    static UUID installId();
    static void setUserId(const std::optional<std::string>& userId);
    static std::optional<std::string> userId();
    // At least 24576 bytes, once per process, before the application configures the client; the
    // completion hears the outcome (NO at once for a refused size).
    static void setMaxStorageSize(int64_t sizeInBytes, DIZStorageSizeCompletionHandler completionHandler);
    static void setCountryCode(std::optional<std::string> countryCode);
    static std::optional<std::string> countryCode();
    static void setWrapperSdk(std::shared_ptr<DIZWrapperSdk> wrapperSdk);
    static std::shared_ptr<DIZWrapperSdk> wrapperSdk();
    static DIZLogLevel logLevel();
    // Also replays what the application-delegate forwarder traced before a level was chosen.
    static void setLogLevel(DIZLogLevel logLevel);
    static void setLogHandler(DIZLogHandler logHandler);
    static DIZLogHandler logHandler();
    static bool isAppDelegateForwarderEnabled();
    // Whether a debugger traces this process; asked once per process.
    static bool isDebuggerAttached();
    static std::string sdkVersion();
    // For a normal end of the process: waits, at most `timeoutInSeconds` of real time, until the
    // channel group's queue has run what was queued before the call, so every log enqueued until
    // then is stored. True when it has (or the client was never started).
    static bool waitForEnqueuedLogs(double timeoutInSeconds);

    // --- Instance operations ---
    void start(const std::optional<std::string>& secretString,
               const std::optional<DIZServiceClasses>& services, bool fromApplication);
    // Only when `services` is given and the client is configured.
    void startServices(const std::optional<DIZServiceClasses>& services,
                       const std::optional<std::string>& appSecret,
                       const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    // Whether the service counts as started.
    bool startService(const DIZServiceClass* service, const std::optional<std::string>& appSecret,
                      const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    bool configureWithAppSecret(const std::optional<std::string>& appSecret,
                                const std::optional<std::string>& transmissionTargetToken,
                                bool fromApplication);
    void initializeChannelGroup();
    // The variable "DUD_IZIZOZ_DISABLE" lists the service, or "All".
    static bool shouldDisable(const std::string& serviceName);
    void sendStartServiceLog(const std::vector<std::string>& serviceNames);
    void instanceSetEnabled(bool isEnabled);
    void applyPipelineEnabledState(bool isEnabled);
    // Absent means enabled.
    bool instanceIsEnabled() const;
    // Absent means allowed.
    bool instanceIsNetworkRequestsAllowed() const;
    void instanceSetNetworkRequestsAllowed(bool isAllowed);
    // Loaded, or made and stored, on first use.
    UUID instanceInstallId();
    // Logs why at error level when it answers false.
    bool canBeUsed() const;
    void instanceSetLogUrl(const std::string& logUrl);
    std::optional<std::string> instanceLogUrl() const;
    void instanceSetMaxStorageSize(int64_t sizeInBytes, DIZStorageSizeCompletionHandler completionHandler);
    void instanceSetUserId(const std::optional<std::string>& userId);

    bool isSdkConfigured() const { return sdkConfigured_.load(); }
    bool isConfiguredFromApplication() const { return configuredFromApplication_.load(); }
    bool isEnabledStateUpdating() const { return enabledStateUpdating_.load(); }
    std::optional<std::string> appSecret() const;
    std::optional<std::string> defaultTransmissionTargetToken() const;
    std::shared_ptr<DIZChannelGroupProtocol> channelGroup() const;
    std::shared_ptr<DIZChannelUnitProtocol> channelUnit() const;
    std::shared_ptr<DIZDidOzodozudaChannelDelegate> didOzodozudaChannelDelegate() const;
    // Names of started services waiting for the client to be enabled.
    std::optional<std::vector<std::string>> startedServiceNames() const;

    DIZDudIzizoz();  // use sharedInstance()
    ~DIZDudIzizoz();

  private:
    mutable std::recursive_mutex lock_;
    std::atomic<bool> sdkConfigured_{false};
    std::atomic<bool> configuredFromApplication_{false};
    std::atomic<bool> enabledStateUpdating_{false};
    bool setMaxStorageSizeHasBeenCalled_ = false;
    std::optional<UUID> installId_;
    std::optional<std::string> logUrl_;
    std::shared_ptr<DIZChannelUnitProtocol> channelUnit_;
    std::shared_ptr<DIZDidOzodozudaChannelDelegate> didOzodozudaChannelDelegate_;
    std::shared_ptr<DIZChannelGroupProtocol> channelGroup_;
    std::vector<std::shared_ptr<DIZServiceAbstract>> services_;
    std::optional<std::vector<std::string>> startedServiceNames_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
    std::optional<int64_t> requestedMaxStorageSizeInBytes_;
    DIZStorageSizeCompletionHandler maxStorageSizeCompletionHandler_;
};
