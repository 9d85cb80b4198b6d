#include "measurement/audiences/conditional/ZDMConditionalUserPropertyController.h"

#include <condition_variable>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/ValueClassName.h"

namespace {

constinit SharedInstance<ZDMConditionalUserPropertyController> sharedController;

// 180 days.
constexpr double kMaxDuration = 15552000;
constexpr double kMinDuration = 0.001;

void log(int64_t level, int64_t code, const std::string& message, const Value& a = {}, const Value& b = {},
         const Value& c = {}) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, a, b, c);
}

Value nameForLog(const std::string& name) {
    return Value(ZDMUserPropertyNameForLog(Value(name)));
}
Value errorForLog(const Error& error) {
    return ErrorObject::value(error);
}
Value valueObject(const std::shared_ptr<const ZDMValue>& value) {
    return value ? Value(Value::ObjectPtr(value)) : Value();
}
bool hasError(const Error& error) {
    return error.code != 0 || !error.domain.empty();
}

// The negated test also refuses NaN.
bool isValidDuration(double seconds) {
    return seconds >= kMinDuration && seconds <= kMaxDuration;
}

// Events a record stores are templates: what is logged is a new internal event of the record's
// origin at the moment of the transition. nullptr when the event is refused; the caller skips it.
std::shared_ptr<ZDMEvent> internalEvent(const std::string& origin, const ZDMEvent& stored, double timestamp) {
    return ZDMEvent::initWithOrigin(origin, false, stored.name(), timestamp, 0, stored.parameters());
}

bool writeUserProperty(ZDMDatabase& database, const ZDMConditionalUserProperty& record,
                       double lastSetTimestamp, Error* error) {
    const auto attribute =
        ZDMUserAttribute::initWithOrigin(record.origin(), record.name(), record.value(), lastSetTimestamp);
    return attribute && database.updateUserAttribute(attribute.get(), error);
}

void appendIfMade(ZDMConditionalUserPropertyController::Events& events, std::shared_ptr<ZDMEvent> event) {
    if (event) events.push_back(std::move(event));
}

}  // namespace

bool ZDMIsValidConditionalUserProperty(const ZDMConditionalUserProperty* property) {
    if (!property) return false;
    if (!ZDMDataTypeValidator::isValidConditionalUserPropertyOrigin(Value(property->origin())) ||
        !ZDMDataTypeValidator::isValidConditionalUserPropertyName(Value(property->name())))
        return false;
    if (property->value() &&
        !ZDMDataTypeValidator::isValidConditionalUserPropertyValue(valueObject(property->value())))
        return false;
    if (!isValidDuration(property->triggerTimeout())) {
        log(2, 11000, "Invalid conditional user property trigger timeout", Value(property->triggerTimeout()));
        return false;
    }
    if (!isValidDuration(property->timeToLive())) {
        log(2, 11001, "Invalid conditional user property time to live", Value(property->timeToLive()));
        return false;
    }
    return true;
}

std::shared_ptr<ZDMConditionalUserPropertyController> ZDMConditionalUserPropertyController::sharedInstance() {
    return sharedController.get();
}

void ZDMConditionalUserPropertyController::setEngine(std::weak_ptr<ZDMConditionalUserPropertyEngine> engine) {
    std::lock_guard lock(mutex_);
    engine_ = std::move(engine);
}

std::shared_ptr<ZDMConditionalUserPropertyEngine> ZDMConditionalUserPropertyController::engine() const {
    std::lock_guard lock(mutex_);
    return engine_.lock();
}

void ZDMConditionalUserPropertyController::setConditionalUserProperty(
    const ZDMConditionalUserProperty* property, const std::string& name) {
    if (!property) {
        log(2, 11002, "Cannot set nil conditional user property");
        return;
    }
    auto copy = std::make_shared<ZDMConditionalUserProperty>(*property);
    copy->setName(name);
    if (!ZDMIsValidConditionalUserProperty(copy.get())) return;
    copy->setCreationTimestamp(Clock::current().now());
    schedule("ZDMConditionalUserPropertyController:88", std::move(copy));
}

void ZDMConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    const std::shared_ptr<ZDMEvent>& clearEvent, const std::string& name) {
    if (!ZDMDataTypeValidator::isValidConditionalUserPropertyName(Value(name))) return;
    auto request = std::make_shared<ZDMConditionalUserProperty>();
    request->setName(name);
    request->setExpiredEvent(clearEvent);
    schedule("ZDMConditionalUserPropertyController:113", std::move(request));
}

