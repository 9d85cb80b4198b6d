#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "measurement/foundation/ZDMPlatformIdentitySupport.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/AnsweringObject.h"

namespace {

class PlatformIdentity : public ::testing::Test {
  protected:
    ~PlatformIdentity() override {
        Runtime::unregisterClass("ATTrackingManager");
        Runtime::unregisterClass("ASIdentifierManager");
        resetAllForTesting();
    }
    static void registerFake(const char* name, std::map<std::string, Value, std::less<>> answers) {
        Runtime::registerClass(name, std::make_shared<const AnsweringObject>(std::move(answers)));
    }
};

TEST_F(PlatformIdentity, WithoutThePlatformClassesAnswersTheAbsentValues) {
    const auto support = ZDMPlatformIdentitySupport::sharedInstance();
    EXPECT_EQ(support, ZDMPlatformIdentitySupport::sharedInstance());
    EXPECT_FALSE(support->hasAppDataConsentStatus());
    EXPECT_EQ(support->appDataConsentStatus(), ~uint64_t{0});
    EXPECT_FALSE(support->hasLimitedAdTracking());
    EXPECT_FALSE(support->limitedAdTracking());
    EXPECT_EQ(support->resettableDeviceID(), std::nullopt);
}

TEST_F(PlatformIdentity, AsksTheRegisteredClassesAtConstruction) {
    const std::string identifier = "6f1d2a3b-4c5d-4e6f-8a9b-0c1d2e3f4a5b";
    registerFake("ATTrackingManager", {{"trackingAuthorizationStatus", 3}});
    const auto manager = std::make_shared<const AnsweringObject>(std::map<std::string, Value, std::less<>>{
        {"advertisingIdentifier", identifier}, {"isAdvertisingTrackingEnabled", false}});
    registerFake("ASIdentifierManager",
                 {{"sharedManager", Value(std::static_pointer_cast<const Object>(manager))}});

    const ZDMPlatformIdentitySupport support;
    EXPECT_TRUE(support.hasAppDataConsentStatus());
    EXPECT_EQ(support.appDataConsentStatus(), 3u);
    EXPECT_TRUE(support.hasLimitedAdTracking());
    EXPECT_TRUE(support.limitedAdTracking());
    EXPECT_EQ(support.resettableDeviceID(), "6F1D2A3B-4C5D-4E6F-8A9B-0C1D2E3F4A5B");
}

TEST_F(PlatformIdentity, ClassesThatDoNotAnswerCountAsAbsentAnswers) {
    registerFake("ATTrackingManager", {});
    registerFake("ASIdentifierManager", {});  // no "sharedManager": no manager
    const ZDMPlatformIdentitySupport support;
    EXPECT_TRUE(support.hasAppDataConsentStatus());
    EXPECT_EQ(support.appDataConsentStatus(), ~uint64_t{0});
    EXPECT_FALSE(support.hasLimitedAdTracking());
    EXPECT_EQ(support.resettableDeviceID(), std::nullopt);

    registerFake("ASIdentifierManager",
                 {{"sharedManager",
                   Value(std::static_pointer_cast<const Object>(std::make_shared<const AnsweringObject>(
                       std::map<std::string, Value, std::less<>>{{"advertisingIdentifier", "no uuid"}})))}});
    const ZDMPlatformIdentitySupport withManager;
    EXPECT_TRUE(withManager.hasLimitedAdTracking());
    EXPECT_FALSE(withManager.limitedAdTracking());
    EXPECT_EQ(withManager.resettableDeviceID(), std::nullopt);
}

}  // namespace
