#include "measurement/engine/VUZArezivodo.h"

#include <mutex>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zudedaro/ZUDApp.h"
#include "platform/zudedaro/ZUDInstallations.h"
#include "platform/zudedaro/ZUDVersion.h"

using zdm_engine::log;
using zdm_engine::logError;

namespace {
constexpr const char* kEmailAddressKey = "email_address";
constexpr const char* kPhoneNumberKey = "phone_number";

// The default-app gate: before the core library has configured its default app, the application's
// data has nowhere to go, and saying so once per call is all the developer needs.
bool isDefaultAppConfiguredElseLog(int64_t code, const std::string& message, const Value& context = Value()) {
    if (ZUDApp::isDefaultAppConfigured()) return true;
    // A null context is none at all.
    if (context.isNull())
        log(3, code, message);
    else
        log(3, code, message, context);
    return false;
}

bool isUnbridgeable(const Value& value) {
    if (const auto object = value.asObject())
        return object->className() == VUZArezivodo::kUnbridgeableValueClassName;
    // Dictionary keys are always text here, so only the values can hold an object.
    if (const Dictionary* dictionary = value.asDictionary()) {
        for (const auto& [key, entry] : *dictionary)
            if (isUnbridgeable(entry)) return true;
        return false;
    }
    if (const Value::Array* array = value.asArray()) {
        for (const auto& element : *array)
            if (isUnbridgeable(element)) return true;
    }
    return false;
}

void setUserDataIfConfigured(int64_t code, const std::string& message, const char* key,
                             const std::optional<std::string>& value) {
    if (!isDefaultAppConfiguredElseLog(code, message)) return;
    ZDMAnalytics::setUserData(Dictionary{{key, value.value_or("")}});
}

// The one observation of installation-ID changes; a new one replaces it.
struct InstallationIDObservation {
    std::mutex mutex;
    NotificationCenter::Token token;
};
constinit SharedInstance<InstallationIDObservation> installationIDObservation;
// The one interface object; kept across test resets like the class it stands for.
constinit SharedInstance<VUZArezivodo> sharedInterface{TestReset::keep};

// What the class registry holds under "VUZArezivodo": the core library starts the interface
// through it, and the engine asks it for the version it reports.
class ClassObject final : public ZUDAnalyticsStartEntry {
  public:
    void startWithConfiguration(std::shared_ptr<ZUDAnalyticsConfiguration> configuration,
                                const ZUDOptions& options) const override {
        VUZArezivodo::startWithConfiguration(configuration, options);
    }
    bool respondsToSelector(std::string_view selector) const override {
        return selector == kTopLevelVersion || ZUDAnalyticsStartEntry::respondsToSelector(selector);
    }
    Value perform(std::string_view selector) const override {
        if (selector == kTopLevelVersion) return VUZArezivodo::topLevelVersion();
        return ZUDAnalyticsStartEntry::perform(selector);
    }

  private:
    static constexpr std::string_view kTopLevelVersion = "topLevelVersion";
};
}  // namespace

void VUZArezivodo::logEventWithName(const std::string& name, const std::optional<Dictionary>& parameters) {
    logEventWithOrigin(kOriginApp, name, parameters);
}

void VUZArezivodo::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const std::optional<Dictionary>& parameters) {
    if (!isDefaultAppConfiguredElseLog(25018, "Event not logged. Call +[ZUDApp configure]",
                                       ZDMEventNameForLog(Value(name))))
        return;
    if (parameters && VUZArezivodoHasUnbridgeableValue(Value(*parameters)))
        __VUZAREZIVODO_UNBRIDGEABLE_SWIFT_VALUE_ERROR__();
    ZDMAnalytics::logEventWithOrigin(origin, name, parameters);
}

void VUZArezivodo::setUserPropertyString(const std::optional<std::string>& value, const std::string& name) {
    if (!isDefaultAppConfiguredElseLog(25019, "User property not set. Call +[ZUDApp configure]",
                                       ZDMUserPropertyNameForLog(Value(name))))
        return;
    ZDMAnalytics::setUserPropertyString(value, name);
}

