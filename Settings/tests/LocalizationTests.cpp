#include <gtest/gtest.h>

#include <unordered_set>

#include "Settings/Localization.h"
#include "Settings/SettingsWindowController.h"
#include "Settings/tests/SettingsTestPanes.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/EnvironmentOverride.h"

namespace {

// Sets the user's languages for one test and puts the environment back afterwards.
class Languages {
  public:
    explicit Languages(const char* list) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            environment_.set(name, nullptr);
        if (list) environment_.set("LANGUAGE", list);
    }

  private:
    EnvironmentOverride environment_;
};

using Id = Localization::Identifier;

}  // namespace

TEST(Localization, WordFollowsTheFirstPreferredLanguage) {
    struct Case {
        const char* languages;
        const char* settings;
        const char* preferences;
    };
    const Case cases[] = {
        {"de-DE:en", "Einstellungen", "Einstellungen"},
        {"zh-Hant-TW", "設定", "偏好設定"},
        {"zh-Hant-HK", "設定", "偏好設定"},
        {"zh-Hans-CN", "设置", "偏好设置"},
        {"zh", "设置", "偏好设置"},
        // Region rows are never consulted: pt-PT reads the "pt" row, en-GB the "en" one.
        {"pt-PT", "Ajustes", "Preferências"},
        {"en_GB.UTF-8", "Settings", "Preferences"},
        {"nb", "Settings", "Preferences"},
        {"et:de", "Settings", "Preferences"},
        {nullptr, "Settings", "Preferences"},
    };
    for (const auto& c : cases) {
        Languages languages(c.languages);
        EXPECT_EQ(Localization::word(Id::settings), c.settings) << (c.languages ? c.languages : "(none)");
        EXPECT_EQ(Localization::word(Id::preferences), c.preferences)
            << (c.languages ? c.languages : "(none)");
    }
}

TEST(Localization, ASinglePaneWindowIsTitledWithTheAppNameAndTheWordOfItsSystemVersion) {
    TestHome home;
    Languages languages("en");
    struct Case {
        Dictionary info;
        int major;
        const char* title;
    };
    const Case cases[] = {
        {{{"CFBundleName", "Quorvane"}}, 13, "Quorvane Settings"},
        {{{"CFBundleName", "Quorvane"}}, 12, "Quorvane Preferences"},
        {{{"CFBundleDisplayName", "Shown"}, {"CFBundleName", "Quorvane"}}, 14, "Shown Settings"},
        {{{"CFBundleDisplayName", 7}, {"CFBundleExecutable", "quorvane"}}, 14, "quorvane Settings"},
        {{}, 13, "<Unknown App Name> Settings"},
    };
    for (const auto& c : cases) {
        Bundle::setMainBundle(std::make_shared<Bundle>(c.info));
        ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
        auto panes = spacesAndGeneral();
        panes.resize(1);
        auto controller =
            std::make_shared<SettingsWindowController>(panes, Settings::Style::toolbarItems, false, false);
        controller->tabViewController()->activateTab(0, false);
        EXPECT_EQ(controller->window()->title(), c.title);
        controller->window()->close();
    }
    ProcessInfo::resetOperatingSystemVersion();
}

TEST(PaneIdentifier, EqualsByStringAndCodesAsTheBareString) {
    Settings::PaneIdentifier plain("spaces");
    Settings::PaneIdentifier raw{std::string("spaces")};
    EXPECT_EQ(plain, raw);
    EXPECT_EQ(std::hash<Settings::PaneIdentifier>()(plain), std::hash<Settings::PaneIdentifier>()(raw));
    EXPECT_NE(plain, Settings::PaneIdentifier("Spaces"));
    EXPECT_EQ(std::unordered_set<Settings::PaneIdentifier>({plain, raw}).size(), 1u);

    EXPECT_EQ(Settings::PaneIdentifier("general").encode(), Value("general"));
    auto data = PropertyListEncoder().encode(Settings::PaneIdentifier("general"));
    ASSERT_TRUE(data);
    EXPECT_EQ(plist::read(*data), Value("general"));
    EXPECT_EQ(PropertyListDecoder().decode<Settings::PaneIdentifier>(*data),
              Settings::PaneIdentifier("general"));
    EXPECT_EQ(Settings::PaneIdentifier::decode(Value(3)), std::nullopt);
}
