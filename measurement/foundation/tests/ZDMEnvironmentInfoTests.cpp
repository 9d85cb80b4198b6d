#include <gtest/gtest.h>

#include "measurement/foundation/ZDMEnvironmentInfo.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "testing/EnvironmentOverride.h"

namespace {

using EnvironmentInfo = SharedMonitorFixture;

TEST_F(EnvironmentInfo, TimeZoneOffsetInWholeMinutes) {
    struct Case {
        const char* zone;
        int32_t minutes;
    };
    // POSIX zones count hours west of GMT: "5:30" is behind it.
    for (const Case& c : {Case{"XXX5:30", -330}, Case{"YYY-0:45", 45}, Case{"UTC0", 0}, Case{"ZZZ-9", 540}}) {
        EnvironmentOverride environment;
        environment.set("TZ", c.zone);
        EXPECT_EQ(ZDMEnvironmentInfo().timeZoneOffsetMinutes(), c.minutes) << c.zone;
    }
}

TEST_F(EnvironmentInfo, PreferredLanguageInLowerCase) {
    EnvironmentOverride environment;
    environment.set("LC_ALL", nullptr);
    environment.set("LC_MESSAGES", nullptr);
    for (const char* variable : {"LANGUAGE", "LANG"}) {
        environment.set("LANGUAGE", nullptr);
        environment.set("LANG", nullptr);
        environment.set(variable, "en_US.UTF-8");
        EXPECT_EQ(ZDMEnvironmentInfo().userDefaultLanguage(), "en-us") << variable;
    }
    EXPECT_EQ(lastSampledMessage(), "");

    const ZDMEnvironmentInfo withoutLanguages([] { return std::vector<std::string>{}; });
    EXPECT_EQ(withoutLanguages.userDefaultLanguage(), std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "E:Failed to get preferred language");
}

TEST_F(EnvironmentInfo, DeviceFactsOfTheMachine) {
    auto info = ZDMEnvironmentInfo::sharedInstance();
    EXPECT_EQ(info, ZDMEnvironmentInfo::sharedInstance());
    const std::string model = info->deviceModel();
    EXPECT_FALSE(model.empty());
    EXPECT_EQ(info->deviceModel(), model);
    EXPECT_FALSE(info->deviceOSVersion().empty());
    EXPECT_EQ(lastSampledMessage(), "");
}

}  // namespace
