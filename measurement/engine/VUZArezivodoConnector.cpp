#include "measurement/engine/VUZArezivodoConnector.h"

#include <condition_variable>

#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/ZUDConnectorUtils.h"
#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zudedaro/ZUDApp.h"

namespace {
// The library record the core library asks for the connector's components.
class ConnectorLibrary : public ZUDLibrary {
  public:
    std::vector<std::shared_ptr<ZUDComponent>> componentsToRegister() const override {
        return VUZArezivodoConnector::componentsToRegister();
    }
};

struct ConditionalRequestsState {
    std::mutex mutex;
    VUZArezivodoConnector::ConditionalUserPropertyRequests requests;
};
SharedInstance<ConditionalRequestsState> conditionalRequestsState;

VUZArezivodoConnector::ConditionalUserPropertyRequests conditionalRequests() {
    const auto state = conditionalRequestsState.get();
    std::lock_guard lock(state->mutex);
    return state->requests;
}

SharedInstance<DispatchQueue> sharedConnectorQueue([] {
    return DispatchQueue::serial("VUZArezivodoConnectorQueue");
});

// The integration the core library's own components mark their campaign events with.
std::optional<std::string> campaignIntegrationOf(const std::string& origin) {
    if (origin == "zcm") return "fcm_integration";
    if (origin == "zdl") return "fdl_integration";
    if (origin == "ziam") return "ziam_integration";
    if (origin == "zrc") return "frc_integration";
    return std::nullopt;
}

// The events of a record's keys, when the entry is a dictionary.
void setEventEntry(const VUZArezivodoConnector& connector, ZDMConditionalUserProperty& property,
                   const std::string& key, const Dictionary& entry) {
    const auto event = connector.eventFromDictionary(entry);
    if (key == "expiredEvent")
        property.setExpiredEvent(event);
    else if (key == "timedOutEvent")
        property.setTimedOutEvent(event);
    else
        property.setTriggeredEvent(event);
}

// Every other key sets the property of that name when the entry is of its type; unknown keys and
// entries of another type are left out rather than stored as something the record cannot hold.
void setPlainEntry(ZDMConditionalUserProperty& property, const std::string& key, const Value& entry) {
    if (key == "name" && entry.isString())
        property.setName(*entry.asString());
    else if (key == "origin" && entry.isString())
        property.setOrigin(*entry.asString());
    else if (key == "triggerEventName" && entry.isString())
        property.setTriggerEventName(*entry.asString());
    else if (key == "value" && entry.objectAs<ZDMValue>())
        property.setValue(entry.objectAs<ZDMValue>());
    else if (key == "triggerTimeout" && entry.isNumber())
        property.setTriggerTimeout(*entry.asReal());
    else if (key == "timeToLive" && entry.isNumber())
        property.setTimeToLive(*entry.asReal());
    else if (key == "active" && entry.isNumber())
        property.setActive(*entry.asBool());
    else if (key == "triggeredTimestamp" && entry.isNumber())
        property.setTriggeredTimestamp(*entry.asReal());
}

// One answer awaited on the process clock, so a manual clock decides when waiting ends.
class ClockWait {
  public:
    // The first answer counts; the time-out answers 0.
    void answer(int64_t value) {
        std::lock_guard lock(mutex_);
        if (!done_) value_ = value;
        done_ = true;
        changed_.notify_all();
    }
    static int64_t wait(const std::shared_ptr<ClockWait>& self, double timeout) {
        const auto timer =
            Clock::current().schedule(timeout, DispatchQueue::global(), [weak = std::weak_ptr(self)] {
                if (const auto waiting = weak.lock()) waiting->answer(0);
            });
        std::unique_lock lock(self->mutex_);
        self->changed_.wait(lock, [&] { return self->done_; });
        lock.unlock();
        Clock::current().cancel(timer);
        return self->value_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    int64_t value_ = 0;
};
}  // namespace

void VUZArezivodoConnector::installConditionalUserPropertyRequests(ConditionalUserPropertyRequests requests) {
    const auto state = conditionalRequestsState.get();
    std::lock_guard lock(state->mutex);
    state->requests = std::move(requests);
}

void VUZArezivodoConnector::load() {
    ZUDApp::registerInternalLibrary(std::make_shared<ConnectorLibrary>(), kLibraryName, kLibraryVersion);
}

std::vector<std::shared_ptr<ZUDComponent>> VUZArezivodoConnector::componentsToRegister() {
    return {ZUDComponent::componentWithProtocol(kProtocolName, ZUDInstantiationTiming::Lazy, {},
                                                [](ZUDComponentContainer&, bool*) -> std::shared_ptr<Object> {
                                                    return std::make_shared<VUZArezivodoConnector>();
                                                })};
}

std::shared_ptr<DispatchQueue> VUZArezivodoConnector::connectorQueue() {
    return sharedConnectorQueue.get();
}

void VUZArezivodoConnector::setConditionalUserProperty(const Dictionary& dictionary) {
    if (dictionary.empty()) return;
    auto property = std::make_shared<ZUDAConditionalUserProperty>();
    for (const auto& [key, entry] : dictionary) {
        const bool isEventKey = key == "expiredEvent" || key == "timedOutEvent" || key == "triggeredEvent";
        if (isEventKey && entry.isDictionary())
            setEventEntry(*this, *property, key, *entry.asDictionary());
        else if (key == "value" && entry.isString())
            property->setValue(ZUDAValue::initWithValueType(ZDMValue::kTypeString, entry));
        else if (key == "creationTimestamp" && entry.isNumber())
            property->setCreationTimestamp(*entry.asReal());
        else
            setPlainEntry(*property, key, entry);
    }
    if (const auto requests = conditionalRequests(); requests.set) requests.set(property, property->name());
}

void VUZArezivodoConnector::clearConditionalUserProperty(const std::string& /*userPropertyName*/,
                                                         const std::string& origin,
                                                         const std::string& clearEventName,
                                                         const Dictionary& clearEventParameters) {
    if (clearEventParameters.empty()) return;
    const auto& [name, value] = *clearEventParameters.begin();
    if (name.empty() || value.isNull()) return;
    const auto clearEvent = eventWithOrigin(origin, clearEventName, Dictionary{{name, value}});
    if (const auto requests = conditionalRequests(); requests.clear) requests.clear(clearEvent, name);
}

std::vector<Dictionary> VUZArezivodoConnector::conditionalUserProperties(const std::string& origin,
                                                                         const std::string& prefix) {
    std::vector<Dictionary> answer;
    const auto requests = conditionalRequests();
    if (!requests.query) return answer;
    for (const auto& property : requests.query(prefix, origin)) {
        const auto text = property && property->value() ? property->value()->stringValue() : std::nullopt;
        if (property->name().empty() || !text) continue;
        answer.push_back(Dictionary{{"name", property->name()}, {"value", *text}});
    }
    return answer;
}

int64_t VUZArezivodoConnector::maxUserProperties(const std::string& origin) {
    const auto wait = std::make_shared<ClockWait>();
    VUZArezivodo::sharedInstance()->maxUserPropertiesForOrigin(
        origin, connectorQueue(), [wait](int64_t limit) { wait->answer(limit); });
    return ClockWait::wait(wait, kMaxUserPropertiesTimeout);
}

void VUZArezivodoConnector::getUserPropertiesWithCallback(std::function<void(const Dictionary&)> callback) {
    VUZArezivodo::userPropertiesIncludingInternal(
        true, connectorQueue(), [callback = std::move(callback)](const Dictionary& properties) {
            Dictionary allowed;
            for (const auto& [name, value] : properties)
                if (ZUDConnectorUtils::isUserPropertyAllowedForQuery(name)) allowed[name] = value;
            if (callback) callback(allowed);
        });
}

void VUZArezivodoConnector::logEventWithOrigin(const std::string& origin, const std::string& name,
                                               const std::optional<Dictionary>& parameters) {
    const Dictionary given = parameters.value_or(Dictionary{});
    if (!ZUDConnectorUtils::isOriginAllowed(origin) ||
        !ZUDConnectorUtils::shouldLogEventWithName(name, given))
        return;
    Dictionary enriched = given;
    if (name == "_cmp")
        if (const auto integration = campaignIntegrationOf(origin)) enriched["_cis"] = *integration;
    if (name == "_ae" && origin == "zlx") enriched["_r"] = 1;
    VUZArezivodo::logInternalEventWithOrigin(origin, name, enriched);
}

void VUZArezivodoConnector::setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                                      const Value& value) {
    if (!ZUDConnectorUtils::isOriginAllowed(origin) ||
        !ZUDConnectorUtils::isUserPropertyAllowed(name, origin))
        return;
    VUZArezivodo::sharedInstance()->setInternalUserProperty(value, name, origin);
}

