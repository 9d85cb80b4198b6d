#pragma once
// The analytics facade between the public interface and the engine. It decides whether the library
// starts, holds back calls made before the start (on the operation queue "ZDMAnalyticsOperationQueue",
// suspended until then, one operation at a time), keeps the order and time of logged events (the
// timestamp queue "ZDMAnalyticsTimestampQueue"), and calls the engine only from its serial queue
// "ZDMAnalyticsQueue", where its enabled and deactivated flags, the interceptor, the log-event
// listeners and the open-URL listener change. Its state is process-wide; the one shared instance
// observes the default payment queue. The facts that must outlive a launch live in its defaults
// suite. No operation returns an error: refusals are logged and reported as "_err" events.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Observation.h"
#include "platform/foundation/Value.h"
#include "platform/storekit/SKPaymentQueue.h"

class DispatchQueue;
class OperationQueue;
class ZDMEvent;
class ZDMUserAttribute;
struct Notification;

// What addLogEventListener answers: it names the listener without keeping it alive.
struct ZDMLogEventListenerToken {
    const void* listener = nullptr;
    bool operator==(const ZDMLogEventListenerToken&) const = default;
};

class ZDMAnalytics : public SKPaymentTransactionObserver {
  public:
    using Block = std::function<void()>;
    using InternalEventObserver =
        std::function<void(const std::string& origin, const std::string& name, const Dictionary& parameters)>;
    // The engine's interceptor type: told of each event before the engine handles it.
    using EventInterceptor = std::function<void(const std::string& origin, const std::string& name,
                                                const Dictionary& parameters, double timestamp)>;
    using LogEventListener = std::function<void(const std::shared_ptr<ZDMEvent>& event)>;
    using OpenURLListener = std::function<void(const std::string& url)>;

    static constexpr const char* kOperationQueueName = "ZDMAnalyticsOperationQueue";
    static constexpr const char* kQueueLabel = "ZDMAnalyticsQueue";
    static constexpr const char* kTimestampQueueLabel = "ZDMAnalyticsTimestampQueue";
    static constexpr const char* kWillStartNotification = "kVUZArezivodoWillStartNotification";
    static constexpr const char* kConfigurationSetEnabledNotification =
        "VUZArezivodoConfigurationSetEnabledNotification";
    // Keys of the start options.
    static constexpr const char* kLogTagOptionKey = "measurement_engine_log_tag";
    static constexpr const char* kCollectionEnabledOptionKey = "ZUDEDARO_ANALYTICS_COLLECTION_ENABLED";
    static constexpr const char* kCollectionDeactivatedOptionKey =
        "ZUDEDARO_ANALYTICS_COLLECTION_DEACTIVATED";
    // An object whose kConfigurationSetEnabledNotification switches collection.
    static constexpr const char* kConfigurationOptionKey = "ZUDEDARO_ANALYTICS_CONFIGURATION";
    static constexpr const char* kSafelistedEventsOptionKey = "safelisted_events";

    static constexpr const char* kSuiteName = "ZDMAnalyticsSuiteName";
    static constexpr const char* kResetRetryCountKey = "reset_retry_count";
    static constexpr const char* kNeedFirstOpenAfterResetKey = "need_first_open_after_reset";
    static constexpr const char* kAppInstanceIDAfterResetKey = "app_instance_id_after_reset";
    static constexpr const char* kDeferredAnalyticsCollectionKey = "deferred_analytics_collection";
    static constexpr const char* kConsentSettingsKey = "consent_settings";
    static constexpr const char* kConsentSettings3PKey = "consent_settings_3p";
    static constexpr const char* kConsentSourceKey = "consent_source";
    static constexpr const char* kConsentSettingsOnStartKey = "consent_settings_on_start";
    static constexpr const char* kDeferredConsentResetKey = "deferred_consent_reset";

