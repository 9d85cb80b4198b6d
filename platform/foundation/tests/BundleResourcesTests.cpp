#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/EnvironmentOverride.h"

namespace {

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

void writePlist(const std::filesystem::path& file, const Value& value) {
    auto bytes = plist::write(value, plist::Format::XML);
    ASSERT_TRUE(bytes);
    writeText(file, std::string(bytes->begin(), bytes->end()));
}

class BundleOnDisk : public testing::Test {
  protected:
    BundleOnDisk() {
        root = home.path() / "Lib.bundle";
        writePlist(root / "Info.plist",
                   Dictionary{{"CFBundleVersion", "7"}, {"CFBundleDevelopmentRegion", "en"}});
        writePlist(root / "en.lproj" / "Table.strings",
                   Dictionary{{"Space", "Space"}, {"Only", "English only"}});
        writePlist(root / "de.lproj" / "Table.strings", Dictionary{{"Space", "Leertaste"}});
        writeText(root / "fr.lproj" / "Table.strings", "not a property list");
        writeText(root / "style.json", "{}");
        environment.set("LC_ALL", nullptr);
        environment.set("LC_MESSAGES", nullptr);
        environment.set("LANG", nullptr);
    }

    TestHome home;
    EnvironmentOverride environment;
    std::filesystem::path root;
};

TEST_F(BundleOnDisk, OpensADirectoryOnceAndReadsItsInfo) {
    auto bundle = Bundle::bundleWithPath(root);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->buildVersion(), "7");
    EXPECT_EQ(bundle->bundlePath(), bundle->resourcePath());
    EXPECT_EQ(Bundle::bundleWithPath(root / "." / ""), bundle);
    EXPECT_EQ(Bundle::bundleWithPath(home.path() / "Missing.bundle"), nullptr);
    EXPECT_EQ(Bundle::bundleWithPath(root / "style.json"), nullptr);
    EXPECT_EQ(bundle->pathForResource("style", "json"), root / "style.json");
    EXPECT_EQ(bundle->pathForResource("style", "png"), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("../Lib.bundle/style", "json"), std::nullopt);
}

TEST_F(BundleOnDisk, LocalizesInTheUsersFirstLanguageThatHasTheKey) {
    auto bundle = Bundle::bundleWithPath(root);
    struct Case {
        const char* languages;
        const char* key;
        const char* value;
        const char* expected;
    } cases[] = {
        {"de-AT", "Space", "", "Leertaste"},  // the language without its region
        {"de", "Only", "", "English only"},   // the development region fills gaps
        {"fr:de", "Space", "", "Leertaste"},  // a broken table has no entries
        {"de", "Missing", "", "Missing"},     // an empty default gives the key
        {"de", "Missing", "Fallback", "Fallback"},
    };
    for (const auto& c : cases) {
        environment.set("LANGUAGE", c.languages);
        EXPECT_EQ(bundle->localizedString(c.key, c.value, "Table"), c.expected)
            << c.languages << " " << c.key;
    }
    EXPECT_EQ(bundle->localizedString("Space", "", "Other"), "Space");
}

TEST_F(BundleOnDisk, TheProgramsBundleLivesBesideTheExecutable) {
    auto executableDir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    auto main = Bundle::mainBundle();
    EXPECT_EQ(main->bundlePath(), executableDir);
    environment.set("QUORVANE_RESOURCES", nullptr);
    EXPECT_EQ(main->resourcePath(), executableDir / "Resources");
    environment.set("QUORVANE_RESOURCES", root.c_str());
    EXPECT_EQ(main->resourcePath(), root);

    static int marker;
    auto code = Bundle::bundleForAddress(&marker);
    ASSERT_TRUE(code);
    EXPECT_EQ(code->bundlePath(), std::filesystem::canonical(executableDir));
    EXPECT_EQ(Bundle::bundleForAddress(nullptr), nullptr);
}

}  // namespace

TEST(BundleInstallRecord, TheFirstRunsVersionIsRecordedAndKept) {
    TestHome home;
    const auto app = [](const std::string& identifier, const std::string& version) {
        return Bundle(
            Dictionary{{"CFBundleIdentifier", identifier}, {"CFBundleShortVersionString", version}});
    };
    EXPECT_EQ(app("org.example.app", "1.0").originalApplicationVersion(), "1.0");
    EXPECT_EQ(app("org.example.app", "1.1").originalApplicationVersion(), "1.0");
    EXPECT_EQ(app("org.example.other", "2.0").originalApplicationVersion(), "2.0") << "one record per app";

    // An identifier that is no plain file name keeps its record in the shared place.
    EXPECT_EQ(app("../escaped", "3.0").originalApplicationVersion(), "3.0");
    const auto support = FileLocations::applicationSupportDirectory();
    EXPECT_TRUE(std::filesystem::is_regular_file(support / "application" / "OriginalApplicationVersion"));
    EXPECT_FALSE(std::filesystem::exists(support.parent_path() / "escaped"));

    // A record that cannot be read is not replaced by the running version.
    std::filesystem::create_directories(support / "org.example.blocked" / "OriginalApplicationVersion");
    EXPECT_EQ(app("org.example.blocked", "4.0").originalApplicationVersion(), std::nullopt);
}
