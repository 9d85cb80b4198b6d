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
    resetAllForTesting();
}

}  // namespace
