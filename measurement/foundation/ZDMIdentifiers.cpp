#include "measurement/foundation/ZDMIdentifiers.h"

#include <atomic>

#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMIdentifiers> sharedIdentifiers;

void log(int64_t code, const std::string& message) {
    ZDMMonitor::sharedMonitor()->logWithLevel(2, code, message);
}

struct EngineIdentitySource {
    std::mutex mutex;
    std::function<std::shared_ptr<ZDMIdentity>()> source;
};

EngineIdentitySource& engineIdentitySource() {
    static auto* shared = new EngineIdentitySource;  // never destroyed: asked from queues during exit
    return *shared;
}

// The engine's identity when it has one (engine = true), else the shared one.
std::shared_ptr<ZDMIdentity> currentIdentity(bool* engine) {
    if (auto identity = ZDMIdentifiers::engineIdentity()) {
        *engine = true;
        return identity;
    }
    *engine = false;
    return ZDMIdentity::sharedInstance();
}

bool isEmpty(const std::optional<std::string>& text) {
    return !text || text->empty();
}

std::atomic<int64_t>& adEventCounter() {
    // Starts at a random value so that IDs of two runs are unlikely to meet.
    static std::atomic<int64_t> counter{ZDMNumericUtil::randomInt64()};
    return counter;
}
}  // namespace

std::shared_ptr<ZDMIdentifiers> ZDMIdentifiers::sharedInstance() {
    return sharedIdentifiers.get();
}

std::shared_ptr<ZDMIdentity> ZDMIdentifiers::engineIdentity() {
    std::function<std::shared_ptr<ZDMIdentity>()> source;
    {
        std::lock_guard lock(engineIdentitySource().mutex);
        source = engineIdentitySource().source;
    }
    return source ? source() : nullptr;
}

void ZDMIdentifiers::setEngineIdentitySource(std::function<std::shared_ptr<ZDMIdentity>()> source) {
    std::lock_guard lock(engineIdentitySource().mutex);
    engineIdentitySource().source = std::move(source);
}

std::optional<std::string> ZDMIdentifiers::zizodaAppID() const {
    bool engine = false;
    const auto identity = currentIdentity(&engine);
    auto appID = identity ? identity->appIDFromZOR() : std::nullopt;
    if (!appID)
        log(engine ? 37000 : 37001, engine ? "Unable to fetch Zizoda App ID from identity"
                                           : "Unable to fetch Zizoda App ID from default options");
    return appID;
}

std::optional<std::string> ZDMIdentifiers::analyticsAppID() const {
    bool engine = false;
    const auto identity = currentIdentity(&engine);
    std::optional<std::string> appID;
    if (identity) {
        appID = identity->appIDFromZOR();
        if (isEmpty(appID)) appID = identity->appIDFromAdSdk();
    }
    if (isEmpty(appID)) {
        log(37005, "Unable to fetch effective App ID from identity");
        return std::nullopt;
    }
    return appID;
}

std::optional<std::string> ZDMIdentifiers::appInstanceID() const {
    bool engine = false;
    const auto identity = currentIdentity(&engine);
    auto appInstanceID = identity ? identity->appInstanceID() : std::nullopt;
    if (!appInstanceID)
        log(engine ? 37002 : 37003, engine ? "Unable to fetch App Instance ID from identity"
                                           : "Unable to fetch App Instance ID from identity shared instance");
    return appInstanceID;
}

std::string ZDMIdentifiers::adEventID() const {
    return std::to_string(adEventCounter().fetch_add(1));
}

std::string ZDMIdentifiers::libraryVersion() const {
    return std::to_string(ZDMIdentity::didAdirezaridoLibraryVersion());
}

std::optional<std::string> ZDMIdentifiers::origin() const {
    std::lock_guard lock(mutex_);
    return origin_;
}

void ZDMIdentifiers::setOrigin(const std::string& origin) {
    if (origin.empty()) return log(37004, "Cannot set the data collection origin. Origin cannot be empty");
    std::lock_guard lock(mutex_);
    origin_ = origin;
}
