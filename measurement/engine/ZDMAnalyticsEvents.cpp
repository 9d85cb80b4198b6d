// The facade's events, interceptor, listeners and links.
#include <charconv>
#include <limits>
#include <string>
#include <string_view>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/foundation/URL.h"

namespace {
constexpr int64_t kEventNameLengthLimit = 40;
constexpr int64_t kReservedNameFailure = 4;
constexpr int64_t kReservedEventNameError = 13;
constexpr int64_t kInvalidEventNameError = 2;

std::shared_ptr<ZDMMeasurement> existingEngine() {
    return ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
}

// The screen in view goes with an event that names none itself.
Dictionary screenParametersFor(const std::optional<Dictionary>& parameters) {
    if (parameters && ZDMParametersContainScreenParameters(*parameters)) return {};
    return ZDMScreenViewReporter::sharedInstance()->screenParameters();
}

// The whole-number part of a decimal text, as the platform reads a text as an integer: beyond the
// int64 range it stays at the nearest bound.
int64_t int64FromDecimalText(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const std::string_view digits = text.substr(0, text.find('.'));
    int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range)
        return digits.starts_with('-') ? std::numeric_limits<int64_t>::min()
                                       : std::numeric_limits<int64_t>::max();
    return value;
}

// The engine's link handling, for the facade's URL texts and user activities. A text that forms no
// URL reaches the engine as no URL, which it ignores.
void handleNonFirstOpenEventURL(ZDMMeasurement& engine, const std::string& url, double timestamp) {
    engine.handleNonFirstOpenEventURL(URL::URLWithString(url), timestamp);
}
std::optional<std::string> deepLinkFromUserActivity(const Value& userActivity) {
    const auto url = ZDMMeasurement::deepLinkFromUserActivity(userActivity.objectAs<NSUserActivity>());
    if (!url) return std::nullopt;
    return url->absoluteString();
}

// Runs `store` on the serial queue: at once when already there, else after the operations held.
void storeOnSerialQueue(ZDMAnalytics::Block store) {
    if (ZDMAnalytics::isCurrentQueueSerialQueue()) return store();
    ZDMAnalytics::queueOperationWithBlock(std::move(store));
}
}  // namespace

void ZDMAnalytics::logEventWithName(const std::string& name, const std::optional<Dictionary>& parameters) {
    logEventWithOrigin("app", name, parameters);
}

void ZDMAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const std::optional<Dictionary>& parameters) {
    uint64_t failureCode = 0;
    if (!ZDMDataTypeValidator::isValidPublicEventName(Value(name), &failureCode)) {
        const int64_t error =
            failureCode == kReservedNameFailure ? kReservedEventNameError : kInvalidEventNameError;
        return ZDMLogErrorEventWithParameter(error, Value(name), kEventNameLengthLimit, Value(name));
    }
    logEventWithOrigin(origin, true, name, parameters);
}

void ZDMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const std::optional<Dictionary>& parameters) {
    if (name == "screen_view")
        return ZDMScreenViewReporter::sharedInstance()->trackScreenWithParameters(
            parameters.value_or(Dictionary{}), Clock::current().now());
    const Dictionary screenParameters = screenParametersFor(parameters);
    // Stamping and queueing are one step of a serial queue, so operations queue in time order.
    ZDMAnalyticsCurrentState()->timestampQueue->sync([&] {
        const double timestamp = Clock::current().now();
        queueOperationWithBlock([origin, isPublicEvent, name, parameters, timestamp, screenParameters] {
            logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, false, false,
                                            screenParameters);
        });
    });
}

void ZDMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              double timestamp, const std::optional<Dictionary>& parameters) {
    const Dictionary screenParameters = screenParametersFor(parameters);
    queueOperationWithBlock([origin, name, parameters, timestamp, screenParameters] {
        logEventOnSerialQueueWithOrigin(origin, false, name, parameters, timestamp, false, false,
                                        screenParameters);
    });
}

void ZDMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const std::optional<Dictionary>& parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
    queueOperationWithBlock(
        [origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled, ignoreInterceptor] {
            logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                                            ignoreInterceptor, Dictionary{});
        });
}

void ZDMAnalytics::logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                   const std::string& name,
                                                   const std::optional<Dictionary>& parameters,
                                                   double timestamp, bool ignoreEnabled,
                                                   bool ignoreInterceptor,
                                                   const Dictionary& addedScreenParameters) {
    std::optional<Dictionary> eventParameters = parameters;
    Dictionary screenParameters = addedScreenParameters;
    // A forwarded event brings its screen along inside its own parameters.
    if (ignoreInterceptor && screenParameters.empty() && eventParameters &&
        ZDMDataTypeValidator::isValidForwardedEventOrigin(Value(origin))) {
        screenParameters = ZDMScreenParametersFromParameters(*eventParameters);
        for (const auto& [key, value] : screenParameters) eventParameters->erase(key);
    }
    const auto engine = existingEngine();
    if (!engine) return;
    const auto state = ZDMAnalyticsCurrentState();
    engine->logEventWithOrigin(origin, isPublicEvent, name, eventParameters, timestamp,
                               state->analyticsEnabled, ignoreEnabled, ignoreInterceptor, state->interceptor,
                               screenParameters);
}

