// The engine's caller-side operations: each hands its work to the worker queue under its block ID.
#include <utility>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/DispatchQueue.h"

void ZDMMeasurement::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                        const std::optional<Dictionary>& parameters, double timestamp,
                                        bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                        EventInterceptor interceptor, const Dictionary& addedScreenParameters) {
    // The only block that keeps the engine alive: an event handed over is never lost to a teardown.
    auto self = shared_from_this();
    scheduler_->scheduleOnWorkerQueueBlockID(
        "ZDMMeasurement:2270", [self, origin, isPublicEvent, name, parameters, timestamp, enabled, ignoreEnabled,
                                ignoreInterceptor, interceptor = std::move(interceptor), addedScreenParameters] {
            self->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                                                  ignoreEnabled, ignoreInterceptor, interceptor,
                                                  addedScreenParameters);
        });
}

void ZDMMeasurement::logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                     const std::string& name,
                                                     const std::optional<Dictionary>& parameters,
                                                     double timestamp, bool /*enabled*/, bool /*ignoreEnabled*/,
                                                     bool /*ignoreInterceptor*/,
                                                     const EventInterceptor& /*interceptor*/,
                                                     const Dictionary& /*addedScreenParameters*/) {
    auto event = ZDMEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0, parameters.value_or(Dictionary{}));
    if (event) logEventOnWorkerQueue(event, true);
}

void ZDMMeasurement::logEvent(const std::shared_ptr<ZDMEvent>& event) {
    if (!event) return;
    scheduleOnWorkerQueue("ZDMMeasurement:2376", [event](ZDMMeasurement& self) { self.handleEventOnWorkerQueue(event); });
}

void ZDMMeasurement::setDefaultEventParameters(const std::optional<Dictionary>& parameters) {
    scheduleOnWorkerQueue("ZDMMeasurement:2385", [parameters](ZDMMeasurement& self) {
        self.handleSetDefaultEventParametersOnWorkerQueue(parameters);
    });
}

void ZDMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(const std::optional<Dictionary>& /*parameters*/) {}

void ZDMMeasurement::setUserAttribute(const std::shared_ptr<ZDMUserAttribute>& attribute) {
    if (!attribute) return;
    scheduleOnWorkerQueue("ZDMMeasurement:2612",
                          [attribute](ZDMMeasurement& self) { self.setUserAttributeOnWorkerQueue(attribute); });
}

void ZDMMeasurement::removeUserAttribute(const std::shared_ptr<ZDMUserAttribute>& attribute) {
    if (!attribute) return;
    scheduleOnWorkerQueue("ZDMMeasurement:2567",
                          [attribute](ZDMMeasurement& self) { self.removeUserAttributeOnWorkerQueue(attribute); });
}

void ZDMMeasurement::userAttributeWithName(const std::string& /*name*/,
                                           std::function<void(std::shared_ptr<ZDMUserAttribute>)> callback) {
    if (!callback) return;
    DispatchQueue::global()->async([callback = std::move(callback)] { callback(nullptr); });
}

void ZDMMeasurement::userPropertiesIncludingInternal(bool /*includeInternal*/,
                                                     std::function<void(const Dictionary&)> callback) {
    if (!callback) return;
    DispatchQueue::global()->async([callback = std::move(callback)] { callback(Dictionary{}); });
}

void ZDMMeasurement::maxUserPropertiesForOrigin(const std::string& origin, std::function<void(int64_t)> callback) {
    if (origin.empty() || !callback) return;
    DispatchQueue::global()->async([callback = std::move(callback)] { callback(25); });
}

void ZDMMeasurement::logEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event, bool /*notifyEventListeners*/) {
    handleEventOnWorkerQueue(event->copy());
}

Dictionary ZDMMeasurement::parametersWithAddedDefaultEventParameters(const Dictionary& parameters) {
    return parameters;
}
