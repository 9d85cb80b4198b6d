// The facade's user properties, user ID, personalised-ads choice, user data and the property
// queries. Names and values are checked and records built on the caller's thread; every engine
// call is a queued operation, so changes reach the engine in call order and only after the start.
#include <charconv>
#include <memory>
#include <string>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/TextValues.h"
#include "platform/foundation/Unicode.h"

namespace {
constexpr int64_t kUserPropertyNameLimit = 24;
constexpr int64_t kInvalidNameError = 6;
constexpr int64_t kReservedNameError = 15;
constexpr int64_t kValueTooLongError = 7;
constexpr size_t kMaxOriginLength = 32;  // UTF-16 units
constexpr const char* kPersonalizedAdsName = "allow_personalized_ads";
constexpr const char* kNonPersonalizedAdsName = "_npa";
constexpr const char* kUserIDName = "_id";
constexpr const char* kUserIDStitchingName = "_lair";

std::shared_ptr<ZDMMeasurement> existingEngine() {
    return ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
}

Value objectValue(const std::shared_ptr<const ZDMValue>& value) {
    return Value(Value::ObjectPtr(value));
}

// The public-name check of the application's properties; a refusal is reported as an error event.
bool isValidPublicName(const std::string& name) {
    uint64_t failure = ZDMDataTypeValidator::kNoFailure;
    if (ZDMDataTypeValidator::isValidPublicUserAttributeName(Value(name), &failure)) return true;
    const int64_t code = failure == ZDMDataTypeValidator::kReserved ? kReservedNameError : kInvalidNameError;
    ZDMLogErrorEventWithParameter(code, Value(name), kUserPropertyNameLimit, Value(name));
    return false;
}

// What an error event shows of a refused value: its text, or a number's.
Value textOfValue(const Value& value) {
    if (value.isString()) return value;
    if (const auto integer = value.isInteger() ? value.asInteger() : std::nullopt)
        return Value(std::to_string(*integer));
    if (const auto real = value.isReal() ? value.asReal() : std::nullopt) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, *real).ptr;
        return Value(std::string(text, end));
    }
    return Value();
}

// Sends "_npa" as the engine now derives it from the stored choice: set, or removed when nothing
// says.
void updateNonPersonalizedAdsProperty(ZDMMeasurement& engine) {
    const double now = Clock::current().now();
    const auto disable = engine.shouldDisableAdPersonalization();
    if (!disable) {
        engine.removeUserAttribute(ZDMUserAttribute::initWithOrigin("auto", kNonPersonalizedAdsName,
                                                                    ZDMValue::initWithDouble(0), now));
        return;
    }
    engine.setUserAttribute(ZDMUserAttribute::initWithOrigin("auto", kNonPersonalizedAdsName,
                                                             ZDMValue::initWithInt64(*disable ? 1 : 0), now));
}

void setPersonalizedAdsChoice(const Value& value) {
    std::optional<Value> choice;
    if (const std::string* text = value.asString())
        choice = Value(boolValueOfText(*text));
    else if (!value.isNull())
        choice = Value(value.boolOr(false));
    ZDMAnalytics::queueOperationWithBlock([choice] {
        const bool enabled = ZDMAnalytics::analyticsEnabled();
        if (!enabled)
            ZDMAnalyticsLog(7, 25033, "Personalized Ads property changed while Analytics is disabled");
        ZDMPersistedConfig::sharedInstance()->setAllowPersonalizedAds(choice);
        if (!enabled) return;
        if (const auto engine = existingEngine()) updateNonPersonalizedAdsProperty(*engine);
    });
}
}  // namespace

void ZDMAnalytics::setUserPropertyString(const Value& value, const std::string& name) {
    if (name == kPersonalizedAdsName) setPersonalizedAdsChoice(value);
    if (value.isNull()) return removeUserAttributeForName(name);
    if (!isValidPublicName(name)) return;
    if (!value.isString()) return ZDMAnalyticsLog(0, 25003, "User property must be NSString. Value", value);
    const auto wrapped = ZDMValue::initWithString(value);
    uint64_t failure = ZDMDataTypeValidator::kNoFailure;
    if (ZDMDataTypeValidator::isValidPublicUserAttributeValue(objectValue(wrapped), &failure))
        return setInternalUserProperty(value, name, "app");
    if (failure == ZDMDataTypeValidator::kTooLong)
        ZDMLogErrorEventWithParameter(kValueTooLongError, Value(name), kUserPropertyNameLimit, value);
}

void ZDMAnalytics::setUserPropertyString(const std::optional<std::string>& value, const std::string& name) {
    setUserPropertyString(value ? Value(*value) : Value(), name);
}

void ZDMAnalytics::setUserID(const Value& userID) {
    if (userID.isNull()) {
        removeInternalUserAttributeForName(kUserIDName);
        removeInternalUserAttributeForName(kUserIDStitchingName);
        return;
    }
    if (!userID.isString()) return ZDMAnalyticsLog(0, 25004, "User ID must be NSString. User ID", userID);
    setInternalUserProperty(userID, kUserIDName, "app");
}

void ZDMAnalytics::setUserID(const std::optional<std::string>& userID) {
    setUserID(userID ? Value(*userID) : Value());
}

void ZDMAnalytics::removeUserAttributeForName(const std::string& name) {
    if (ZDMDataTypeValidator::isValidPublicUserAttributeName(Value(name)))
        removeInternalUserAttributeForName(name);
}