    // Made once; the payment-queue observer.
    static std::shared_ptr<ZDMAnalytics> sharedInstance();
    ~ZDMAnalytics() override;

    // -- Start and queues --

    // Starts the library once per process, unless an older analytics library is present, the
    // analytics interface is present and the origin is not "za", or, without the interface, the
    // service plist is there for it to use. Calls held so far then run, in call order.
    static void startWithAppID(const std::string& appID, const std::string& origin,
                               const Dictionary& options);
    static std::shared_ptr<DispatchQueue> queue();
    static void dispatchAsyncOnSerialQueue(Block block);
    // Held until the start; then the block runs on the serial queue, after those queued before it.
    static void queueOperationWithBlock(Block block);
    // The same, and when the library has started, waits until the held operations have reached the
    // serial queue, then holds new ones for 0.5 s. Never from an operation of the operation queue.
    static void queueOperationWithBlockThenWait(Block block);
    static void unsuspendOperationQueue();
    static bool isCurrentQueueSerialQueue();
    // The queue holding the operations (a caller that waits for the facade to be idle reads it).
    static std::shared_ptr<OperationQueue> operationQueue();
    // Drains what was handed to the queues (held operations of an unstarted facade are dropped), then
    // starts again from a fresh process's state.
    static void resetForTesting();

    // -- Enabling --

    static void setAnalyticsEnabled(bool enabled);
    // On the serial queue: persists 1 (enabled) or 2 (disabled) when asked; then, unless collection
    // is deactivated and this enables, sets the facade's flag and the engine's.
    static void setAnalyticsEnabled(bool enabled, bool persistSetting);
    // The facade's view of the engine's enabled state; changed on the serial queue.
    static bool analyticsEnabled();
    // From the start options; once YES nothing enables the engine.
    static bool isAnalyticsCollectionDeactivated();
    static void setSessionTimeoutInterval(double interval);
    // Follows the switch notifications posted by `configuration` (the sender's address); nullptr only
    // stops following.
    static void observeNotificationsForAnalyticsConfiguration(const void* configuration);
    static void handleSetEnabled(const Notification& notification);

    // -- Events --

