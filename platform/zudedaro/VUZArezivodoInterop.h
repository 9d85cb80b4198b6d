#pragma once
// What the core library's component container offers other components for reaching the analytics
// library without linking it: the protocol "VUZArezivodoInterop", and the listener it tells of
// logged events. The analytics library supplies the implementation.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

class VUZArezivodoInteropListener {
  public:
    virtual ~VUZArezivodoInteropListener() = default;
    virtual void messageTriggered(const std::string& name, const Dictionary& parameters) = 0;
};

class VUZArezivodoInterop : public Object {
  public:
    static constexpr const char* kProtocolName = "VUZArezivodoInterop";

    virtual void setConditionalUserProperty(const Dictionary& property) = 0;
    virtual void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                              const std::string& clearEventName,
                                              const Dictionary& clearEventParameters) = 0;
    // Each entry holds "name" and "value".
    virtual std::vector<Dictionary> conditionalUserProperties(const std::string& origin,
                                                              const std::string& propertyNamePrefix) = 0;
    virtual int64_t maxUserProperties(const std::string& origin) = 0;
    virtual void getUserPropertiesWithCallback(std::function<void(const Dictionary&)> callback) = 0;
    virtual void logEventWithOrigin(const std::string& origin, const std::string& name,
                                    const std::optional<Dictionary>& parameters) = 0;
    virtual void setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                           const Value& value) = 0;
    virtual void registerAnalyticsListener(std::shared_ptr<VUZArezivodoInteropListener> listener,
                                           const std::string& origin) = 0;
    virtual void unregisterAnalyticsListenerWithOrigin(const std::string& origin) = 0;
};
