#include <gtest/gtest.h>

#include "measurement/foundation/tests/DatabaseFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"

namespace {

std::shared_ptr<ZDMPBMeasurementConfig> configWithAppID(std::optional<std::string> appID) {
    auto config = ZDMPBMeasurementConfig::initWithBuffer(nullptr);
    ZDMPBSetInt64(config.get(), 0, 7);
    ZDMPBSetString(config.get(), 1, appID);
    return config;
}

class StoredRemoteConfig : public Database {};

TEST_F(StoredRemoteConfig, StoresTheEncodingAndTheTimeAndReadsThemBack) {
    auto database = open();
    EXPECT_EQ(database->lastRemoteConfigUpdateTimestamp(), std::nullopt);
    Error error;
    EXPECT_EQ(database->queryMeasurementConfigWithError(&error), nullptr);
    EXPECT_EQ(error.code, 0);

    const auto config = configWithAppID("1:123:ios:abc");
    ASSERT_TRUE(database->updateRemoteConfig(config.get(), &error)) << error.description;
    EXPECT_EQ(database->lastRemoteConfigUpdateTimestamp(), clock_->now());
    const auto stored = database->queryMeasurementConfigWithError(&error);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->protoBuffer(), config->protoBuffer());

    ASSERT_TRUE(database->updateRemoteConfigSuccessfulTimestamp(1234.5));
    EXPECT_EQ(database->lastRemoteConfigUpdateTimestamp(), 1234.5);
}

TEST_F(StoredRemoteConfig, RefusesAConfigurationWithoutAppIDOrEncoding) {
    struct Case {
        std::shared_ptr<ZDMPBMeasurementConfig> config;
        const char* description;
    } cases[] = {{configWithAppID(std::nullopt), "Missing Zizoda app ID in measurement configuration"},
                 {configWithAppID(""), "Missing Zizoda app ID in measurement configuration"},
                 {ZDMPBMeasurementConfig::initWithBuffer(nullptr), "Invalid measurement config data"},
                 {nullptr, "Invalid measurement config data"}};
    auto database = open();
    for (const Case& c : cases) {
        Error error;
        EXPECT_FALSE(database->updateRemoteConfig(c.config.get(), &error));
        EXPECT_EQ(error.code, 1);
        EXPECT_EQ(error.description, c.description);
    }
    EXPECT_EQ(RawFile(path()).rows("SELECT remote_config_data, remote_config_timestamp FROM app_metadata"),
              std::vector<std::string>{"NULL|NULL"});
}

TEST_F(StoredRemoteConfig, DamagedBytesAreCorruptAndAnEmptyColumnIsNothing) {
    auto database = open();
    RawFile(path()).exec("UPDATE app_metadata SET remote_config_data = X'120561'");
    Error error;
    EXPECT_EQ(database->queryMeasurementConfigWithError(&error), nullptr);
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.description, "Remote config data is corrupted");

    RawFile(path()).exec("UPDATE app_metadata SET remote_config_data = X''");
    Error none;
    EXPECT_EQ(database->queryMeasurementConfigWithError(&none), nullptr);
    EXPECT_EQ(none.code, 0);
}

}  // namespace
