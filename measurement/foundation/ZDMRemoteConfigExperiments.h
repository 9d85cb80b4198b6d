#pragma once
// What the remote configuration asks of the experiment system, which lives in a layer above this
// one: that layer implements these two over its manager and client (ZDMERemoteConfigManager) and
// hands the manager in when the engine makes the configuration. The configuration is the client's observer:
// the experiment layer tells it of new snapshots and fetch errors through its public operations.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class ZDMRemoteConfig;

class ZDMRemoteConfigExperimentClient {
  public:
    virtual ~ZDMRemoteConfigExperimentClient() = default;
    // Held weakly; told of snapshots and fetch errors of the client's SDK.
    virtual void setDelegate(std::weak_ptr<ZDMRemoteConfig> delegate) = 0;
    // Activates the pending snapshot; false with an error when that fails.
    virtual bool activateLatestSnapshot(Error* error) = 0;
    // The flag from the activated snapshot, the launched one or the registered defaults; null when
    // none has it.
    virtual Value objectForKeyedSubscript(const std::string& flagName) const = 0;
};

class ZDMRemoteConfigExperimentManager {
  public:
    virtual ~ZDMRemoteConfigExperimentManager() = default;
    // Registers the SDK `name` of `version` with its default flags (flag name to number or text).
    virtual std::shared_ptr<ZDMRemoteConfigExperimentClient> registerSDKProperty(
        const std::string& name, int64_t version, const Dictionary& defaultFlags) = 0;
    virtual void reset() = 0;
    virtual std::vector<int64_t> experimentIDs() = 0;
};
