#pragma once
// The experiment manager as the remote configuration sees it. Registration, reset and the experiment
// IDs go to the real manager; the client handed back makes the configuration its SDK's observer,
// told of new snapshots (on the main queue: it names no queue of its own) and of fetch errors, and
// asked before each fetch, which it allows only while an enabled engine runs.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMRemoteConfigExperiments.h"

class ZDMEManager;

class ZDMERemoteConfigManager : public ZDMRemoteConfigExperimentManager {
  public:
    explicit ZDMERemoteConfigManager(std::shared_ptr<ZDMEManager> manager);

    // nullptr when the manager refuses the registration (it logs why).
    std::shared_ptr<ZDMRemoteConfigExperimentClient> registerSDKProperty(
        const std::string& name, int64_t version, const Dictionary& defaultFlags) override;
    void reset() override;
    std::vector<int64_t> experimentIDs() override;

  private:
    const std::shared_ptr<ZDMEManager> manager_;
};
