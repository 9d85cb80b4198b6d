#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMBackwardCompatibilityUtil.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

using Util = ZDMConsentSettingsUtil;

class ConsentSettings : public ::testing::Test {
  protected:
    ConsentSettings() { Util::resetForTesting(); }
    ~ConsentSettings() override { Util::resetForTesting(); }
};

TEST_F(ConsentSettings, AFreshProcessHasNoSettingsAndTheWeakestSource) {
    EXPECT_EQ(Util::consentSource(), 100);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_FALSE(Util::isAdStorageDenied());
    EXPECT_FALSE(Util::isAnalyticsStorageDenied());
    EXPECT_EQ(Util::consentSignals(), "G1--");
    EXPECT_EQ(Util::description(), "ad_storage is granted. analytics_storage is granted.");
}

TEST_F(ConsentSettings, SignalsDenialsAndDescriptionFollowTheSettings) {
    struct Case {
        Dictionary settings;
        const char* signals;
        bool adDenied, analyticsDenied;
        const char* description;
    } cases[] = {
        {{{"ad_storage", "DENIED"}},
         "G10-",
         true,
         false,
         "ad_storage is DENIED. analytics_storage is granted."},
        {{{"ad_storage", "granted"}, {"analytics_storage", "denied"}},
         "G110",
         false,
         true,
         "ad_storage is granted. analytics_storage is denied."},
        {{{"ad_storage", "Granted"}, {"analytics_storage", "GRANTED"}},
         "G111",
         false,
         false,
         "ad_storage is Granted. analytics_storage is GRANTED."},
        // Values that are neither word, or not text, count as not set and deny nothing.
        {{{"ad_storage", "maybe"}, {"analytics_storage", 0}},
         "G1--",
         false,
         false,
         "ad_storage is maybe. analytics_storage is 0."},
        {{}, "G1--", false, false, "ad_storage is granted. analytics_storage is granted."},
    };
    for (const Case& c : cases) {
        Util::setConsentSettings(c.settings);
        EXPECT_EQ(Util::consentSignals(), c.signals);
        EXPECT_EQ(Util::isAdStorageDenied(), c.adDenied) << c.signals;
        EXPECT_EQ(Util::isAnalyticsStorageDenied(), c.analyticsDenied) << c.signals;
        EXPECT_EQ(Util::description(), c.description);
    }
}

TEST_F(ConsentSettings, ASourceMayOverwriteItselfAndAnyWeakerOne) {
    Util::setConsentSource(30);
    for (int64_t source : {10, 20, 30}) EXPECT_TRUE(Util::isConsentSourceHigherPriority(source)) << source;
    EXPECT_FALSE(Util::isConsentSourceHigherPriority(40));
}

TEST_F(ConsentSettings, ClearingTheSettingsPutsTheSourceBack) {
    Util::setConsentSettings(Dictionary{{"ad_storage", "denied"}});
    Util::setConsentSource(20);
    EXPECT_EQ(Util::consentSource(), 20);
    Util::setConsentSettings(std::nullopt);
    EXPECT_EQ(Util::consentSource(), 100);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
}

TEST_F(ConsentSettings, UpdatesMergeIntoTheSettings) {
    Util::updateSettings(Dictionary{{"ad_storage", "granted"}});
    EXPECT_EQ(Util::consentSettings(), (Dictionary{{"ad_storage", "granted"}}));
    Util::setConsentSettings(Dictionary{{"ad_storage", "granted"}, {"other", 1}});
    Util::updateSettings(Dictionary{{"analytics_storage", "denied"}, {"ad_storage", "denied"}});
    EXPECT_EQ(Util::consentSettings(),
              (Dictionary{{"ad_storage", "denied"}, {"other", 1}, {"analytics_storage", "denied"}}));
}

TEST_F(ConsentSettings, FromADictionaryOnlyTheTwoStorageEntriesAreTaken) {
    EXPECT_EQ(Util::consentSettingsFromDictionary(Dictionary{
                  {"wait_for_update", 500}, {"analytics_storage", "denied"}, {"ad_storage", "granted"}}),
              (Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "denied"}}));
    EXPECT_EQ(Util::consentSettingsFromDictionary(Dictionary{{"region", "EU"}}), Dictionary());
}

