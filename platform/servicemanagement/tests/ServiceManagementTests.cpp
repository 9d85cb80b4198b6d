#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/servicemanagement/DesktopEntry.h"
#include "platform/servicemanagement/ServiceManagement.h"

namespace fs = std::filesystem;

namespace {

class ServiceManagement : public testing::Test {
  protected:
    void SetUp() override {
        Bundle::setMainBundle(std::make_shared<Bundle>(
            Dictionary{{"CFBundleIdentifier", "org.example.agent"}, {"CFBundleDisplayName", "Agent"}}));
    }
    fs::path autostart() const { return FileLocations::configDirectory() / "autostart"; }
    void write(const fs::path& file, const std::string& text) const {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    std::string read(const fs::path& file) const {
        auto data = FileLocations::readFile(file);
        return data ? stringFromData(*data) : std::string("<missing>");
    }
    Value jobs() const {
        auto result = SMCopyAllJobDictionaries(kSMDomainUserLaunchd);
        return result ? *result : Value("<no result>");
    }

    TestHome home;
};

TEST_F(ServiceManagement, EnablingWritesAnEntryThatStartsThisProgramAndDisablingRemovesIt) {
    const fs::path entry = autostart() / "org.example.agent-Helper.desktop";

    ASSERT_TRUE(SMLoginItemSetEnabled("org.example.agent-Helper", true));
    std::string text = read(entry);
    EXPECT_NE(text.find("\nExec=" + fs::read_symlink("/proc/self/exe").string() + "\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\nName=Agent\n"), std::string::npos) << text;
    EXPECT_EQ(jobs(),
              Value(Value::Array{Dictionary{{"Label", "org.example.agent-Helper"}, {"OnDemand", true}}}));

    ASSERT_TRUE(SMLoginItemSetEnabled("org.example.agent-Helper", false));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(jobs(), Value(Value::Array{}));
    EXPECT_TRUE(SMLoginItemSetEnabled("org.example.agent-Helper", false))
        << "nothing to remove is no failure";
}

TEST_F(ServiceManagement, JobListReadsEveryEntryAndSkipsWhatIsNoEntry) {
    write(autostart() / "b.desktop", "[Desktop Entry]\nHidden=true\n");
    write(autostart() / "a.desktop", "[Desktop Entry]\nExec=a\n");
    write(autostart() / "c.desktop", "[Desktop Entry]\nHidden=maybe\n");
    write(autostart() / "garbage.desktop", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    write(autostart() / "huge.desktop", "[Desktop Entry]\n" + std::string(100 * 1024, '#') + "\n");
    write(autostart() / "notes.txt", "[Desktop Entry]\n");
    fs::create_directories(autostart() / "folder.desktop");
    ASSERT_EQ(mkfifo((autostart() / "pipe.desktop").c_str(), 0600), 0);

    EXPECT_EQ(jobs(), Value(Value::Array{Dictionary{{"Label", "a"}, {"OnDemand", true}},
                                         Dictionary{{"Label", "b"}, {"OnDemand", false}},
                                         Dictionary{{"Label", "c"}}}));
    EXPECT_EQ(read(autostart() / "garbage.desktop").size(), 10u) << "reading must not touch the files";
}

TEST_F(ServiceManagement, MissingFolderIsAnEmptyListAndAnUnlistableOneNoResult) {
    EXPECT_EQ(jobs(), Value(Value::Array{}));

    write(autostart(), "not a folder");
    EXPECT_FALSE(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).has_value());
    EXPECT_FALSE(SMLoginItemSetEnabled("x", true));
    EXPECT_EQ(read(autostart()), "not a folder");
}

TEST_F(ServiceManagement, FailsWithoutHarmWhereTheEntryCannotBeWritten) {
    fs::create_directories(autostart() / "x.desktop" / "kept");
    EXPECT_FALSE(SMLoginItemSetEnabled("x", true));
    EXPECT_FALSE(SMLoginItemSetEnabled("x", false));
    EXPECT_TRUE(fs::is_directory(autostart() / "x.desktop" / "kept"));

    for (const char* label : {"", ".", "..", "../escape", "a/b"}) {
        EXPECT_FALSE(SMLoginItemSetEnabled(label, true)) << label;
        EXPECT_FALSE(SMLoginItemSetEnabled(label, false)) << label;
    }
    EXPECT_FALSE(fs::exists(FileLocations::configDirectory() / "escape.desktop"));
    EXPECT_FALSE(fs::exists(autostart() / "a"));
    EXPECT_FALSE(fs::exists(autostart() / ".desktop"));
}

}  // namespace
