#pragma once
// A real file for sink tests, removed again with the fixture; the descriptor is the sink's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/FileLocations.h"

class ScratchFile {
  public:
    ScratchFile() {
        const char* base = std::getenv("QUORVANE_TEST_TMP");
        std::filesystem::path directory = base ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(directory);
        std::string pattern = (directory / "sink-XXXXXX").string();
        fd_ = mkstemp(pattern.data());
        path_ = pattern;
    }
    ~ScratchFile() {
        if (fd_ >= 0) close(fd_);
        std::filesystem::remove(path_);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Handed to a sink that closes it itself.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    Data contents() const { return FileLocations::readFile(path_).value_or(Data{}); }
    size_t size() const { return contents().size(); }

  private:
    int fd_ = -1;
    std::filesystem::path path_;
};
