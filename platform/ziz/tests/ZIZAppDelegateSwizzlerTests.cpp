#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/SharedInstance.h"
#include "platform/ziz/ZIZAppDelegateSwizzler.h"
#include "platform/ziz/ZIZAppDelegateSwizzler_simulated.h"

namespace {
namespace simulation = ZIZAppDelegateSwizzlerSimulation;

class AppDelegateProxy : public ::testing::Test {
  protected:
    AppDelegateProxy() { resetAllForTesting(); }
    ~AppDelegateProxy() override { resetAllForTesting(); }
};

TEST_F(AppDelegateProxy, IsAllowedUntilSwitchedOff) {
    EXPECT_TRUE(ZIZAppDelegateSwizzler::isAppDelegateProxyEnabled());
    simulation::setAppDelegateProxyEnabled(false);
    EXPECT_FALSE(ZIZAppDelegateSwizzler::isAppDelegateProxyEnabled());
    resetAllForTesting();
    EXPECT_TRUE(ZIZAppDelegateSwizzler::isAppDelegateProxyEnabled());
}

TEST_F(AppDelegateProxy, RecordsProxyingAndEachRegistrationWithItsThread) {
    ZIZAppDelegateSwizzler::proxyOriginalDelegate();
    auto interceptor = std::make_shared<NSApplicationDelegate>();
    ZIZAppDelegateSwizzler::registerAppDelegateInterceptor(interceptor);
    std::thread([&] { ZIZAppDelegateSwizzler::registerAppDelegateInterceptor(interceptor); }).join();
    ZIZAppDelegateSwizzler::registerAppDelegateInterceptor(nullptr);

    EXPECT_EQ(simulation::proxyOriginalDelegateCount(), 1);
    const auto registrations = simulation::registrations();
    ASSERT_EQ(registrations.size(), 2u);
    EXPECT_EQ(registrations[0].interceptor.lock(), interceptor);
    EXPECT_TRUE(registrations[0].onMainThread);
    EXPECT_FALSE(registrations[1].onMainThread);

    interceptor.reset();
    EXPECT_TRUE(simulation::registrations()[0].interceptor.expired()) << "held weakly";
}

}  // namespace
