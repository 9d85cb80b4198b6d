#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"

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

}  // namespace
