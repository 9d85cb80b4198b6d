#include "measurement/audiences/conditional/ZDMConditionalPropertiesForEngine.h"
#include "measurement/audiences/conditional/ZDMConditionalUserPropertyController.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/library/ZDMMeasurementLibrary.h"

class MeasurementLibrary : public EngineFixture {
  protected:
    ~MeasurementLibrary() override {
        ZDMMeasurement::setSharedInstanceObserver(nullptr);
        ZDMMeasurement::setExperimentManagerSource(nullptr);
        ZDMConnectConditionalPropertiesToEngine(nullptr);
    }
};

TEST_F(MeasurementLibrary, TheSharedEngineIsMadeWithEveryLayerAboveItConnected) {
    const auto controller = ZDMConditionalUserPropertyController::sharedInstance();
    // Unconnected, the controller has no engine to ask.
    EXPECT_FALSE(controller->conditionalUserPropertiesWithNamePrefix(Value(), Value()));

    ZDMInstallMeasurementLibrary();
    ZDMInstallMeasurementLibrary();
    ZDMMeasurement::initializeSharedInstanceWithAppID("1:123456:ios:abcdef", true, false, {});
    const auto engine = ZDMMeasurement::sharedInstance();
    ASSERT_TRUE(engine);
    drain(*engine);
    ASSERT_TRUE(engine->isEnabled());
    EXPECT_TRUE(engine->experimentManager());
    const auto stored = controller->conditionalUserPropertiesWithNamePrefix(Value(), Value());
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->empty());
}
