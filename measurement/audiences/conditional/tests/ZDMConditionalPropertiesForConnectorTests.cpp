// The connector's conditional requests reach the real controller over a real engine.
#include <gtest/gtest.h>

#include "measurement/audiences/conditional/ZDMConditionalPropertiesForConnector.h"
#include "measurement/audiences/conditional/ZDMConditionalPropertiesForEngine.h"
#include "measurement/engine/VUZArezivodoConnector.h"
#include "measurement/engine/tests/EngineFixture.h"

namespace {
class ConditionalThroughConnector : public EngineFixture {
  protected:
    ConditionalThroughConnector() {
        engine_ = makeEngine("1:123456:ios:abcdef");
        forgetStartUpReports(*engine_);
        ZDMConnectConditionalPropertiesToEngine(engine_);
        ZDMInstallConditionalPropertiesForConnector();
    }
    ~ConditionalThroughConnector() override {
        VUZArezivodoConnector::installConditionalUserPropertyRequests({});
        ZDMConnectConditionalPropertiesToEngine(nullptr);
    }
    std::shared_ptr<ZDMMeasurement> engine_;
    VUZArezivodoConnector connector_;
};

TEST_F(ConditionalThroughConnector, APropertySetIsFoundByPrefixAndOriginUntilCleared) {
    connector_.setConditionalUserProperty({{"name", "_tier"},
                                           {"origin", "zrc"},
                                           {"value", "gold"},
                                           {"triggerTimeout", 100},
                                           {"timeToLive", 100},
                                           {"triggerEventName", "_purchase"}});
    drain(*engine_);
    EXPECT_EQ(connector_.conditionalUserProperties("zrc", "_ti"),
              (std::vector<Dictionary>{{{"name", "_tier"}, {"value", "gold"}}}));
    EXPECT_TRUE(connector_.conditionalUserProperties("zcm", "_ti").empty());
    EXPECT_TRUE(connector_.conditionalUserProperties("zrc", "_x").empty());

    connector_.clearConditionalUserProperty("", "zrc", "_tier_cleared", {{"_tier", "gold"}});
    drain(*engine_);
    EXPECT_TRUE(connector_.conditionalUserProperties("zrc", "_ti").empty());
}
}  // namespace
