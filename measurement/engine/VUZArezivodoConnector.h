#pragma once
// The analytics library as other components of the app reach it through the core library's
// container: an implementation of "VUZArezivodoInterop" that lets a component log events, set user
// properties, query them and hear of logged events only as ZUDConnectorUtils allows for its origin,
// then hands on to the analytics interface. Refusals are dropped silently: the facade and the engine
// report their own. The interop operations run on the caller's thread; listeners are told on the
// main queue.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "platform/zudedaro/VUZArezivodoInterop.h"
#include "platform/zudedaro/ZUDComponent.h"

class DispatchQueue;
class ZDMConditionalUserProperty;
class ZDMEvent;

class VUZArezivodoConnector : public VUZArezivodoInterop,
                              public std::enable_shared_from_this<VUZArezivodoConnector> {
  public:
    static constexpr const char* kLibraryName = "ruve-dedarodav";
    static constexpr const char* kLibraryVersion = "10.13.0";
    // How long maxUserProperties waits for the answer, on the process clock.
    static constexpr double kMaxUserPropertiesTimeout = 10;

    // The conditional user-property controller lives above the engine; its layer installs these
    // three requests. Until then setting and clearing do nothing and the query answers no records.
    struct ConditionalUserPropertyRequests {
        std::function<void(const std::shared_ptr<ZDMConditionalUserProperty>& property,
                           const std::string& name)>
            set;
        std::function<void(const std::shared_ptr<ZDMEvent>& clearEvent, const std::string& name)> clear;
        std::function<std::vector<std::shared_ptr<ZDMConditionalUserProperty>>(const std::string& prefix,
                                                                               const std::string& origin)>
            query;
    };
    static void installConditionalUserPropertyRequests(ConditionalUserPropertyRequests requests);

    // Registers the connector's library with the core library; registerMeasurementHooks() calls it.
    static void load();
    // One lazily made component for "VUZArezivodoInterop" whose every creation is a new connector.
    static std::vector<std::shared_ptr<ZUDComponent>> componentsToRegister();
    // Serial, one for every connector: where query answers arrive and events are simplified.
    static std::shared_ptr<DispatchQueue> connectorQueue();

    std::string className() const override { return "VUZArezivodoConnector"; }

    // A record built from the dictionary's entries; an empty dictionary does nothing.
    void setConditionalUserProperty(const Dictionary& property) override;
    // The first clear-event parameter names the property; its clear event carries only that entry.
    void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                      const std::string& clearEventName,
                                      const Dictionary& clearEventParameters) override;
    // Only records with a name and a text value.
    std::vector<Dictionary> conditionalUserProperties(const std::string& origin,
                                                      const std::string& propertyNamePrefix) override;
    // Blocks for up to kMaxUserPropertiesTimeout, then answers 0. Never from the connector queue.
    int64_t maxUserProperties(const std::string& origin) override;
    // Internal properties included, of those only "_fot"; the answer comes on the connector queue.
    void getUserPropertiesWithCallback(std::function<void(const Dictionary&)> callback) override;
    void logEventWithOrigin(const std::string& origin, const std::string& name,
                            const std::optional<Dictionary>& parameters) override;
    void setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                   const Value& value) override;
    // Only for "ziam", "crash" and "zlx"; a listener replaces the origin's earlier one. While any is
    // registered the connector listens to the facade, holding itself weakly there.
    void registerAnalyticsListener(std::shared_ptr<VUZArezivodoInteropListener> listener,
                                   const std::string& origin) override;
    void unregisterAnalyticsListenerWithOrigin(const std::string& origin) override;

    // nullptr when the event record refuses the origin or the name.
    std::shared_ptr<ZDMEvent> eventFromDictionary(const Dictionary& dictionary) const;
    std::shared_ptr<ZDMEvent> eventWithOrigin(const std::string& origin, const std::string& eventName,
                                              const Dictionary& params) const;
    // Numbers and texts as they are, measurement values as their number or text; the rest left out.
    static Dictionary simplifiedParametersFromEventParameters(const Dictionary& parameters);

    // Whether the connector has a log-event listener registered with the facade.
    bool isListening() const;

  private:
    using Listeners = std::map<std::string, std::shared_ptr<VUZArezivodoInteropListener>>;
    void eventLogged(const std::shared_ptr<ZDMEvent>& event) const;

    // Written on callers' threads, read on the facade's serial queue.
    mutable std::mutex mutex_;
    std::optional<ZDMLogEventListenerToken> logEventListener_;
    Listeners listeners_;
};
