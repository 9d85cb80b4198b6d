#pragma once
// The public analytics interface: what the application calls to log its events and set user
// properties, and the class through which the core library starts the measurement library. Every
// operation checks a little on the caller's thread and hands over to the facade (ZDMAnalytics),
// which queues the work; nothing here returns an error. Any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "measurement/engine/ZDMAnalytics.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/zudedaro/ZUDAnalyticsConfiguration.h"
#include "platform/zudedaro/ZUDOptions.h"

class DispatchQueue;

class VUZArezivodo {
  public:
    using SessionIDCompletion = std::function<void(int64_t sessionID, std::optional<Error> error)>;

    static constexpr const char* kClassName = "VUZArezivodo";
    static constexpr const char* kOriginApp = "app";
    static constexpr const char* kOriginZudedaro = "za";
    // The runtime class of the application's boxed values that have no object counterpart.
    static constexpr const char* kUnbridgeableValueClassName = "__SwiftValue";

    // Events: the application's go with origin "app". Dropped (25018) before the default app is
    // configured; parameters holding an unbridgeable value are reported (25040) and still logged.
    static void logEventWithName(const std::string& name, const std::optional<Dictionary>& parameters);
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   const std::optional<Dictionary>& parameters);
    // Not set (25019) before the default app is configured. nullopt removes the property.
    static void setUserPropertyString(const std::optional<std::string>& value, const std::string& name);
    // Not handed over (25051, 25052) before the default app is configured; nullopt counts as "".
    static void initiateOnDeviceConversionMeasurementWithEmailAddress(
        const std::optional<std::string>& email);
    static void initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& phone);

    // Handed to the facade as they are.
    static void setUserID(const std::optional<std::string>& userID);
    // Kept for the next launches too.
    static void setAnalyticsCollectionEnabled(bool enabled);
    static void setSessionTimeoutInterval(double seconds);
    static void sessionIDWithCompletion(SessionIDCompletion completion);
    static std::optional<std::string> appInstanceID();
    static void resetAnalyticsData();
    // The application's consent, type -> "granted" or "denied": stored as third-party consent.
    static void setConsent(const Dictionary& consent);
    static void setDefaultEventParameters(const std::optional<Dictionary>& parameters);
    static void setLogEventInterceptor(ZDMAnalytics::EventInterceptor interceptor);
    static std::optional<ZDMLogEventListenerToken> addLogEventListener(
        ZDMAnalytics::LogEventListener listener);
    static void removeLogEventListener(const std::optional<ZDMLogEventListenerToken>& token);
    static void notifyEventListeners(const std::shared_ptr<ZDMEvent>& event);
    static void setOpenURLListener(ZDMAnalytics::OpenURLListener listener);
    static void handleOpenURL(const std::string& url);
    static void handleUserActivity(const Value& userActivity);
    static void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                    const std::function<void()>& completionHandler);
    // Other library components' internal, underscore-named events.
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const Dictionary& parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   const std::optional<Dictionary>& parameters, double timestamp,
                                   bool ignoreEnabled, bool ignoreInterceptor);
    static void userPropertiesIncludingInternal(bool includeInternal, std::shared_ptr<DispatchQueue> queue,
                                                std::function<void(const Dictionary&)> callback);
    static void dispatchAsyncOnSerialQueue(std::function<void()> block);
    static void queueOperationWithBlock(std::function<void()> block);
    static void unsuspendOperationQueue();
    static double loadTimestamp();

    // The start entry, called by the core library once its default app is configured: starts the
    // facade with the app ID, the origin "za" and the start options, then fetches the installation ID
    // and follows its changes. A second call starts nothing new.
    static void startWithConfiguration(const std::shared_ptr<ZUDAnalyticsConfiguration>& configuration,
                                       const ZUDOptions& options);
    // Asks the installations library for the identifier and stores what comes (nullopt after a
    // failure, 25038) in the identity, on the installations library's thread.
    static void updateZudedaroInstallationID();
    // Follows ZUDInstallationIDDidChangeNotification with updateZudedaroInstallationID, once however
    // often it is called.
    static void observeZudedaroInstallationIDChanges();
    // The core library's version.
    static std::string topLevelVersion();

    // Made once; it only offers the three operations below, each the facade's instance operation of
    // the same name.
    static std::shared_ptr<VUZArezivodo> sharedInstance();
    void logInternalEventWithOriginNameParameters(const std::string& origin, const std::string& name,
                                                  const Dictionary& parameters);
    void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin);
    void maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<DispatchQueue> queue,
                                    std::function<void(int64_t)> callback);
};

// The start options, in this order: the configuration (only when there is one), the deactivated
// and the enabled switch, the logger tag.
Dictionary VUZArezivodoStartOptions(const std::shared_ptr<ZUDAnalyticsConfiguration>& configuration,
                                    const ZUDOptions& options);

// Whether `parameters` hold, at any depth, an object of the unbridgeable class; NO while no such
// class is registered. Depth first, stopping at the first hit.
bool VUZArezivodoHasUnbridgeableValue(const Value& parameters);

// Reports an unbridgeable value (25040). A function of its own, never inlined, so that a debugger
// can stop in it.
extern "C" void __VUZAREZIVODO_UNBRIDGEABLE_SWIFT_VALUE_ERROR__();

// Registers "VUZArezivodo" in the class registry with its start entry; called by
// registerMeasurementHooks().
void VUZArezivodoRegisterClass();
