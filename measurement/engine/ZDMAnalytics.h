#pragma once
// The analytics facade of the measurement library. For now the entry point through which the
// library logs its own events (such as the "_err" event that reports refused input), the facts it
// keeps across launches in its defaults suite, and its load timestamp. Until the facade queues
// events, each internal event is handed, on the calling thread, to the observers registered.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Observation.h"
#include "platform/foundation/Value.h"

class ZDMEvent;

class ZDMAnalytics {
  public:
    using InternalEventObserver =
        std::function<void(const std::string& origin, const std::string& name, const Dictionary& parameters)>;

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

    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const Dictionary& parameters);
    // Observers are called outside any lock and may cancel themselves; a reset for tests drops them.
    // Where the engine tells the app's event listeners of each internal event it handled; nothing
    // listens yet.
    static void notifyEventListeners(const std::shared_ptr<ZDMEvent>& /*event*/) {}
    [[nodiscard]] static Cancellable addInternalEventObserver(InternalEventObserver observer);

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

    // -- The session reporter's properties and the screen reporter's timed events --
    // A user property of the library's own, handed to the running engine (dropped without one or
    // when the engine's record refuses it); nullopt removes the property.
    static void setInternalUserProperty(const std::optional<Value>& value, const std::string& name,
                                        const std::string& origin);
    // An internal event that happened at `timestamp` (seconds since 1970).
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           double timestamp, const Dictionary& parameters);
};

// The stand-in for the measurement classes' load hooks: the agent's entry point and test fixtures
// call it before anything else of the library. Idempotent; it records the load timestamp.
void registerMeasurementHooks();