    // From the app: origin "app".
    static void logEventWithName(const std::string& name, const std::optional<Dictionary>& parameters);
    // A public event; a refused name is reported as an error event (13 reserved, else 2) and dropped.
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   const std::optional<Dictionary>& parameters);
    // The library's own events. Internal-event observers (tests) are told first, on the calling thread.
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const Dictionary& parameters);
    // "screen_view" goes at once to the screen-view reporter on the caller's thread; any other event
    // is stamped and queued in one step of the timestamp queue, so events queue in time order.
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   const std::optional<Dictionary>& parameters);
    // An internal event with the caller's time (the screen-view reporter's).
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           double timestamp, const std::optional<Dictionary>& parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   const std::optional<Dictionary>& parameters, double timestamp,
                                   bool ignoreEnabled, bool ignoreInterceptor);
    // The serial-queue step: hands the event to the engine, when there is one. An empty
    // addedScreenParameters means none.
    static void logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                const std::string& name,
                                                const std::optional<Dictionary>& parameters, double timestamp,
                                                bool ignoreEnabled, bool ignoreInterceptor,
                                                const Dictionary& addedScreenParameters);
    // Queued; reaches the engine only while analytics is enabled.
    static void setDefaultEventParameters(const std::optional<Dictionary>& parameters);
    // The instance form (the interface's): for origin "am" a decimal "_aeid" text becomes an int64
    // value (otherwise 25024, left as it is).
    void logInternalEventWithOriginNameParameters(const std::string& origin, const std::string& name,
                                                  const Dictionary& parameters);
    // Observers are called outside any lock and may cancel themselves; a reset for tests drops them.
    [[nodiscard]] static Cancellable addInternalEventObserver(InternalEventObserver observer);

    // -- Interceptor, listeners, URLs --

    // Kept and handed to the engine with every event; nullptr removes it.
    static void setLogEventInterceptor(EventInterceptor interceptor);
    // nullopt (25012) for an empty listener. Listeners run on the serial queue.
    static std::optional<ZDMLogEventListenerToken> addLogEventListener(LogEventListener listener);
    static void removeLogEventListener(const std::optional<ZDMLogEventListenerToken>& token);
    // Called by the engine with a copy of each event it announces.
    static void notifyEventListeners(const std::shared_ptr<ZDMEvent>& event);
    static void notifyEventListenersOnSerialQueue(const std::shared_ptr<ZDMEvent>& event);
    static void setOpenURLListener(OpenURLListener listener);
    // The engine is told of the link first, then the open-URL listener.
    static void handleOpenURL(const std::string& url);
    // A web-browsing activity's link reaches the engine; the open-URL listener is not told.
    static void handleUserActivity(const Value& userActivity);
    static void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                    const std::function<void()>& completionHandler);
    // Once per process: has the app's delegate proxied and registers ZDMAppDelegateInterceptor.
    static void createAppDelegateProxy();
    static void maybeEnableTagManager();

    // The payment queue's transactions go to purchase reporting.
    void paymentQueue(SKPaymentQueue& queue, const Transactions& updatedTransactions) override;

    // When the library was loaded, seconds since 1970: recorded by registerMeasurementHooks(), or
    // on the first read when the hooks never ran. Any thread.
    static double loadTimestamp();
    static void setLoadTimestamp(double timestamp);

    // Kept in the suite "ZDMAnalyticsSuiteName". A retry count below 1 removes the key.
    static int64_t resetRetryCount();
    static void setResetRetryCount(int64_t count);
    static bool needFirstOpenAfterReset();
    static void setNeedFirstOpenAfterReset(bool need);
    static void removeNeedFirstOpenAfterReset();
    // nullopt (or "") removes.
    static std::optional<std::string> appInstanceIDAfterReset();
    static void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
    // Whatever was stored; nullopt removes.
    static std::optional<Value> deferredAnalyticsCollection();
    static void setDeferredAnalyticsCollection(const std::optional<Value>& value);
    static bool persistentConfigInApplicationSupportEnabled();
    static void setPersistentConfigInApplicationSupportEnabled(bool enabled);

    // Consent kept for the next launch: the settings of a source below 21 (third party, Info.plist)
    // go to "consent_settings_3p", the others to "consent_settings"; the source goes with them.
    static void persistConsentSettings(const Dictionary& settings, int64_t source);
    static std::optional<Dictionary> consentSettings1P();
    static std::optional<Dictionary> consentSettings3P();
    static std::optional<Dictionary> consentSettings1PStart();
    // 100 (no source) when none is stored.
    static int64_t persistedConsentSource();
    static void removeStartUpConsentSettings();
    static bool deferredResetOnDeniedConsent();
    static void removeDeferredResetOnDeniedConsent();
    // Removes every consent key, then the settings in force.
    static void clearConsent();
    // Puts the consent kept by the last launch in force, its source capped at 20 for third-party
    // settings and at 40 for the app's.
    static void loadPersistedConsentSettings();

    // -- User properties and queries (ZDMAnalyticsUserProperties.cpp) --
    // Checked on the caller's thread, handed to the engine by queued operations. Refused names and
    // values are reported as error events (6 invalid name, 15 reserved, 7 value too long).

    // The application's property, origin "app"; null removes it. A value that is not text is
    // refused (25003). "allow_personalized_ads" also stores the choice it reads as and, while
    // analytics is enabled, has the engine set or remove "_npa" to match.
    static void setUserPropertyString(const Value& value, const std::string& name);
    static void setUserPropertyString(const std::optional<std::string>& value, const std::string& name);
    // "_id" with origin "app"; null removes "_id" and "_lair"; not text is refused (25004).
    static void setUserID(const Value& userID);
    static void setUserID(const std::optional<std::string>& userID);
    static void removeUserAttributeForName(const std::string& name);
    // A real number is stored as a double, any other number as an int64, with origin "auto"; what is
    // not a number is ignored.
    static void setUserAttributeNumber(const Value& number, const std::string& name);
    // The library's and other components' properties: an origin of 1 to 32 UTF-16 units (else
    // 25005); nullopt or null removes. Callable through the shared instance as well.
    static void setInternalUserProperty(const std::optional<Value>& value, const std::string& name,
                                        const std::string& origin);
    // Reaches the engine as removalAttributeForName's record.
    static void removeInternalUserAttributeForName(const std::string& name);
    // Only the name of a removed property counts: origin "", the double 0 and the current time.
    // nullptr for a name no user property may have.
    static std::shared_ptr<ZDMUserAttribute> removalAttributeForName(const std::string& name);
    // On-device conversion data; waits until the operations held so far have been handed on.
    static void setUserData(const Dictionary& userData);
    static void setUserDataOnSerialQueue(const Dictionary& userData);
    // The answer comes on `queue`: {} while analytics is disabled (25008), {} on the main queue when
    // `queue` is null (25007); never without a callback (25006).
    static void userPropertiesIncludingInternal(bool includeInternal, std::shared_ptr<DispatchQueue> queue,
                                                std::function<void(const Dictionary&)> callback);
    // The engine's limit for `origin`, on `queue`. An empty origin (25009), a null queue (25010) or
    // no callback (25011) ends the query without an answer.
    static void maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<DispatchQueue> queue,
                                           std::function<void(int64_t)> callback);

    // -- Consent, reset and identity (ZDMAnalyticsConsent.cpp) --
    // All on the caller's thread but the reset's engine step and the session-ID answer.

    // The app's consent, under "consent_settings".
    static void setConsent(const Dictionary& consent);
    // Keeps only "granted" and "denied" values (25042 for each other, 25041 when none is left);
    // "consent_settings_3p" speaks with source 10, "consent_settings" with 30, and a source of lower
    // priority than the one in force is refused (25043). The merged settings are persisted; a
    // withdrawn grant resets the analytics data now, or at the engine's start when it has not yet
    // set itself up.
    static void setConsent(const Dictionary& consent, const std::string& key);
    // Starts the user over with a new app instance ID (none while analytics storage is denied). The
    // bookkeeping stays in the suite until the engine has reset, so that a failed reset is retried
    // at the next start.
    static void resetAnalyticsData();
    // The completion always runs later on the default global queue: 0 and code 13 before the engine
    // has set itself up ("Analytics uninitialized") or while the server turns the query off
    // ("Session ID API disabled"), else the engine's answer. Without a completion, 25050.
    static void sessionIDWithCompletion(
        std::function<void(int64_t sessionID, std::optional<Error> error)> completion);
    // nullopt while analytics storage is denied; else the ID of the last reset, else the identity's.
    // Works before the start.
    static std::optional<std::string> appInstanceID();

    // -- Purchases (ZDMAnalyticsPurchases.cpp) --

    // Purchase reporting lives above the engine; its layer installs where the filtered purchases go.
    using PurchaseReporter = std::function<void(SKPaymentQueue* queue, const Transactions& transactions)>;
    static void setPurchaseReporter(PurchaseReporter reporter);
    static PurchaseReporter purchaseReporter();
    // A queued operation: while analytics is enabled, the engine drops restored transactions and
    // repeats, and the rest go with the queue to the installed reporter.
    static void paymentQueueUpdatedTransactions(SKPaymentQueue& queue, const Transactions& transactions);
};

// The stand-in for the measurement classes' load hooks: the agent's entry point and test fixtures
// call it before anything else of the library. Idempotent; it records the load timestamp,
// registers the analytics interface, "VUZArezivodo", in the class registry and the connector's
// library with the core library.
void registerMeasurementHooks();
