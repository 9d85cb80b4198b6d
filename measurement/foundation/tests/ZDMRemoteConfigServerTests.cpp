#include <gtest/gtest.h>

#include <thread>

#include "measurement/foundation/ZDMConsentQueries.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"
#include "testing/EnvironmentOverride.h"

namespace {

constexpr const char* kAppID = "1:123:ios:abc";

// A configuration message built field by field, as the server's bytes decode.
struct ConfigBuilder {
    std::shared_ptr<ZDMPBMeasurementConfig> config = ZDMPBMeasurementConfig::initWithBuffer(nullptr);

    explicit ConfigBuilder(std::optional<std::string> appID = kAppID) {
        ZDMPBSetString(config.get(), 1, appID);
    }
    ConfigBuilder& version(int64_t version) {
        ZDMPBSetInt64(config.get(), 0, version);
        return *this;
    }
    ConfigBuilder& adSdkAppID(const std::string& appID) {
        ZDMPBSetString(config.get(), 6, appID);
        return *this;
    }
    ConfigBuilder& subdomain(const std::string& subdomain) {
        ZDMPBSetString(config.get(), 10, subdomain);
        return *this;
    }
    ConfigBuilder& settings(const std::vector<std::pair<std::string, std::string>>& pairs) {
        Value::Array elements;
        for (const auto& [key, value] : pairs) {
            auto setting = ZDMPBSetting::initWithBuffer(nullptr);
            ZDMPBSetString(setting.get(), 0, key);
            ZDMPBSetString(setting.get(), 1, value);
            elements.push_back(Value(std::static_pointer_cast<const Object>(setting)));
        }
        ZDMPBSetArray(config.get(), 3, elements);
        return *this;
    }
    ConfigBuilder& eventConfig(const std::string& name, std::optional<bool> blocklisted,
                               std::optional<int32_t> samplingRate = std::nullopt) {
        auto eventConfig = ZDMPBEventConfig::initWithBuffer(nullptr);
        ZDMPBSetString(eventConfig.get(), 0, name);
        if (blocklisted) ZDMPBSetBool(eventConfig.get(), 1, *blocklisted);
        if (samplingRate) ZDMPBSetInt32(eventConfig.get(), 3, *samplingRate);
        Value::Array elements =
            ZDMPBGetArray(config.get(), 4, &ZDMPBEventConfig::messageClass()).value_or(Value::Array{});
        elements.push_back(Value(std::static_pointer_cast<const Object>(eventConfig)));
        ZDMPBSetArray(config.get(), 4, elements);
        return *this;
    }
    ConfigBuilder& dataControls(const std::vector<std::optional<std::string>>& names) {
        Value::Array elements;
        for (const auto& name : names) {
            auto control = ZDMPBDataControl::initWithBuffer(nullptr);
            ZDMPBSetString(control.get(), 0, name);
            elements.push_back(Value(std::static_pointer_cast<const Object>(control)));
        }
        ZDMPBSetArray(config.get(), 9, elements);
        return *this;
    }
};

class RemoteConfigServer : public Database {
  protected:
    ~RemoteConfigServer() override { ZDMInstallConsentQueries(nullptr, nullptr); }

    std::shared_ptr<ZDMRemoteConfig> makeConfig() {
        return offMain([this] { return std::make_shared<ZDMRemoteConfig>(kAppID, database_, nullptr); });
    }
    bool update(ZDMRemoteConfig& remoteConfig, const ConfigBuilder& builder) {
        return offMain([&] { return remoteConfig.updateMeasurementConfig(builder.config); });
    }

