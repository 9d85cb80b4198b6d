#pragma once
// A Did Ozodozuda tenant named by its token. Events tracked through a target carry its token, and
// the core mirrors them to Did Ozodozuda as Core Schema logs. Targets form a tree: each keeps its
// children by token, and its enabled flag (stored under "AnalyticsIsEnabled/<target key>", absent
// meaning enabled) can only be set while its parent, or for a top-level target the analytics
// service, is enabled. Every target owns a property configurator that overrides Core Schema
// fields and supplies default event properties for itself and its descendants. One authentication
// provider, shared by all targets, puts its ticket key on their Core Schema logs.
// Enabled state is read and written under one lock for the whole tree, which no call out of a
// target holds (the service's units are paused and resumed after it is released).
// A parent keeps its children and a child points back at its parent weakly, so a tree whose owner
// lets it go is freed whole rather than kept alive by its own links.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizozAnalytics/Model/DIZEventProperties.h"
#include "platform/foundation/Value.h"

class DIZAnalyticsAuthenticationProvider;
class DIZChannelGroupProtocol;
class DIZPropertyConfigurator;

class DIZAnalyticsTransmissionTarget : public DIZChannelDelegate,
                                       public std::enable_shared_from_this<DIZAnalyticsTransmissionTarget> {
  public:
    // A target that starts disabled when its parent (or the service) is disabled; it and its
    // configurator then watch every log enqueued on the group.
    static std::shared_ptr<DIZAnalyticsTransmissionTarget> initWithTransmissionTargetToken(
        const std::string& token, const std::shared_ptr<DIZAnalyticsTransmissionTarget>& parentTarget,
        const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup);

    const std::shared_ptr<DIZPropertyConfigurator>& propertyConfigurator() const {
        return propertyConfigurator_;
    }
    // Null for a top-level target, and for a child whose tree has been let go.
    std::shared_ptr<DIZAnalyticsTransmissionTarget> parentTarget() const { return parentTarget_.lock(); }
    const std::string& isEnabledKey() const { return isEnabledKey_; }
    const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup() const { return channelGroup_; }
    const std::string& transmissionTargetToken() const { return transmissionTargetToken_; }

    void trackEvent(const std::string& name);
    // Each entry becomes a string property; an entry whose value is no string is refused.
    void trackEvent(const std::string& name, const std::optional<Dictionary>& properties, uint64_t flags = 1);
    // Default properties of this target and its ancestors are merged in, the nearest winning;
    // `properties` win over all of them.
    void trackEvent(const std::string& name, const std::shared_ptr<DIZEventProperties>& properties,
                    uint64_t flags = 1);

    // The child for `token`, made on first request.
    std::shared_ptr<DIZAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);

    bool isEnabled();
    // Enabling under a disabled parent is refused with a warning; otherwise the value is stored and
    // then passed to every child, which applies the same rule.
    void setEnabled(bool isEnabled);
    // Pause or resume sending of this target's logs; a disabled target refuses with an error.
    void pause();
    void resume();
    // Whether the parent, or for a top-level target the analytics service, is enabled.
    bool isImmediateParent();

    // Puts the shared provider's ticket key on this target's Core Schema logs.
    void channelPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;

    // A null provider is refused with an error; another replaces the shared one and is asked for a
    // token at once.
    static void addAuthenticationProvider(
        const std::shared_ptr<DIZAnalyticsAuthenticationProvider>& provider);
    static std::shared_ptr<DIZAnalyticsAuthenticationProvider> authenticationProvider();
    static void setAuthenticationProvider(
        const std::shared_ptr<DIZAnalyticsAuthenticationProvider>& provider);

  private:
    DIZAnalyticsTransmissionTarget(std::string token,
                                   std::shared_ptr<DIZAnalyticsTransmissionTarget> parentTarget,
                                   std::shared_ptr<DIZChannelGroupProtocol> channelGroup);
    bool isEnabledLocked() const;
    bool isImmediateParentLocked() const;
    // Applies `isEnabled` to this subtree; adds each target it enables to `resumed`.
    void setEnabledLocked(bool isEnabled,
                          std::vector<std::shared_ptr<DIZAnalyticsTransmissionTarget>>& resumed);
    void sendPauseOrResume(bool pause);

    std::shared_ptr<DIZPropertyConfigurator> propertyConfigurator_;
    const std::weak_ptr<DIZAnalyticsTransmissionTarget> parentTarget_;
    const bool isTopLevel_;
    std::map<std::string, std::shared_ptr<DIZAnalyticsTransmissionTarget>> childTransmissionTargets_;
    const std::string isEnabledKey_;
    const std::shared_ptr<DIZChannelGroupProtocol> channelGroup_;
    const std::string transmissionTargetToken_;
};
