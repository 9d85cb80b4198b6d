// The engine's user-property operations on the worker queue: every property the engine or the app
// sets goes through one gate that keeps the per-origin limits and the user-ID rules.
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"

using zdm_engine::engineMonitor;

namespace {
Value nameForLog(const std::string& name) {
    return Value(ZDMUserPropertyNameForLog(Value(name)));
}

std::string valueText(const std::shared_ptr<const ZDMValue>& value) {
    return value ? value->description() : std::string();
}
}  // namespace

void ZDMMeasurement::setUserAttributeOnWorkerQueue(const std::shared_ptr<ZDMUserAttribute>& attribute) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("setUserAttributeOnWorkerQueue:");
    if (!attribute) return;
    if (!isEnabled()) {
        engineMonitor().logWithLevel(7, 23081, "Analytics is disabled. User property not set");
        return;
    }
    setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

bool ZDMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(
    const std::shared_ptr<ZDMUserAttribute>& attribute) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("setUserPropertyInDatabaseOnWorkerQueue:");
    const auto db = database();
    if (!attribute || !db) return false;
    Error error;
    const auto exists = db->containsUserAttributeWithName(attribute->name(), &error);
    if (!exists) {
        engineMonitor().logWithLevel(1, 23082, "Unable to query existence of user property. Name, error",
                                     nameForLog(attribute->name()), Value(error.description));
        return false;
    }
    if (*exists && attribute->name() == "_id") {
        // A different user on this install: the stitching token and the reset mark belong to the old one.
        const auto stored = db->userAttributeWithName("_id");
        if (!stored || valueText(stored->value()) != valueText(attribute->value())) {
            if (const auto id = identity()) id->resetSessionStitchingToken();
            db->deleteUserAttributeWithName("_lair");
        }
    }
    if (!*exists) {
        Error countError;
        std::optional<int64_t> count;
        int64_t limit = kMaxUserPropertiesPerOrigin;
        if (attribute->isPublic()) {
            count = db->publicUserAttributeCount(&countError);
            limit = remoteConfigInstance()->maxPublicUserProperties();
        } else {
            count = db->userAttributeCountForOrigin(attribute->origin(), &countError);
        }
        if (!count || *count >= limit) {
            if (!count && !countError.description.empty()) {
                engineMonitor().logWithLevel(1, 23083, "Unable to query user property count. Origin, error",
                                             Value(attribute->origin()), Value(countError.description));
            } else {
                engineMonitor().logWithLevel(3, 23084,
                                             "Unable to set user property. Reached limit on set user "
                                             "properties for origin. Origin, name, value",
                                             Value(attribute->origin()), nameForLog(attribute->name()),
                                             Value(valueText(attribute->value())));
                ZDMLogErrorEvent(9);
            }
            return false;
        }
    }
    if (!db->updateUserAttribute(attribute.get(), &error)) {
        engineMonitor().logWithLevel(1, 23085, "Unable to set user property. Name, value, error",
                                     nameForLog(attribute->name()), Value(valueText(attribute->value())),
                                     Value(error.description));
        return false;
    }
    engineMonitor().logWithLevel(7, 23087, "User property set. Name, value", nameForLog(attribute->name()),
                                 Value(valueText(attribute->value())));
    return true;
}

void ZDMMeasurement::removeUserAttributeOnWorkerQueue(const std::shared_ptr<ZDMUserAttribute>& attribute) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("removeUserAttributeOnWorkerQueue:");
    if (!attribute) return;
    if (!isEnabled()) {
        engineMonitor().logWithLevel(7, 23076, "Analytics is disabled. User property not removed");
        return;
    }
    const auto db = database();
    if (!db) return;
    if (attribute->name() == "_id")
        if (const auto id = identity()) id->resetSessionStitchingToken();
    Error error;
    if (db->deleteUserAttributeWithName(attribute->name(), &error) || error.description.empty()) {
        engineMonitor().logWithLevel(7, 23078, "User property removed. Name", nameForLog(attribute->name()));
    } else {
        engineMonitor().logWithLevel(1, 23077, "Unable to remove user property. Name, error",
                                     nameForLog(attribute->name()), Value(error.description));
    }
}

std::optional<std::string> ZDMMeasurement::previousFirstOpenCount() {
    const auto stored = persistedConfig_->previousFirstOpenCount();
    if (!stored) return std::nullopt;
    const auto number = stored->asInteger();
    return number ? std::optional(std::to_string(*number)) : std::nullopt;
}

void ZDMMeasurement::setPreviousFirstOpenCount(const std::optional<std::string>& count) {
    if (!count) {
        persistedConfig_->setPreviousFirstOpenCount(std::nullopt);
        return;
    }
    // Text that is not a number reads as 0, as a plain integer conversion would.
    int64_t value = 0;
    try {
        value = std::stoll(*count);
    } catch (...) {
        value = 0;
    }
    persistedConfig_->setPreviousFirstOpenCount(Value(value));
}

void ZDMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {
    const auto db = database();
    if (!db || !hasUserPropertyUserIDOnWorkerQueue()) return;
    Error error;
    const auto existing = db->userAttributeWithName("_lair", &error);
    if (existing || !error.description.empty()) return;
    setUserAttributeOnWorkerQueue(ZDMUserAttribute::initWithOrigin(
        "auto", "_lair", ZDMValue::initWithInt64(1), Clock::current().now()));
    if (const auto id = identity()) id->setShouldSetLastAdvertisingIDResetUserProperty(false);
}

bool ZDMMeasurement::hasUserPropertyUserIDOnWorkerQueue() {
    const auto db = database();
    return db && db->containsUserAttributeWithName("_id").value_or(false);
}
