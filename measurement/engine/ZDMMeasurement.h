#pragma once
// The measurement engine. For now only the way every measurement class reaches the monitor and the
// remote configuration, and the questions whether an engine exists and what its identity is.
#include <atomic>
#include <memory>

#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMRemoteConfig.h"

class ZDMIdentity;

class ZDMMeasurement {
  public:
    // No engine is made yet in this build: false and nullptr.
    static bool hasSharedInstance();
    static std::shared_ptr<ZDMMeasurement> sharedInstance();
    // Nullptr before start.
    std::shared_ptr<ZDMIdentity> identity() const { return identity_; }
    // Whether collection is on; off until start-up turns it on.
    bool isEnabled() const { return enabled_; }

    // The process-wide monitor, made once on first use with the library's version number.
    static std::shared_ptr<ZDMMonitor> monitor();
    // The engine's configuration when it has one, else the default instance (never nullptr).
    static std::shared_ptr<ZDMRemoteConfig> remoteConfig();
    // Installs the configuration remoteConfig() answers until reset (nullptr removes it); the
    // engine's start-up will own it, tests stand in for that.
    static void setRemoteConfigForTesting(std::shared_ptr<ZDMRemoteConfig> remoteConfig);

  private:
    std::shared_ptr<ZDMIdentity> identity_;
    std::atomic<bool> enabled_{false};
};