// A record without a value asks for removal, its expired event standing for the clear event.
void ZDMConditionalUserPropertyController::schedule(const std::string& blockID,
                                                    std::shared_ptr<ZDMConditionalUserProperty> property) {
    const auto engine = this->engine();
    if (!engine) return;
    engine->scheduler().scheduleOnWorkerQueueBlockID(
        blockID, [weakSelf = weak_from_this(), property = std::move(property)] {
            const auto self = weakSelf.lock();
            if (!self) return;
            if (property->value())
                self->setConditionalUserPropertyOnWorkerQueue(property);
            else
                self->removeConditionalUserPropertyOnWorkerQueue(property);
        });
}

std::optional<ZDMConditionalUserPropertyController::Properties>
ZDMConditionalUserPropertyController::conditionalUserPropertiesWithNamePrefix(const Value& prefix,
                                                                              const Value& origin) {
    if (!prefix.isNull() && !prefix.isString()) {
        log(2, 11003, "Cannot query for conditional user properties. Name prefix is not a string. Class",
            Value(classNameOf(prefix)));
        return std::nullopt;
    }
    if (!origin.isNull() && !origin.isString()) {
        log(2, 11004, "Cannot query for conditional user properties. Origin is not a string. Class",
            Value(classNameOf(origin)));
        return std::nullopt;
    }
    const auto engine = this->engine();
    if (!engine) return std::nullopt;

    // Owned by the waiting caller and the block alike: the block may answer after the caller gave
    // up and returned, and must then write into something that still exists.
    struct Answer {
        std::mutex mutex;
        std::condition_variable changed;
        bool answered = false;
        bool gaveUp = false;
        std::optional<Properties> rows;
        Error error;
    };
    const auto answer = std::make_shared<Answer>();
    auto work = [weakSelf = weak_from_this(), prefix = prefix.stringOr(""), origin = origin.stringOr(""),
                 answer] {
        std::optional<Properties> rows;
        Error error;
        if (const auto self = weakSelf.lock()) rows = self->queryOnWorkerQueue(prefix, origin, &error);
        std::lock_guard lock(answer->mutex);
        answer->rows = std::move(rows);
        answer->error = std::move(error);
        answer->answered = true;
        answer->changed.notify_all();
    };

    ZDMScheduler& scheduler = engine->scheduler();
    if (scheduler.workerQueue()->isCurrent()) {
        // Queued behind its own caller the block could never run in time: the engine's only worker
        // queue would stand still for the whole wait and the caller would get nothing.
        work();
    } else {
        scheduler.scheduleOnWorkerQueueBlockID("ZDMConditionalUserPropertyController:161", std::move(work));
        // The wait is measured on the process clock, so that it follows the clock tests move.
        const Clock::TimerId timer =
            Clock::current().schedule(kQueryTimeout, DispatchQueue::global(), [answer] {
                std::lock_guard lock(answer->mutex);
                answer->gaveUp = true;
                answer->changed.notify_all();
            });
        std::unique_lock lock(answer->mutex);
        answer->changed.wait(lock, [&] { return answer->answered || answer->gaveUp; });
        lock.unlock();
        Clock::current().cancel(timer);
    }

    std::lock_guard lock(answer->mutex);
    if (!answer->answered) return std::nullopt;
    if (answer->rows) return std::move(answer->rows);
    if (hasError(answer->error))
        log(2, 11006, "Cannot query for conditional user properties. Name prefix, origin, error", prefix,
            origin, errorForLog(answer->error));
    return std::nullopt;
}

std::optional<ZDMConditionalUserPropertyController::Properties>
ZDMConditionalUserPropertyController::queryOnWorkerQueue(const std::string& prefix, const std::string& origin,
                                                         Error* error) {
    const auto engine = this->engine();
    if (!engine) return std::nullopt;
    if (!engine->isEnabled()) {
        log(3, 11005, "Cannot query for conditional user properties. Analytics is disabled");
        return std::nullopt;
    }
    ZDMDatabase* database = engine->database();
    if (!database) return std::nullopt;
    return database->conditionalUserPropertiesWithPrefix(prefix, origin, error);
}

void ZDMConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<ZDMConditionalUserProperty>& property) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("setConditionalUserPropertyOnWorkerQueue");
    const auto engine = this->engine();
    if (!engine) return;
    if (!engine->isEnabled()) {
        log(3, 11007, "Cannot set conditional user property. Analytics is disabled");
        return;
    }
    if (!property) {
        log(2, 11008, "Cannot set nil conditional user property on worker queue");
        return;
    }
    ZDMDatabase* database = engine->database();
    if (!database) return;

    std::shared_ptr<ZDMEvent> eventToLog;
    const bool committed = database->performTransaction([&] {
        auto record = std::make_shared<ZDMConditionalUserProperty>(*property);
        eventToLog.reset();
        Error error;
        const auto stored = database->conditionalUserPropertyWithName(record->name(), &error);
        if (hasError(error)) {
            log(1, 11009, "Cannot query conditional user property. Name, origin, error",
                nameForLog(record->name()), Value(record->origin()), errorForLog(error));
            return false;
        }
        if (stored && stored->origin() != record->origin())
            log(5, 11010,
                "Updating a conditional user property with different origin. Name, origin, saved origin",
                nameForLog(record->name()), Value(record->origin()), Value(stored->origin()));

        bool activatedNow = false;
        if (stored && stored->isActive()) {
            record->setOrigin(stored->origin());
            record->setCreationTimestamp(stored->creationTimestamp());
            record->setTriggerEventName(stored->triggerEventName());
            record->setTriggeredEvent(stored->triggeredEvent());
            record->setTriggerTimeout(stored->triggerTimeout());
            // Taken before the user property is written, so that a re-set carries its new value into
            // the user property too, dated from the original activation.
            record->setActive(true);
            record->setTriggeredTimestamp(stored->triggeredTimestamp());
        } else if (record->triggerEventName().empty()) {
            record->setActive(true);
            record->setTriggeredTimestamp(record->creationTimestamp());
            activatedNow = true;
        }

        if (record->isActive()) {
            Error userPropertyError;
            if (writeUserProperty(*database, *record, record->triggeredTimestamp(), &userPropertyError))
                log(7, 11012, "User property updated. Name, origin", nameForLog(record->name()),
                    Value(record->origin()));
            else
                log(1, 11011,
                    "Cannot update user property from conditional user property. Name, origin, error",
                    nameForLog(record->name()), Value(record->origin()), errorForLog(userPropertyError));
            if (activatedNow && record->triggeredEvent())
                eventToLog =
                    internalEvent(record->origin(), *record->triggeredEvent(), record->triggeredTimestamp());
        }

        if (!database->updateConditionalUserProperty(record.get(), &error)) {
            log(1, 11014, "Cannot insert user property from conditional user property. Name, origin, error",
                nameForLog(record->name()), Value(record->origin()), errorForLog(error));
            // Committing here would leave the user property in force with no record to expire it,
            // and log its triggered event: nothing of the request may stay.
            eventToLog.reset();
            return false;
        }
        log(7, 11013, "Conditional user property added. Name, origin", nameForLog(record->name()),
            Value(record->origin()));
        return true;
    });
    if (committed && eventToLog) engine->writeEventOnWorkerQueue(eventToLog);
}

void ZDMConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<ZDMConditionalUserProperty>& request) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("removeConditionalUserPropertyOnWorkerQueue:");
    const auto engine = this->engine();
    if (!engine) return;
    if (!engine->isEnabled()) {
        log(3, 11015, "Cannot remove conditional user property. Analytics is disabled");
        return;
    }
    if (!request) {
        log(0, 11016, "Cannot remove nil conditional user property on worker queue");
        return;
    }
    ZDMDatabase* database = engine->database();
    if (!database) return;

    const std::string& name = request->name();
    std::shared_ptr<ZDMEvent> eventToLog;
    const bool committed = database->performTransaction([&] {
        eventToLog.reset();
        Error error;
        const auto stored = database->conditionalUserPropertyWithName(name, &error);
        if (!stored) {
            if (hasError(error)) {
                log(1, 11017, "Cannot query conditional user property to remove. Name, origin, error",
                    nameForLog(name), Value(request->origin()), errorForLog(error));
                return false;
            }
            log(4, 11018, "Cannot remove nonexistent conditional user property. Name, origin",
                nameForLog(name), Value(request->origin()));
            return true;
        }
        if (!database->deleteConditionalUserPropertyWithName(name, &error)) {
            log(1, 11019, "Cannot delete conditional user property. Name, origin, error", nameForLog(name),
                Value(request->origin()), errorForLog(error));
            return false;
        }
        if (stored->isActive() && !database->deleteUserAttributeWithName(name, &error)) {
            log(1, 11020,
                "Cannot remove conditional user property. Failed to delete the user property. Name, origin, "
                "error",
                nameForLog(name), Value(request->origin()), errorForLog(error));
            return false;
        }
        if (request->expiredEvent())
            eventToLog = internalEvent(stored->origin(), *request->expiredEvent(), Clock::current().now());
        return true;
    });
    if (committed && eventToLog) engine->writeEventOnWorkerQueue(eventToLog);
}

