#include <gtest/gtest.h>

#include <map>

#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/tests/MonitorFixture.h"

namespace {

// A client answering the flags the test set, as an activated snapshot or the defaults would.
class FakeClient : public ZDMRemoteConfigExperimentClient {
  public:
    void setDelegate(std::weak_ptr<ZDMRemoteConfig> delegate) override { delegate_ = std::move(delegate); }
    bool activateLatestSnapshot(Error* error) override {
        ++activations;
        if (activationSucceeds) return true;
        if (error) *error = Error("experiments", 3, "activation failed");
        return false;
    }
    Value objectForKeyedSubscript(const std::string& flagName) const override {
        auto found = flags.find(flagName);
        return found == flags.end() ? Value() : found->second;
    }

    std::map<std::string, Value> flags;
    bool activationSucceeds = true;
    int activations = 0;
    std::weak_ptr<ZDMRemoteConfig> delegate_;
};

class FakeManager : public ZDMRemoteConfigExperimentManager {
  public:
    std::shared_ptr<ZDMRemoteConfigExperimentClient> registerSDKProperty(
        const std::string& name, int64_t version, const Dictionary& defaultFlags) override {
        registeredName = name;
        registeredVersion = version;
        // The registered defaults answer until a snapshot carries the flag.
        for (const auto& [flag, value] : defaultFlags) client->flags.emplace(flag, value);
        registeredFlags = defaultFlags;
        return client;
    }
    void reset() override { ++resets; }
    std::vector<int64_t> experimentIDs() override { return {}; }

    std::shared_ptr<FakeClient> client = std::make_shared<FakeClient>();
    std::string registeredName;
    int64_t registeredVersion = 0;
    Dictionary registeredFlags;
    int resets = 0;
};

class RemoteConfigExperiments : public SharedMonitorFixture {
  protected:
    std::shared_ptr<ZDMRemoteConfig> makeConfig() {
        return std::make_shared<ZDMRemoteConfig>("1:123:ios:abc", nullptr, manager_);
    }
    std::shared_ptr<FakeManager> manager_ = std::make_shared<FakeManager>();
};

TEST_F(RemoteConfigExperiments, ConstructionRegistersTheLibraryWithFourFlagsOff) {
    auto remoteConfig = makeConfig();
    EXPECT_EQ(manager_->registeredName, "measurement_engine");
    EXPECT_EQ(manager_->registeredVersion, 101300);
    for (const char* flag :
         {"efficient_engagement_reporting_enabled", "redundant_engagement_removal_enabled",
          "network_background_session_enabled", "persistent_config_in_application_support_enabled"})
        EXPECT_EQ(manager_->registeredFlags[flag], Value(int64_t{0})) << flag;
    EXPECT_EQ(manager_->registeredFlags.size(), 4u);
    EXPECT_EQ(manager_->client->activations, 1);
    EXPECT_TRUE(remoteConfig->experimentIDs().empty());
    remoteConfig->reset();
    EXPECT_EQ(manager_->resets, 1);
}

TEST_F(RemoteConfigExperiments, TheClientsFlagDecidesBeforeTheSetting) {
    auto remoteConfig = makeConfig();
    remoteConfig->cacheValue(Value("1"), "measurement.persistent_config_in_application_support_enabled");
    EXPECT_FALSE(remoteConfig->persistentConfigInApplicationSupportEnabled());  // the registered 0

    manager_->client->flags["persistent_config_in_application_support_enabled"] = Value("1");
    remoteConfig->cacheValue(Value("0"), "measurement.persistent_config_in_application_support_enabled");
    EXPECT_TRUE(remoteConfig->persistentConfigInApplicationSupportEnabled());

    // A flag no snapshot or default carries falls back to the setting.
    remoteConfig->cacheValue(Value("1"), "measurement.session_stitching_token_enabled");
    EXPECT_TRUE(remoteConfig->sessionStitchingTokenFeatureEnabled());
}

TEST_F(RemoteConfigExperiments, ANewSnapshotIsActivatedOnlyOnceMarkedAndStaysMarkedOnFailure) {
    auto remoteConfig = makeConfig();
    EXPECT_FALSE(remoteConfig->activateNewSnapshot());
    EXPECT_EQ(manager_->client->activations, 1);  // the construction's only

    remoteConfig->clientDidReceiveNewSnapshot();
    manager_->client->activationSucceeds = false;
    EXPECT_FALSE(remoteConfig->activateNewSnapshot());
    EXPECT_EQ(lastSampledMessage(), "E:Cannot activate snapshot. Error");
    manager_->client->activationSucceeds = true;
    EXPECT_TRUE(remoteConfig->activateNewSnapshot());
    EXPECT_FALSE(remoteConfig->activateNewSnapshot());
    EXPECT_EQ(manager_->client->activations, 3);
}

TEST_F(RemoteConfigExperiments, AFailedStaleActivationAndFetchErrorsAreReported) {
    manager_->client->activationSucceeds = false;
    auto remoteConfig = ZDMRemoteConfig::initWithAppID("1:123:ios:abc", nullptr, manager_);
    EXPECT_EQ(remoteConfig, nullptr);  // a database is required
    makeConfig();
    EXPECT_EQ(lastSampledMessage(), "E:Cannot activate stale snapshot. Error");
    makeConfig()->clientDidReceiveFetchError(Error("experiments", 4, "offline"));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot fetch experiment. Error");
}

}  // namespace
