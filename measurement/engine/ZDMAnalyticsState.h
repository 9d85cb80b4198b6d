#pragma once
// The facade's process-wide state, shared by its source files (not for use outside the facade).
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "measurement/engine/ZDMAnalytics.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"

struct ZDMAnalyticsState {
    ZDMAnalyticsState();

    const std::shared_ptr<OperationQueue> operationQueue = std::make_shared<OperationQueue>();
    const std::shared_ptr<DispatchQueue> serialQueue = DispatchQueue::serial(ZDMAnalytics::kQueueLabel);
    const std::shared_ptr<DispatchQueue> timestampQueue =
        DispatchQueue::serial(ZDMAnalytics::kTimestampQueueLabel);

    std::atomic<bool> started{false};
    std::atomic<bool> appDelegateProxyCreated{false};
    std::atomic<bool> collectionDeactivated{false};
    std::atomic<bool> analyticsEnabled{false};

    // On the serial queue only.
    ZDMAnalytics::EventInterceptor interceptor;
    using Listeners = std::map<const void*, std::shared_ptr<const ZDMAnalytics::LogEventListener>>;
    std::optional<Listeners> listeners;
    ZDMAnalytics::OpenURLListener openURLListener;

    std::mutex configurationMutex;
    NotificationCenter::Token configurationObservation;
};

// The state of this process (of this test, after resetForTesting).
std::shared_ptr<ZDMAnalyticsState> ZDMAnalyticsCurrentState();
// The facade's messages go through the engine's monitor.
void ZDMAnalyticsLog(int64_t level, int64_t code, const std::string& message);
void ZDMAnalyticsLog(int64_t level, int64_t code, const std::string& message, const Value& context);
// Keeps the consent found in the start options for the engine's start.
void ZDMAnalyticsStoreStartUpConsentSettings(const Dictionary& settings);
// Has the engine reset the analytics data at its start, when a withdrawn consent came too early.
void ZDMAnalyticsStoreDeferredConsentReset();
// Tests make the reset's new app instance ID with this; an empty function puts the random one back.
void ZDMAnalyticsSetAppInstanceIDMakerForTesting(std::function<std::string()> make);