std::optional<ZDMConditionalUserPropertyController::Events>
ZDMConditionalUserPropertyController::processEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("processEventOnWorkerQueue:");
    if (!event) {
        log(2, 10000, "Cannot process nil event for conditional user property");
        return std::nullopt;
    }
    const auto engine = this->engine();
    ZDMDatabase* database = engine ? engine->database() : nullptr;
    if (!database) return std::nullopt;

    Events timedOut;
    Events expired;
    std::optional<Events> triggered;
    // Time-outs go first, so that a trigger that came too late finds its record already removed.
    const bool committed = database->performTransaction([&] {
        timedOut.clear();
        expired.clear();
        if (!removeTimedOutCUPWithTimedOutEvents(&timedOut) || !removeExpiredCUPWithExpiredEvents(&expired))
            return false;
        triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event->name());
        return triggered.has_value();
    });
    if (!committed) return std::nullopt;
    for (const auto& logged : timedOut) engine->writeEventOnWorkerQueue(logged);
    for (const auto& logged : expired) engine->writeEventOnWorkerQueue(logged);
    return triggered;
}

bool ZDMConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(Events* timedOutEvents) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("removeTimedOutCUPWithTimedOutEvents:");
    const auto engine = this->engine();
    ZDMDatabase* database = engine ? engine->database() : nullptr;
    if (!database) return false;
    Error error;
    const auto records = database->timedOutConditionalUserPropertiesWithError(&error);
    if (!records) {
        log(1, 10001, "Cannot fetch timed out conditional user properties. Error", errorForLog(error));
        return false;
    }
    Events events;
    for (const auto& record : *records) {
        log(7, 10002, "Conditional user property has timed out. Name", nameForLog(record->name()));
        if (!database->deleteConditionalUserPropertyWithName(record->name(), &error)) {
            log(1, 10003, "Cannot delete timed out condition user property. Name, error",
                nameForLog(record->name()), errorForLog(error));
            return false;
        }
        if (record->timedOutEvent())
            appendIfMade(events,
                         internalEvent(record->origin(), *record->timedOutEvent(), Clock::current().now()));
    }
    if (timedOutEvents) *timedOutEvents = std::move(events);
    return true;
}

bool ZDMConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(Events* expiredEvents) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("removeExpiredCUPWithExpiredEvents:");
    const auto engine = this->engine();
    ZDMDatabase* database = engine ? engine->database() : nullptr;
    if (!database) return false;
    Error error;
    const auto records = database->expiredConditionalUserPropertiesWithError(&error);
    if (!records) {
        log(1, 10004, "Cannot fetch expired conditional user properties. Error", errorForLog(error));
        return false;
    }
    Events events;
    for (const auto& record : *records) {
        const auto& expired = record->expiredEvent();
        log(7, 10005, "Conditional user property has expired. Name, expired event",
            nameForLog(record->name()),
            expired ? Value(ZDMEventNameForLog(Value(expired->name()))) : Value());
        if (!database->deleteUserAttributeWithName(record->name(), &error)) {
            log(1, 10006,
                "Cannot remove conditional user property. Failed to delete the user property. Name, origin, "
                "error",
                nameForLog(record->name()), Value(record->origin()), errorForLog(error));
            return false;
        }
        if (!database->deleteConditionalUserPropertyWithName(record->name(), &error)) {
            log(1, 10007, "Cannot delete expired condition user property. Name, error",
                nameForLog(record->name()), errorForLog(error));
            return false;
        }
        if (expired) appendIfMade(events, internalEvent(record->origin(), *expired, Clock::current().now()));
    }
    if (expiredEvents) *expiredEvents = std::move(events);
    return true;
}

std::optional<ZDMConditionalUserPropertyController::Events>
ZDMConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    const std::string& eventName) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName(
        "updateConditionalUserPropertiesBasedOnEventNameOnWorkerQueue:");
    const auto engine = this->engine();
    ZDMDatabase* database = engine ? engine->database() : nullptr;
    if (!database) return std::nullopt;
    Error error;
    const auto records = database->triggeredConditionalUserPropertiesWithEventName(eventName, &error);
    if (!records) {
        log(1, 10008, "Cannot fetch triggering conditional user properties. Event name, error",
            Value(ZDMEventNameForLog(Value(eventName))), errorForLog(error));
        return std::nullopt;
    }
    Events events;
    for (const auto& record : *records) {
        const double now = Clock::current().now();
        Error userPropertyError;
        if (writeUserProperty(*database, *record, now, &userPropertyError))
            log(7, 10010, "User property updated. Name, origin, value", nameForLog(record->name()),
                Value(record->origin()), valueObject(record->value()));
        else
            log(1, 10009, "Cannot update user property from conditional user property. Name, origin, error",
                nameForLog(record->name()), Value(record->origin()), errorForLog(userPropertyError));
        if (record->triggeredEvent())
            appendIfMade(events, internalEvent(record->origin(), *record->triggeredEvent(), now));
        record->setActive(true);
        record->setTriggeredTimestamp(now);
        if (!database->updateConditionalUserProperty(record.get(), &error)) {
            log(1, 10011, "Cannot update conditional user property. Name, origin, error",
                nameForLog(record->name()), Value(record->origin()), errorForLog(error));
            return std::nullopt;
        }
    }
    return events;
}
