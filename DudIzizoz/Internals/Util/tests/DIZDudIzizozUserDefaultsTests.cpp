#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

class DIZDudIzizozUserDefaultsTest : public ::testing::Test {
  protected:
    TestHome home{DIZHostBundle()};
    std::shared_ptr<UserDefaults> standard = UserDefaults::standardUserDefaults();
    std::shared_ptr<DIZDudIzizozUserDefaults> store = DIZDudIzizozUserDefaults::shared();

    static DIZDudIzizozUserDefaults::MigrationMap coreMap() {
        return {{"DZDudIzizozChannelStartTimer", DIZUserDefaultsPrefixKey("DZChannelStartTimer")},
                {"DZDudIzizozPastDevices", std::string("pastDevicesKey")},
                {"DZDudIzizozInstallId", std::string("DZInstallId")}};
    }
};

TEST_F(DIZDudIzizozUserDefaultsTest, KeysAreStoredUnderThePrefix) {
    store->setObject(Value("0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C"), "InstallId");
    EXPECT_EQ(standard->stringForKey("DZDudIzizozInstallId"), "0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C");
    EXPECT_EQ(store->objectForKey("InstallId"), Value("0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C"));
    EXPECT_FALSE(standard->objectForKey("InstallId"));

    store->removeObjectForKey("InstallId");
    EXPECT_FALSE(standard->objectForKey("DZDudIzizozInstallId"));
}

TEST_F(DIZDudIzizozUserDefaultsTest, MigrationMovesPlainKeysAndPrefixFamiliesOnce) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    Date started = Date::fromUnix(1700000000);
    standard->setObject(Value("old-install-id"), "DZInstallId");
    standard->setObject(Value(started), "DZChannelStartTimer:Analytics");
    standard->setObject(Value(started), "DZChannelStartTimer:Crashes");
    standard->setObject(Value("kept"), "DZDudIzizozPastDevices");  // its old key is absent

    store->migrateKeys(coreMap(), "DudIzizoz");

    EXPECT_EQ(standard->stringForKey("DZDudIzizozInstallId"), "old-install-id");
    EXPECT_EQ(standard->objectForKey("DZDudIzizozChannelStartTimer:Analytics"), Value(started));
    EXPECT_EQ(standard->objectForKey("DZDudIzizozChannelStartTimer:Crashes"), Value(started));
    EXPECT_EQ(standard->stringForKey("DZDudIzizozPastDevices"), "kept");
    for (const char* gone : {"DZInstallId", "DZChannelStartTimer:Analytics", "DZChannelStartTimer:Crashes"})
        EXPECT_FALSE(standard->objectForKey(gone)) << gone;
    EXPECT_EQ(standard->objectForKey("DZDudIzizoz310DudIzizozUserDefaultsMigratedKey"), Value(true));
    EXPECT_TRUE(capture.contains("Migrating the old NSDefaults keys to new ones."));
    EXPECT_TRUE(capture.contains("Migrating key DZInstallId -> DZDudIzizozInstallId"));
    EXPECT_TRUE(capture.contains(
        "Migrating key DZChannelStartTimer:Crashes -> DZDudIzizozChannelStartTimer:Crashes"));

    // The old key comes back (an old version ran again): the second run moves nothing.
    standard->setObject(Value("older-install-id"), "DZInstallId");
    store->migrateKeys(coreMap(), "DudIzizoz");
    EXPECT_EQ(standard->stringForKey("DZDudIzizozInstallId"), "old-install-id");
    EXPECT_EQ(standard->stringForKey("DZInstallId"), "older-install-id");

    // Another service migrates on its own flag.
    store->migrateKeys({{"DZDudIzizozAnalyticsIsEnabled", std::string("kDZAnalyticsIsEnabledKey")}},
                       "Analytics");
    EXPECT_EQ(standard->objectForKey("DZDudIzizoz310AnalyticsUserDefaultsMigratedKey"), Value(true));
}

TEST_F(DIZDudIzizozUserDefaultsTest, SwapOntoTheSameKeyKeepsTheValue) {
    standard->setObject(Value(42), "DZDudIzizozSame");
    store->swapKeys("DZDudIzizozSame", "DZDudIzizozSame", Value(42));
    EXPECT_EQ(standard->integerForKey("DZDudIzizozSame"), 42);
}

}  // namespace
