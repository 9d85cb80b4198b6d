#include <gtest/gtest.h>

#include "measurement/engine/ZDMMeasurement.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

TEST(ZDMMeasurementTests, MonitorIsMadeOnceWithTheLibraryVersion) {
    TestHome home;
    resetAllForTesting();
    auto monitor = ZDMMeasurement::monitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor, ZDMMeasurement::monitor());
    EXPECT_EQ(monitor->libraryVersion(), 101300);
    EXPECT_EQ(monitor->logLevel(), 6);
    // Waits for the monitor's start-up work on its queue before the test's home goes away.
    EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(1e12, 0));
    resetAllForTesting();
}

TEST(ZDMMeasurementTests, RemoteConfigIsTheDefaultUntilTheEngineHasOne) {
    resetAllForTesting();
    const auto fallback = ZDMMeasurement::remoteConfig();
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(fallback->isDefaultInstance());
    EXPECT_EQ(fallback, ZDMRemoteConfig::defaultInstance());

    const auto engines = std::make_shared<ZDMRemoteConfig>("1:123456:ios:abcdef", nullptr, nullptr);
    ZDMMeasurement::setRemoteConfigForTesting(engines);
    EXPECT_EQ(ZDMMeasurement::remoteConfig(), engines);
    resetAllForTesting();
    EXPECT_EQ(ZDMMeasurement::remoteConfig(), ZDMRemoteConfig::defaultInstance());
    resetAllForTesting();
}

}  // namespace
