#pragma once
// The identifiers other components ask for, taken from the engine's identity when an engine runs,
// else from the shared identity; and the data-collection origin.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class ZDMIdentity;

class ZDMIdentifiers {
  public:
    static std::shared_ptr<ZDMIdentifiers> sharedInstance();
    // The engine above this layer installs how to reach its identity (nullptr while it has none).
    static void setEngineIdentitySource(std::function<std::shared_ptr<ZDMIdentity>()> source);
    // The engine's identity; nullptr while no engine runs.
    static std::shared_ptr<ZDMIdentity> engineIdentity();
    virtual ~ZDMIdentifiers() = default;

    // Missing ones are logged (37000, 37001, 37005, 37002, 37003).
    std::optional<std::string> zizodaAppID() const;
    // The measurement app ID, else the ad-network one; the empty one counts as missing.
    std::optional<std::string> analyticsAppID() const;
    std::optional<std::string> appInstanceID() const;
    // Unique in the process: a counter from a random start, advanced atomically.
    std::string adEventID() const;
    std::string libraryVersion() const;
    std::optional<std::string> origin() const;
    // An empty origin is logged (37004) and the old one kept.
    void setOrigin(const std::string& origin);

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> origin_;
};

// The analytics library's name for the same facade.
class ZUDAIdentifiers : public ZDMIdentifiers {};
