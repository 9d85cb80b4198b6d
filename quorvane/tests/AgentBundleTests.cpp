#include <gtest/gtest.h>

#include "quorvane/AgentBundle.h"

TEST(AgentBundle, CarriesTheAgentsInfoPlist) {
    auto bundle = agentBundle();
    EXPECT_EQ(bundle->bundleIdentifier(), "com.quorvane.agent");
    EXPECT_EQ(bundle->shortVersion(), "1.0.0");
    EXPECT_EQ(bundle->executableName(), "quorvane");
}