    std::shared_ptr<ZDMDatabase> database_ = open();
};

TEST_F(RemoteConfigServer, UpdatesOnlyTheAppsOwnConfiguration) {
    auto defaultConfig = ZDMRemoteConfig::defaultInstance();
    EXPECT_FALSE(update(*defaultConfig, ConfigBuilder()));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot update the default measurement configuration");

    auto remoteConfig = makeConfig();
    ASSERT_TRUE(update(*remoteConfig, ConfigBuilder().settings({{"measurement.upload.max_bundles", "7"}})));
    EXPECT_FALSE(update(*remoteConfig,
                        ConfigBuilder("1:999:ios:zzz").settings({{"measurement.upload.max_bundles", "9"}})));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set measurement config when Zizoda App ID does not match");
    EXPECT_EQ(remoteConfig->uploadMaxBundlesLimit(), 7);

    ZDMIdentifiers::sharedInstance()->setOrigin("am");
    EXPECT_FALSE(update(*remoteConfig, ConfigBuilder("1:999:ios:zzz").adSdkAppID(kAppID)));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set measurement config when Zizoda App ID does not match");
    EXPECT_FALSE(update(*remoteConfig, ConfigBuilder().adSdkAppID("ca-app-pub-1")));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set measurement config when AdSdk App ID does not match");
    EXPECT_TRUE(update(*remoteConfig, ConfigBuilder().adSdkAppID(kAppID)));
}

TEST_F(RemoteConfigServer, AStoredConfigurationIsLoadedByTheNextInstance) {
    ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
    makeConfig();
    EXPECT_EQ(messagesOf(29017).size(), 1u);

    auto remoteConfig = makeConfig();
    clock_->advance(10);
    ASSERT_TRUE(update(*remoteConfig,
                       ConfigBuilder().version(42).settings({{"measurement.upload.max_bundles", "7"}})));
    EXPECT_EQ(RawFile(path()).rows("SELECT remote_config_timestamp FROM app_metadata"),
              std::vector<std::string>{std::to_string(static_cast<int64_t>(clock_->now())) + ".0"});

    auto reloaded = makeConfig();
    EXPECT_EQ(reloaded->version(), 42);
    EXPECT_EQ(reloaded->uploadMaxBundlesLimit(), 7);
    EXPECT_EQ(messagesOf(29017).size(), 2u);  // the two made before anything was stored
}

TEST_F(RemoteConfigServer, ParseRebuildsTheSettingsFromTheMessage) {
    auto remoteConfig = makeConfig();
    remoteConfig->parseRemoteConfigFromMeasurementConfig(
        ConfigBuilder()
            .settings({{"measurement.upload.max_bundles", "7"}, {"measurement.upload.max_bundles", "8"}})
            .config.get());
    EXPECT_EQ(remoteConfig->uploadMaxBundlesLimit(), 8);

    ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
    const size_t linesBefore = loggedCodes().size();
    remoteConfig->parseRemoteConfigFromMeasurementConfig(
        ConfigBuilder("1:999:ios:zzz")
            .version(9)
            .settings({{"measurement.upload.max_bundles", "9"}})
            .config.get());
    EXPECT_EQ(loggedCodes().size(), linesBefore);  // not even a debug line
    EXPECT_EQ(remoteConfig->uploadMaxBundlesLimit(), 8);
    EXPECT_EQ(lastSampledMessage(), "");

    remoteConfig->parseRemoteConfigFromMeasurementConfig(ConfigBuilder().settings({}).config.get());
    EXPECT_EQ(remoteConfig->uploadMaxBundlesLimit(), 100);
}

TEST_F(RemoteConfigServer, PerEventSettingsAndDataControls) {
    auto remoteConfig = makeConfig();
    ConfigBuilder builder;
    builder.settings({{"measurement.upload.blacklist_public", "1"}})
        .eventConfig("first_open", true)
        .eventConfig("shown", false)
        .dataControls({"b", std::nullopt, "a"});
    for (int32_t rate : {0, 1, 2, 65535, 65536})
        builder.eventConfig("rate" + std::to_string(rate), std::nullopt, rate);
    remoteConfig->parseRemoteConfigFromMeasurementConfig(builder.config.get());

    EXPECT_TRUE(remoteConfig->eventConfigWithName("_f"));
    EXPECT_FALSE(remoteConfig->eventConfigWithName("first_open"));
    EXPECT_TRUE(remoteConfig->isEventBlocklisted("_f"));
    EXPECT_TRUE(remoteConfig->isEventBlocklisted("shown"));
    EXPECT_FALSE(remoteConfig->isEventBlocklisted("_internal"));
    struct Case {
        int32_t rate;
        int32_t answered;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {65535, 65535}, {65536, 1}};
    for (const Case& c : cases) {
        EXPECT_TRUE(remoteConfig->eventHasSamplingRate("rate" + std::to_string(c.rate)));
        EXPECT_EQ(remoteConfig->samplingRateForEvent("rate" + std::to_string(c.rate)), c.answered) << c.rate;
    }
    EXPECT_EQ(remoteConfig->samplingRateForEvent("unknown"), 1);
    EXPECT_EQ(remoteConfig->dataControls(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(remoteConfig->eventConfigWithName(""), nullptr);
    EXPECT_EQ(lastSampledMessage(), "W:Cannot find event config with empty event name");
}

TEST_F(RemoteConfigServer, TheDefaultInstanceAnswersItsFixedFacts) {
    auto defaultConfig = ZDMRemoteConfig::defaultInstance();
    EXPECT_FALSE(defaultConfig->isExpired());
    EXPECT_EQ(lastSampledMessage(),
              "E:Cannot fetch the last update timestamp from the default configuration");
    EXPECT_EQ(defaultConfig->lastRemoteConfigUpdateTimestamp(), 0);
    EXPECT_EQ(defaultConfig->version(), -1);
    EXPECT_EQ(defaultConfig->uploadURL(), "https://measurement.zizoda.example/a");
}

TEST_F(RemoteConfigServer, ExpiresAnHourFromTheFetchEitherWay) {
    auto remoteConfig = makeConfig();
    EXPECT_TRUE(remoteConfig->isExpired());
    struct Case {
        double age;
        bool expired;
    } cases[] = {{3599, false}, {3600, true}, {-3600, true}, {0, false}};
    for (const Case& c : cases) {
        ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(clock_->now() - c.age));
        EXPECT_EQ(remoteConfig->isExpired(), c.expired) << c.age;
    }
}

TEST_F(RemoteConfigServer, UploadAndConfigurationURLs) {
    auto remoteConfig = makeConfig();
    ASSERT_TRUE(update(*remoteConfig, ConfigBuilder().subdomain("eu")));
    EXPECT_EQ(remoteConfig->uploadURL(), "https://eu.measurement.zizoda.example/a");
    EXPECT_EQ(
        remoteConfig->remoteConfigURLWithAppInstanceID("ABC", "macos", 101300, 0),
        "https://measurement.zizoda.example/config/app/1:123:ios:abc?app_instance_id=ABC&platform=macos&"
        "runtime_version=0&zor_version=101300");
    EXPECT_EQ(remoteConfig->remoteConfigURLWithAppInstanceID("ABC", std::nullopt, 101300, 0), std::nullopt);
    EXPECT_EQ(lastSampledMessage(),
              "E:Cannot create a URL to fetch a configuration with empty app instance ID or "
              "empty platform (app instance, platform)");
    ZDMInstallConsentQueries(nullptr, [] { return true; });
    EXPECT_EQ(remoteConfig->remoteConfigURLWithAppInstanceID(std::nullopt, "macos", 101300, 0),
              "https://measurement.zizoda.example/config/app/1:123:ios:abc?app_instance_id=&platform=macos&"
              "runtime_version=0&zor_version=101300");

    EnvironmentOverride environment;
    environment.set("QUORVANE_MEASUREMENT_URL", "http://127.0.0.1:8123");
    EXPECT_EQ(remoteConfig->uploadURL(), "http://127.0.0.1:8123/a");
}

TEST_F(RemoteConfigServer, AnUpdateOnTheMainThreadIsReportedAndGoesOn) {
    auto remoteConfig = makeConfig();
    EXPECT_TRUE(remoteConfig->updateMeasurementConfig(ConfigBuilder().version(3).config));
    EXPECT_EQ(lastSampledMessage(), "E:Method updateMeasurementConfig: should execute on background thread");
    EXPECT_EQ(remoteConfig->version(), 3);
}

}  // namespace
