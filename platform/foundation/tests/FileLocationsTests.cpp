#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/EnvironmentOverride.h"

namespace fs = std::filesystem;

namespace {

// Only regular files within the limit are read; everything else is an error, never a throw or a
// wait (a FIFO without a writer, a device that never ends).
TEST(FileLocations, ReadsOnlyRegularFilesWithinTheLimit) {
    TestHome home;
    const fs::path file = home.path() / "five.bin";
    std::ofstream(file, std::ios::binary) << "12345";
    fs::create_directories(home.path() / "folder");
    ASSERT_EQ(mkfifo((home.path() / "pipe").c_str(), 0600), 0);

    const struct {
        const char* name;
        fs::path path;
        std::uintmax_t limit;
        std::optional<std::string> contents;
        int64_t code;
    } cases[] = {
        {"regular file", file, FileLocations::kDefaultReadLimit, "12345", 0},
        {"exactly at the limit", file, 5, "12345", 0},
        {"one byte over the limit", file, 4, std::nullopt, FileLocations::kFileReadTooLargeError},
        {"missing", home.path() / "absent", FileLocations::kDefaultReadLimit, std::nullopt,
         FileLocations::kFileReadNoSuchFileError},
        {"directory", home.path() / "folder", FileLocations::kDefaultReadLimit, std::nullopt,
         FileLocations::kFileReadUnknownError},
        {"FIFO without a writer", home.path() / "pipe", FileLocations::kDefaultReadLimit, std::nullopt,
         FileLocations::kFileReadUnknownError},
        {"endless device", "/dev/zero", FileLocations::kDefaultReadLimit, std::nullopt,
         FileLocations::kFileReadUnknownError},
    };
    for (const auto& c : cases) {
        Error error;
        auto data = FileLocations::readFile(c.path, &error, c.limit);
        EXPECT_EQ(data.has_value(), c.contents.has_value()) << c.name;
        if (data && c.contents) {
            EXPECT_EQ(stringFromData(*data), *c.contents) << c.name;
        } else if (!data && !c.contents) {
            EXPECT_EQ(error.domain, kFoundationErrorDomain) << c.name;
            EXPECT_EQ(error.code, c.code) << c.name << ": " << error.description;
            EXPECT_NE(error.description.find(c.path.string()), std::string::npos) << error.description;
        }
    }
}

// The variables that decide the locations, cleared for each test and put back after it.
class FileLocationsEnvironment : public testing::Test {
  protected:
    static constexpr const char* kVariables[] = {"QUORVANE_HOME", "HOME",           "XDG_CONFIG_HOME",
                                                 "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"};
    void SetUp() override {
        for (const char* name : kVariables) environment_.set(name, nullptr);
    }

    EnvironmentOverride environment_;
};

// Relative values never make relative locations: QUORVANE_HOME counts from the directory the
// process started in, even after it has moved; relative XDG, HOME and TMPDIR values are ignored.
TEST_F(FileLocationsEnvironment, EveryLocationIsAbsolute) {
    const fs::path start = fs::current_path();
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> variables;
        fs::path preferences, config, support, caches, temporary;
    } cases[] = {
        {"relative QUORVANE_HOME",
         {{"QUORVANE_HOME", "run/home"}, {"XDG_CONFIG_HOME", "/x/config"}},
         start / "run/home/Preferences",
         start / "run/home/Config",
         start / "run/home/Application Support",
         start / "run/home/Caches",
         start / "run/home/tmp"},
        {"relative XDG directories",
         {{"HOME", "/h"},
          {"XDG_CONFIG_HOME", "c"},
          {"XDG_DATA_HOME", "./d"},
          {"XDG_CACHE_HOME", "e"},
          {"TMPDIR", "t"}},
         "/h/.config/quorvane",
         "/h/.config",
         "/h/.local/share",
         "/h/.cache",
         "/tmp"},
        {"absolute XDG directories",
         {{"HOME", "/h"},
          {"XDG_CONFIG_HOME", "/c"},
          {"XDG_DATA_HOME", "/d"},
          {"XDG_CACHE_HOME", "/e"},
          {"TMPDIR", "/t"}},
         "/c/quorvane",
         "/c",
         "/d",
         "/e",
         "/t"},
        {"relative HOME",
         {{"HOME", "h"}},
         "/tmp/.config/quorvane",
         "/tmp/.config",
         "/tmp/.local/share",
         "/tmp/.cache",
         "/tmp"},
    };
    const fs::path elsewhere = fs::temp_directory_path();
    for (const auto& c : cases) {
        for (const char* name : kVariables) environment_.set(name, nullptr);
        for (const auto& [name, value] : c.variables) environment_.set(name, value);
        ASSERT_EQ(chdir(elsewhere.c_str()), 0);
        const fs::path got[] = {FileLocations::preferencesDirectory(), FileLocations::configDirectory(),
                                FileLocations::applicationSupportDirectory(),
                                FileLocations::cachesDirectory(), FileLocations::temporaryDirectory()};
        ASSERT_EQ(chdir(start.c_str()), 0);
        const fs::path want[] = {c.preferences, c.config, c.support, c.caches, c.temporary};
        for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(got[i], want[i]) << c.name << " #" << i;
    }
}

}  // namespace
