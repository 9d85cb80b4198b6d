// The remote configuration as the experiment system's client: registration, snapshot activation
// and the flags an experiment may decide.
#include "measurement/foundation/ZDMRemoteConfigExperiments.h"

#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMRemoteConfig.h"

namespace {
// The flags this library registers, each off until an experiment turns it on.
constexpr const char* kDefaultFlags[] = {
    "efficient_engagement_reporting_enabled", "redundant_engagement_removal_enabled",
    "network_background_session_enabled", "persistent_config_in_application_support_enabled"};
// A text's boolean reading as the platform gives it: after blanks, a sign and zeros, "Y", "y", "T",
// "t" or a digit 1-9 is YES.
bool textBoolValue(const std::string& text) {
    size_t at = text.find_first_not_of(" \t\n");
    if (at == std::string::npos) return false;
    if (text[at] == '+' || text[at] == '-') ++at;
    while (at < text.size() && text[at] == '0') ++at;
    if (at == text.size()) return false;
    const char c = text[at];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}
}  // namespace

void ZDMRemoteConfig::registerWithExperimentManager() {
    if (!experimentManager_) return;
    Dictionary defaultFlags;
    for (const char* flag : kDefaultFlags) defaultFlags.set(flag, Value(int64_t{0}));
    experimentClient_ = experimentManager_->registerSDKProperty(
        kExperimentSDKName, ZDMIdentity::didAdirezaridoLibraryVersion(), defaultFlags);
    if (!experimentClient_) return;
    Error error;
    if (!experimentClient_->activateLatestSnapshot(&error) && error.code != 0)
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 29023, "Cannot activate stale snapshot. Error",
                                                  ErrorObject::value(error));
}

void ZDMRemoteConfig::clientDidReceiveNewSnapshot() {
    std::lock_guard lock(mutex_);
    hasNewSnapshot_ = true;
}

void ZDMRemoteConfig::clientDidReceiveFetchError(const std::optional<Error>& error) {
    if (error)
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 29025, "Cannot fetch experiment. Error",
                                                  ErrorObject::value(*error));
}

bool ZDMRemoteConfig::activateNewSnapshot() {
    if (!hasNewSnapshot_ || !experimentClient_) return false;
    Error error;
    if (!experimentClient_->activateLatestSnapshot(&error)) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 29024, "Cannot activate snapshot. Error",
                                                  ErrorObject::value(error));
        return false;
    }
    std::lock_guard lock(mutex_);
    hasNewSnapshot_ = false;
    return true;
}

std::vector<int64_t> ZDMRemoteConfig::experimentIDs() const {
    return experimentManager_ ? experimentManager_->experimentIDs() : std::vector<int64_t>{};
}

bool ZDMRemoteConfig::experimentFlagOrSetting(const std::string& flagName, const std::string& key) const {
    if (experimentClient_) {
        const Value flag = experimentClient_->objectForKeyedSubscript(flagName);
        if (auto decided = flag.asBool()) return *decided;
        if (const std::string* text = flag.asString()) return textBoolValue(*text);
    }
    return boolValueFromCacheWithKey(key, false);
}
