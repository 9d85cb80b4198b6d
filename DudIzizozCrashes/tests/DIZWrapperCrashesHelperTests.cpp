#include <gtest/gtest.h>

#include "DudIzizozCrashes/DIZWrapperCrashesHelper.h"
#include "platform/foundation/SharedInstance.h"

namespace {

class DIZWrapperCrashesHelperTest : public ::testing::Test {
  protected:
    ~DIZWrapperCrashesHelperTest() override { resetAllForTesting(); }
};

TEST_F(DIZWrapperCrashesHelperTest, OneHelperHoldsTheDelegateWeakly) {
    EXPECT_EQ(DIZWrapperCrashesHelper::sharedInstance(), DIZWrapperCrashesHelper::sharedInstance());
    EXPECT_FALSE(DIZWrapperCrashesHelper::crashHandlerSetupDelegate());

    auto delegate = std::make_shared<DIZCrashHandlerSetupDelegate>();
    DIZWrapperCrashesHelper::setCrashHandlerSetupDelegate(delegate);
    EXPECT_EQ(DIZWrapperCrashesHelper::crashHandlerSetupDelegate(), delegate);
    EXPECT_EQ(DIZWrapperCrashesHelper::getCrashHandlerSetupDelegate(), delegate);
    EXPECT_TRUE(delegate->shouldEnableUncaughtExceptionHandler()) << "the handler is wanted unless refused";

    delegate.reset();
    EXPECT_FALSE(DIZWrapperCrashesHelper::crashHandlerSetupDelegate()) << "gone with the wrapper's object";
}

}  // namespace