void ZDMAnalytics::setDefaultEventParameters(const std::optional<Dictionary>& parameters) {
    queueOperationWithBlock([parameters] {
        const auto engine = existingEngine();
        if (engine && analyticsEnabled()) engine->setDefaultEventParameters(parameters);
    });
}

void ZDMAnalytics::logInternalEventWithOriginNameParameters(const std::string& origin,
                                                            const std::string& name,
                                                            const Dictionary& parameters) {
    const std::string* adEventID = parameters["_aeid"].asString();
    if (origin != "am" || !adEventID) return logInternalEventWithOrigin(origin, name, parameters);
    if (!ZDMIsDecimalNumberString(*adEventID)) {
        ZDMAnalyticsLog(2, 25024, "AdEvent ID string is not a number");
        return logInternalEventWithOrigin(origin, name, parameters);
    }
    Dictionary converted = parameters;
    converted.set("_aeid", Value(ZDMValue::initWithInt64(int64FromDecimalText(*adEventID))));
    logInternalEventWithOrigin(origin, name, converted);
}

void ZDMAnalytics::setLogEventInterceptor(EventInterceptor interceptor) {
    storeOnSerialQueue(
        [interceptor = std::move(interceptor)] { ZDMAnalyticsCurrentState()->interceptor = interceptor; });
}

std::optional<ZDMLogEventListenerToken> ZDMAnalytics::addLogEventListener(LogEventListener listener) {
    if (!listener) {
        ZDMAnalyticsLog(2, 25012, "Attempted addition of nil log event listener.");
        return std::nullopt;
    }
    auto kept = std::make_shared<const LogEventListener>(std::move(listener));
    const ZDMLogEventListenerToken token{kept.get()};
    storeOnSerialQueue([kept = std::move(kept)] {
        const auto state = ZDMAnalyticsCurrentState();
        auto& listeners = state->listeners;
        if (!listeners) listeners.emplace();
        listeners->emplace(kept.get(), kept);
    });
    return token;
}

void ZDMAnalytics::removeLogEventListener(const std::optional<ZDMLogEventListenerToken>& token) {
    if (!token) return ZDMAnalyticsLog(2, 25013, "Attempted removal of nil log event.");
    queueOperationWithBlock([listener = token->listener] {
        const auto state = ZDMAnalyticsCurrentState();
        auto& listeners = state->listeners;
        if (!listeners) return ZDMAnalyticsLog(2, 25014, "Attempted removal of nil log event listener.");
        if (!listeners->erase(listener))
            ZDMAnalyticsLog(2, 25015, "Attempted removal of log event listener with invalid token.");
    });
}

void ZDMAnalytics::notifyEventListeners(const std::shared_ptr<ZDMEvent>& event) {
    queueOperationWithBlock([event] { notifyEventListenersOnSerialQueue(event); });
}

void ZDMAnalytics::notifyEventListenersOnSerialQueue(const std::shared_ptr<ZDMEvent>& event) {
    const auto state = ZDMAnalyticsCurrentState();
    const auto& listeners = state->listeners;
    if (!listeners) return;
    // A copy: a listener may change the map (its changes are queued, but a test's may run here).
    const ZDMAnalyticsState::Listeners current = *listeners;
    for (const auto& [address, listener] : current) (*listener)(event);
}

void ZDMAnalytics::setOpenURLListener(OpenURLListener listener) {
    dispatchAsyncOnSerialQueue(
        [listener = std::move(listener)] { ZDMAnalyticsCurrentState()->openURLListener = listener; });
}

void ZDMAnalytics::handleOpenURL(const std::string& url) {
    const double timestamp = Clock::current().now();
    dispatchAsyncOnSerialQueue([url, timestamp] {
        if (const auto engine = existingEngine()) handleNonFirstOpenEventURL(*engine, url, timestamp);
        const auto state = ZDMAnalyticsCurrentState();
        if (state->openURLListener) state->openURLListener(url);
    });
}

void ZDMAnalytics::handleUserActivity(const Value& userActivity) {
    const double timestamp = Clock::current().now();
    dispatchAsyncOnSerialQueue([userActivity, timestamp] {
        const auto url = deepLinkFromUserActivity(userActivity);
        if (!url || url->empty()) return;
        if (const auto engine = existingEngine()) handleNonFirstOpenEventURL(*engine, *url, timestamp);
    });
}

void ZDMAnalytics::paymentQueue(SKPaymentQueue& /*queue*/, const Transactions& /*updatedTransactions*/) {
    // Purchase reporting takes the transactions from here once the engine filters purchases.
}
