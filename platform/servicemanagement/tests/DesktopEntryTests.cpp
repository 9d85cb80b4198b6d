#include <gtest/gtest.h>

#include "platform/servicemanagement/DesktopEntry.h"

namespace {

std::string execLine(const std::string& entry) {
    size_t start = entry.find("\nExec=");
    if (start == std::string::npos) return {};
    start += 1;
    return entry.substr(start, entry.find('\n', start) - start);
}

TEST(DesktopEntry, ExecQuotesPathsThatTheLauncherWouldSplitOrExpand) {
    struct Case {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/quorvane", "Exec=/usr/bin/quorvane"},
        {"/opt/My Apps/quorvane", R"(Exec="/opt/My Apps/quorvane")"},
        {"/opt/100%/quorvane", "Exec=/opt/100%%/quorvane"},
        {"/opt/$HOME/\"q\"", R"(Exec="/opt/\\$HOME/\\"q\\"")"},
        {R"(/opt/a\b)", R"(Exec="/opt/a\\\\b")"},
        {"/opt/a\nb", R"(Exec="/opt/a\nb")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(execLine(DesktopEntry::autostartEntry("q", c.path)), c.exec) << c.path;
}

TEST(DesktopEntry, WrittenEntryReadsBackSwitchedOn) {
    std::string entry = DesktopEntry::autostartEntry(" quorvane", "/usr/bin/quorvane");
    EXPECT_NE(entry.find("\nName=\\squorvane\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
    EXPECT_EQ(DesktopEntry::readSwitch(entry), DesktopEntry::Switch::on);
}

TEST(DesktopEntry, ReadsTheSwitchOrRejectsWhatIsNoEntry) {
    using S = DesktopEntry::Switch;
    struct Case {
        const char* text;
        std::optional<S> expected;
    } cases[] = {
        {"# comment\n\n[Desktop Entry]\nType=Application\nExec=q\n", S::on},
        {"[Desktop Entry]\r\nHidden = true\r\n", S::off},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", S::off},
        {"[Desktop Entry]\nHidden=false\nX-GNOME-Autostart-enabled=true\n", S::on},
        {"[Desktop Entry]\nHidden=yes\n", S::unknown},
        {"[Desktop Entry]\nHidden=yes\nX-GNOME-Autostart-enabled=false\n", S::off},
        {"[Desktop Entry]\nName[de]=Q\n[Desktop Action x]\nHidden=true\n", S::on},
        {"", std::nullopt},
        {"# only a comment\n", std::nullopt},
        {"Hidden=false\n[Desktop Entry]\n", std::nullopt},
        {"[Other]\n[Desktop Entry]\n", std::nullopt},
        {"[Desktop Entry]\nthis is no key\n", std::nullopt},
        {"[Desktop Entry]\nBad Key=1\n", std::nullopt},
        {"[Desktop Entry\nType=Application\n", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(DesktopEntry::readSwitch(c.text), c.expected) << c.text;
    using namespace std::string_literals;
    EXPECT_EQ(DesktopEntry::readSwitch("[Desktop Entry]\nName=a\0b\n"s), std::nullopt);
}

}  // namespace