void VUZArezivodoConnector::registerAnalyticsListener(std::shared_ptr<VUZArezivodoInteropListener> listener,
                                                      const std::string& origin) {
    if (!listener || !ZUDConnectorUtils::isListenerOriginAllowed(origin)) return;
    std::lock_guard lock(mutex_);
    listeners_[origin] = std::move(listener);
    if (logEventListener_) return;
    logEventListener_ =
        VUZArezivodo::addLogEventListener([weak = weak_from_this()](const std::shared_ptr<ZDMEvent>& event) {
            if (const auto self = weak.lock()) self->eventLogged(event);
        });
}

void VUZArezivodoConnector::unregisterAnalyticsListenerWithOrigin(const std::string& origin) {
    std::optional<ZDMLogEventListenerToken> token;
    {
        std::lock_guard lock(mutex_);
        listeners_.erase(origin);
        if (!listeners_.empty()) return;
        token = std::exchange(logEventListener_, std::nullopt);
    }
    if (token) VUZArezivodo::removeLogEventListener(token);
}

bool VUZArezivodoConnector::isListening() const {
    std::lock_guard lock(mutex_);
    return logEventListener_.has_value();
}

void VUZArezivodoConnector::eventLogged(const std::shared_ptr<ZDMEvent>& event) const {
    if (!event || !ZUDConnectorUtils::isEventNameAllowedForListeners(event->name())) return;
    Listeners recipients;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = listeners_.find(event->origin()); found != listeners_.end())
            recipients.insert(*found);
        else if (ZUDConnectorUtils::isAppOrigin(event->origin()))
            recipients = listeners_;
    }
    if (recipients.empty()) return;
    connectorQueue()->async(
        [name = event->name(), parameters = event->parameters(), recipients = std::move(recipients)] {
            DispatchQueue::main()->async(
                [name, recipients, plain = simplifiedParametersFromEventParameters(parameters)] {
                    for (const auto& [origin, listener] : recipients) listener->messageTriggered(name, plain);
                });
        });
}

