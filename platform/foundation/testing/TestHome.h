#pragma once
// A fresh, private QUORVANE_HOME for one test: every file the system writes goes below it, and
// the shared user defaults and main bundle start anew. Removed again at the end of the test, when
// QUORVANE_HOME gets back the value it had before.
// `mainBundle` stands in for the bundle the program would register at start-up (none by default).
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "testing/EnvironmentOverride.h"

class TestHome {
  public:
    explicit TestHome(std::shared_ptr<Bundle> mainBundle = nullptr) {
        const char* base = std::getenv("QUORVANE_TEST_TMP");
        std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
        std::random_device rd;
        path_ = root / ("home-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
        environment_.set("QUORVANE_HOME", path_.c_str());
        UserDefaults::resetStandardUserDefaults();
        Bundle::setMainBundle(std::move(mainBundle));
    }
    ~TestHome() {
        UserDefaults::resetStandardUserDefaults();
        Bundle::resetMainBundle();
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    EnvironmentOverride environment_;
};