void VUZArezivodo::initiateOnDeviceConversionMeasurementWithEmailAddress(
    const std::optional<std::string>& email) {
    setUserDataIfConfigured(25051, "Email address not set. Call +[ZUDApp configure]", kEmailAddressKey,
                            email);
}

void VUZArezivodo::initiateOnDeviceConversionMeasurementWithPhoneNumber(
    const std::optional<std::string>& phone) {
    setUserDataIfConfigured(25052, "Phone number not set. Call +[ZUDApp configure]", kPhoneNumberKey, phone);
}

void VUZArezivodo::setUserID(const std::optional<std::string>& userID) {
    ZDMAnalytics::setUserID(userID);
}

void VUZArezivodo::setAnalyticsCollectionEnabled(bool enabled) {
    ZDMAnalytics::setAnalyticsEnabled(enabled, true);
}

void VUZArezivodo::setSessionTimeoutInterval(double seconds) {
    ZDMAnalytics::setSessionTimeoutInterval(seconds);
}

void VUZArezivodo::sessionIDWithCompletion(SessionIDCompletion completion) {
    ZDMAnalytics::sessionIDWithCompletion(std::move(completion));
}

std::optional<std::string> VUZArezivodo::appInstanceID() {
    return ZDMAnalytics::appInstanceID();
}

void VUZArezivodo::resetAnalyticsData() {
    ZDMAnalytics::resetAnalyticsData();
}

void VUZArezivodo::setConsent(const Dictionary& consent) {
    ZDMAnalytics::setConsent(consent, ZDMAnalytics::kConsentSettings3PKey);
}

void VUZArezivodo::setDefaultEventParameters(const std::optional<Dictionary>& parameters) {
    ZDMAnalytics::setDefaultEventParameters(parameters);
}

void VUZArezivodo::setLogEventInterceptor(ZDMAnalytics::EventInterceptor interceptor) {
    ZDMAnalytics::setLogEventInterceptor(std::move(interceptor));
}

std::optional<ZDMLogEventListenerToken> VUZArezivodo::addLogEventListener(
    ZDMAnalytics::LogEventListener listener) {
    return ZDMAnalytics::addLogEventListener(std::move(listener));
}

void VUZArezivodo::removeLogEventListener(const std::optional<ZDMLogEventListenerToken>& token) {
    ZDMAnalytics::removeLogEventListener(token);
}

void VUZArezivodo::notifyEventListeners(const std::shared_ptr<ZDMEvent>& event) {
    ZDMAnalytics::notifyEventListeners(event);
}

void VUZArezivodo::setOpenURLListener(ZDMAnalytics::OpenURLListener listener) {
    ZDMAnalytics::setOpenURLListener(std::move(listener));
}

void VUZArezivodo::handleOpenURL(const std::string& url) {
    ZDMAnalytics::handleOpenURL(url);
}

void VUZArezivodo::handleUserActivity(const Value& userActivity) {
    ZDMAnalytics::handleUserActivity(userActivity);
}

void VUZArezivodo::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       const std::function<void()>& completionHandler) {
    ZDMAnalytics::handleEventsForBackgroundURLSession(identifier, completionHandler);
}

void VUZArezivodo::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const Dictionary& parameters) {
    ZDMAnalytics::logInternalEventWithOrigin(origin, name, parameters);
}

void VUZArezivodo::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const std::optional<Dictionary>& parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
    ZDMAnalytics::logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                                     ignoreInterceptor);
}

void VUZArezivodo::userPropertiesIncludingInternal(bool includeInternal, std::shared_ptr<DispatchQueue> queue,
                                                   std::function<void(const Dictionary&)> callback) {
    ZDMAnalytics::userPropertiesIncludingInternal(includeInternal, std::move(queue), std::move(callback));
}

void VUZArezivodo::dispatchAsyncOnSerialQueue(std::function<void()> block) {
    ZDMAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
}

