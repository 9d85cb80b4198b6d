#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/audiences/experiments/ZDMPBFlagWithNameAndValue.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

namespace {

// The console lines of the engine's monitor, which the experiment manager's monitor reports to.
class FlagBuilding : public ::testing::Test {
  protected:
    FlagBuilding() { resetAllForTesting(); }
    ~FlagBuilding() override { resetAllForTesting(); }

    std::vector<std::string> printed() {
        // Waits for the reports queued so far on the monitor's queue.
        EXPECT_FALSE(ZDMMeasurement::monitor()->monitoringDataForDispatchWithSamplePeriod(1e12, 0));
        std::lock_guard lock(mutex_);
        return lines_;
    }

    TestHome home_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    ZIZLoggerCapture capture_{[this](int, const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }};
};

TEST_F(FlagBuilding, ValueGoesToTheFieldOfItsKind) {
    struct Case {
        Value value;
        int32_t index;
        Value read;
    };
    const Case cases[] = {
        {Value(1.5), 3, Value(1.5)}, {Value(7), 1, Value(7)},     {Value("on"), 2, Value("on")},
        {Value(true), 1, Value(1)},  {Value(2.0), 3, Value(2.0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        auto flag = ZDMPBFlagWithNameAndValue(Value("feature"), c.value);
        ASSERT_TRUE(flag);
        EXPECT_EQ(ZDMPBGetString(flag.get(), 0), "feature");
        for (int32_t index = 1; index <= 4; ++index)
            EXPECT_EQ(ZDMPBHasField(flag.get(), index), index == c.index);
        const Value read = ZDMPBFlagValue(flag.get());
        EXPECT_EQ(read, c.read);
        EXPECT_EQ(read.type(), c.read.type());
    }
    EXPECT_TRUE(printed().empty());
}

TEST_F(FlagBuilding, RefusalsAreLoggedOnTheExperimentMonitorAndGiveNoFlag) {
    EXPECT_EQ(ZDMPBFlagWithNameAndValue(Value(), Value(1)), nullptr);
    EXPECT_EQ(ZDMPBFlagWithNameAndValue(Value(3), Value(1)), nullptr);
    EXPECT_EQ(ZDMPBFlagWithNameAndValue(Value("feature"), Value(Data{1, 2})), nullptr);
    EXPECT_EQ(printed(), (std::vector<std::string>{
                             "<DidAdirezarido>[I-ACS850000] Flag name must not be nil",
                             "<DidAdirezarido>[I-ACS850001] Flag name must be a string: NSNumber",
                             "<DidAdirezarido>[I-ACS850002] Flag value is invalid: NSData",
                         }));
}

TEST_F(FlagBuilding, ExperimentMonitorIsMadeOnceAroundTheEngineMonitor) {
    auto monitor = ZDMEManager::monitor();
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor, ZDMEManager::monitor());
    monitor->logWithLevel(1, 820015, "Cannot create experiment snapshots from nil response");
    EXPECT_EQ(printed(), (std::vector<std::string>{"<DidAdirezarido>[I-ACS820015] Cannot create experiment "
                                                   "snapshots from nil response"}));
}

}  // namespace