void ZDMAnalytics::setUserAttributeNumber(const Value& number, const std::string& name) {
    if (!isValidPublicName(name)) return;
    std::shared_ptr<const ZDMValue> value;
    if (number.isReal())
        value = ZDMValue::initWithDouble(*number.asReal());
    else if (number.isNumber())
        value = ZDMValue::initWithInt64(*number.asInteger());
    else
        return;
    setInternalUserProperty(objectValue(value), name, "auto");
}

void ZDMAnalytics::setInternalUserProperty(const std::optional<Value>& value, const std::string& name,
                                           const std::string& origin) {
    if (!ZDMDataTypeValidator::isValidInternalUserAttributeName(Value(name)))
        return ZDMLogErrorEventWithParameter(kInvalidNameError, Value(name), kUserPropertyNameLimit, Value());
    const size_t originLength = utf16Length(origin);
    if (originLength < 1 || originLength > kMaxOriginLength)
        return ZDMAnalyticsLog(2, 25005, "Unable to set user property. Origin is invalid. Origin, name",
                               Value(Value::Array{Value(origin), Value(name)}));
    if (!value || value->isNull()) return removeInternalUserAttributeForName(name);
    const auto wrapped = ZDMValue::valueFromObject(*value);
    if (!wrapped) return;
    uint64_t failure = ZDMDataTypeValidator::kNoFailure;
    if (!ZDMDataTypeValidator::isValidInternalUserAttributeValue(objectValue(wrapped), name, &failure)) {
        if (failure == ZDMDataTypeValidator::kTooLong) {
            const Value text = wrapped->stringValue() ? Value(*wrapped->stringValue()) : textOfValue(*value);
            ZDMLogErrorEventWithParameter(kValueTooLongError, Value(name), kUserPropertyNameLimit, text);
        }
        return;
    }
    const auto attribute = ZDMUserAttribute::initWithOrigin(origin, name, wrapped, Clock::current().now());
    if (!attribute) return;
    queueOperationWithBlock([attribute] {
        if (const auto engine = existingEngine()) engine->setUserAttribute(attribute);
    });
}

std::shared_ptr<ZDMUserAttribute> ZDMAnalytics::removalAttributeForName(const std::string& name) {
    return ZDMUserAttribute::initWithOrigin("", name, ZDMValue::initWithDouble(0), Clock::current().now());
}

void ZDMAnalytics::removeInternalUserAttributeForName(const std::string& name) {
    const auto attribute = removalAttributeForName(name);
    if (!attribute) return;
    queueOperationWithBlock([attribute] {
        if (const auto engine = existingEngine()) engine->removeUserAttribute(attribute);
    });
}

void ZDMAnalytics::setUserData(const Dictionary& userData) {
    queueOperationWithBlockThenWait([userData] { setUserDataOnSerialQueue(userData); });
}

void ZDMAnalytics::setUserDataOnSerialQueue(const Dictionary& userData) {
    if (!analyticsEnabled()) return ZDMAnalyticsLog(4, 25044, "Analytics is disabled. User data not set.");
    if (const auto engine = existingEngine()) engine->setUserData(userData);
}

void ZDMAnalytics::userPropertiesIncludingInternal(bool includeInternal, std::shared_ptr<DispatchQueue> queue,
                                                   std::function<void(const Dictionary&)> callback) {
    queueOperationWithBlock([includeInternal, queue = std::move(queue), callback = std::move(callback)] {
        if (!callback) return ZDMAnalyticsLog(2, 25006, "Analytics userProperties callback cannot be nil");
        if (!queue) {
            ZDMAnalyticsLog(2, 25007, "Cannot query for Analytics user properties. Queue cannot be nil");
            return DispatchQueue::main()->async([callback] { callback({}); });
        }
        if (!analyticsEnabled()) {
            ZDMAnalyticsLog(5, 25008, "Cannot query for public user properties when Analytics is disabled");
            return queue->async([callback] { callback({}); });
        }
        const auto engine = existingEngine();
        if (!engine) return;
        engine->userPropertiesIncludingInternal(includeInternal, [queue, callback](const Dictionary& answer) {
            queue->async([callback, answer] { callback(answer); });
        });
    });
}

void ZDMAnalytics::maxUserPropertiesForOrigin(const std::string& origin, std::shared_ptr<DispatchQueue> queue,
                                              std::function<void(int64_t)> callback) {
    if (origin.empty())
        return ZDMAnalyticsLog(
            2, 25009, "Cannot query Analytics for max user properties. Origin must be a non-empty string");
    if (!queue)
        return ZDMAnalyticsLog(2, 25010,
                               "Cannot query Analytics for max user properties. Queue cannot be nil. Origin",
                               Value(origin));
    if (!callback)
        return ZDMAnalyticsLog(2, 25011,
                               "Cannot query Analytics for max user properties. MaxUserProperties callback "
                               "cannot be nil. Origin",
                               Value(origin));
    queueOperationWithBlock([origin, queue = std::move(queue), callback = std::move(callback)] {
        const auto engine = existingEngine();
        if (!engine) return;
        engine->maxUserPropertiesForOrigin(origin, [queue, callback](int64_t limit) {
            queue->async([callback, limit] { callback(limit); });
        });
    });
}
