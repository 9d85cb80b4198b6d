#include <gtest/gtest.h>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMConfigStoreChoice.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

// The persisted configuration takes the store choice for the next launch from the configuration
// the engine has in force, once, at its first scheduled write after the server's arrived.
TEST(ZDMConfigStoreChoiceTests, ServerConfigurationSetsTheChoiceAtTheFirstScheduledWriteOnce) {
    TestHome home;
    ScopedManualClock clock;
    resetAllForTesting();
    auto config = ZDMPersistedConfig::make(ZDMPersistedConfig::kSuiteName);
    ASSERT_TRUE(config);
    config->setSessionNumber(1);
    EXPECT_FALSE(ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled()) << "default in force";

    auto server = std::make_shared<ZDMRemoteConfig>("1:123456:ios:abcdef", nullptr, nullptr);
    server->cacheValue(Value("1"), "measurement.persistent_config_in_application_support_enabled");
    ZDMMeasurement::setRemoteConfigForTesting(server);
    config->setLoadTimestampValue(Value(1.0));  // a plain write schedules nothing
    EXPECT_FALSE(ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled());
    config->setSessionNumber(2);
    EXPECT_TRUE(ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled());

    ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(false);
    config->setSessionNumber(3);
    EXPECT_FALSE(ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled()) << "only once";
    clock->advance(1);
    config.reset();
    resetAllForTesting();
}

}  // namespace