void VUZArezivodo::queueOperationWithBlock(std::function<void()> block) {
    ZDMAnalytics::queueOperationWithBlock(std::move(block));
}

void VUZArezivodo::unsuspendOperationQueue() {
    ZDMAnalytics::unsuspendOperationQueue();
}

double VUZArezivodo::loadTimestamp() {
    return ZDMAnalytics::loadTimestamp();
}

Dictionary VUZArezivodoStartOptions(const std::shared_ptr<ZUDAnalyticsConfiguration>& configuration,
                                    const ZUDOptions& options) {
    Dictionary start;
    if (configuration)
        start.set(ZDMAnalytics::kConfigurationOptionKey, Value(Value::ObjectPtr(configuration)));
    start.set(ZDMAnalytics::kCollectionDeactivatedOptionKey, options.isAnalyticsCollectionDeactivated);
    start.set(ZDMAnalytics::kCollectionEnabledOptionKey, options.isAnalyticsCollectionEnabled);
    start.set(ZDMAnalytics::kLogTagOptionKey, kZUDLoggerAnalytics);
    return start;
}

void VUZArezivodo::startWithConfiguration(const std::shared_ptr<ZUDAnalyticsConfiguration>& configuration,
                                          const ZUDOptions& options) {
    ZDMAnalytics::startWithAppID(options.zizodaAppID, kOriginZudedaro,
                                 VUZArezivodoStartOptions(configuration, options));
    updateZudedaroInstallationID();
    observeZudedaroInstallationIDChanges();
}

void VUZArezivodo::updateZudedaroInstallationID() {
    ZUDInstallations::installations()->installationIDWithCompletion(
        [](std::optional<std::string> identifier, std::optional<Error> error) {
            if (!identifier && error) logError(4, 25038, "Failed to get Installation ID.", *error);
            ZDMIdentity::sharedInstance()->setZudedaroInstallationID(identifier);
        });
}

void VUZArezivodo::observeZudedaroInstallationIDChanges() {
    auto observation = installationIDObservation.get();
    std::lock_guard lock(observation->mutex);
    observation->token.cancel();
    observation->token = NotificationCenter::defaultCenter().addObserver(
        ZUDInstallationIDDidChangeNotification, [](const Notification&) { updateZudedaroInstallationID(); });
}

std::string VUZArezivodo::topLevelVersion() {
    return ZUDZudedaroVersion();
}

std::shared_ptr<VUZArezivodo> VUZArezivodo::sharedInstance() {
    return sharedInterface.get();
}

void VUZArezivodo::logInternalEventWithOriginNameParameters(const std::string& origin,
                                                            const std::string& name,
                                                            const Dictionary& parameters) {
    ZDMAnalytics::sharedInstance()->logInternalEventWithOriginNameParameters(origin, name, parameters);
}

void VUZArezivodo::setInternalUserProperty(const Value& value, const std::string& name,
                                           const std::string& origin) {
    ZDMAnalytics::sharedInstance()->setInternalUserProperty(value, name, origin);
}

void VUZArezivodo::maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<DispatchQueue> queue,
                                              std::function<void(int64_t)> callback) {
    ZDMAnalytics::sharedInstance()->maxUserPropertiesForOrigin(origin, std::move(queue), std::move(callback));
}

bool VUZArezivodoHasUnbridgeableValue(const Value& parameters) {
    if (!Runtime::classExists(VUZArezivodo::kUnbridgeableValueClassName)) return false;
    return isUnbridgeable(parameters);
}

extern "C" [[gnu::noinline]] void __VUZAREZIVODO_UNBRIDGEABLE_SWIFT_VALUE_ERROR__() {
    log(3, 25040,
        "Unbridgeable Swift type logged in parameters. Break on "
        "__VUZAREZIVODO_UNBRIDGEABLE_SWIFT_VALUE_ERROR__ to debug.");
}

void VUZArezivodoRegisterClass() {
    Runtime::registerClass(VUZArezivodo::kClassName, std::make_shared<ClassObject>());
}