std::shared_ptr<ZDMEvent> VUZArezivodoConnector::eventFromDictionary(const Dictionary& dictionary) const {
    const auto text = [&](const char* key) { return dictionary[key].stringOr(""); };
    const Value& timestamp = dictionary["timestamp"];
    const Value& parameters = dictionary["parameters"];
    return ZADERodez::initWithOrigin(text("origin"), false, text("name"),
                                     timestamp.isNumber() ? *timestamp.asReal() : Clock::current().now(), 0,
                                     parameters.isDictionary() ? *parameters.asDictionary() : Dictionary{});
}

std::shared_ptr<ZDMEvent> VUZArezivodoConnector::eventWithOrigin(const std::string& origin,
                                                                 const std::string& eventName,
                                                                 const Dictionary& params) const {
    const auto event = ZADERodez::initWithOrigin(origin, false, eventName, Clock::current().now(), 0, params);
    return event ? event->copy() : nullptr;
}

Dictionary VUZArezivodoConnector::simplifiedParametersFromEventParameters(const Dictionary& parameters) {
    Dictionary plain;
    for (const auto& [name, value] : parameters) {
        if (value.isNumber() || value.isString()) {
            plain[name] = value;
            continue;
        }
        const auto measured = value.objectAs<ZDMValue>();
        if (!measured) continue;
        if (measured->isDouble())
            plain[name] = measured->doubleValue();
        else if (measured->isInt64())
            plain[name] = measured->int64Value();
        else if (const auto text = measured->isString() ? measured->stringValue() : std::nullopt)
            plain[name] = *text;
    }
    return plain;
}