TEST_F(ConsentSettings, InfoPlistDefaultsCountOnlyWhenTheyAreNumbers) {
    struct Case {
        Dictionary info;
        Dictionary expected;
    } cases[] = {
        {{{"ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", false}}, {{"ad_storage", "denied"}}},
        {{{"ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", "NO"}}, {}},
        {{{"ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", true},
          {"ZIZODA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", 0}},
         {{"ad_storage", "granted"}, {"analytics_storage", "denied"}}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        TestHome home(std::make_shared<Bundle>(c.info));
        EXPECT_EQ(Util::consentSettingsFromPlist(), c.expected);
    }
}

TEST_F(ConsentSettings, WithdrawalIsANewDenialOfWhatWasNotDenied) {
    struct Case {
        Value previous;
        std::optional<Dictionary> current;
        bool withdrawn;
    } cases[] = {
        {Dictionary{{"analytics_storage", "granted"}}, Dictionary{{"analytics_storage", "denied"}}, true},
        {Value(), Dictionary{{"ad_storage", "denied"}}, true},
        {Dictionary{{"ad_storage", "denied"}}, Dictionary{{"ad_storage", "denied"}}, false},
        {Dictionary{{"ad_storage", "DENIED"}}, Dictionary{{"ad_storage", "denied"}}, false},
        {Dictionary{{"ad_storage", "denied"}}, Dictionary{{"ad_storage", "granted"}}, false},
        {Value("denied"), Dictionary{{"ad_storage", "denied"}}, false},
        {Value(), std::nullopt, false},
    };
    for (const Case& c : cases) {
        Util::setConsentSettings(c.current);
        EXPECT_EQ(Util::didWithdrawPreviousConsent(c.previous), c.withdrawn)
            << "now " << Util::consentSignals() << ", withdrawn expected " << c.withdrawn;
    }
}

TEST_F(ConsentSettings, WritesFromOtherThreadsAreSeenByLaterReads) {
    std::thread([] { Util::updateSettings(Dictionary{{"ad_storage", "denied"}}); }).join();
    std::thread([] { Util::updateSettings(Dictionary{{"analytics_storage", "denied"}}); }).join();
    EXPECT_EQ(Util::consentSignals(), "G100");
}

// The older library's class as the run-time registry holds it: its shared instance records what
// it was told.
class OlderLibrary : public RuntimeObject {
  public:
    explicit OlderLibrary(bool isClass) : isClass_(isClass) {}
    std::string className() const override { return ZDMBackwardCompatibilityUtil::kOlderLibraryClassName; }
    bool respondsToSelector(std::string_view selector) const override {
        return selector == (isClass_ ? "sharedInstance" : "setIsEnabled:");
    }
    Value perform(std::string_view selector) const override {
        if (!isClass_ || selector != "sharedInstance") return Value();
        return Value(std::static_pointer_cast<const Object>(instance));
    }
    Value performWithObject(std::string_view selector, const Value& argument) const override {
        if (!isClass_ && selector == "setIsEnabled:") enabledCalls.push_back(argument.boolOr(true));
        return Value();
    }

    std::shared_ptr<OlderLibrary> instance;
    mutable std::vector<bool> enabledCalls;

  private:
    bool isClass_;
};

TEST(BackwardCompatibility, AnOlderLibraryInTheProcessIsSwitchedOff) {
    auto olderClass = std::make_shared<OlderLibrary>(true);
    olderClass->instance = std::make_shared<OlderLibrary>(false);
    Runtime::registerClass("ZOVEduduruzuzo", olderClass);
    EXPECT_TRUE(ZDMBackwardCompatibilityUtil::disableZOVEduduruzuzo());
    EXPECT_EQ(olderClass->instance->enabledCalls, std::vector<bool>{false});

    olderClass->instance = nullptr;  // the class answers, but has no shared instance
    EXPECT_FALSE(ZDMBackwardCompatibilityUtil::disableZOVEduduruzuzo());
    Runtime::registerClass("ZOVEduduruzuzo");  // a class that answers nothing
    EXPECT_FALSE(ZDMBackwardCompatibilityUtil::disableZOVEduduruzuzo());
    Runtime::unregisterClass("ZOVEduduruzuzo");
    EXPECT_FALSE(ZDMBackwardCompatibilityUtil::disableZOVEduduruzuzo());
    EXPECT_EQ(ZDMBackwardCompatibilityUtil::sharedInstance(), nullptr);
}

}  // namespace
