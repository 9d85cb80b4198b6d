#pragma once
// Runs the crash helper program in a child process and reads back what it left: its end, the report
// it wrote and the notes it made about where it crashed.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crash_reporter/DZCrashReporter.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/tests/WriterTesting.h"
#include "testing/ChildProcess.h"

// A directory of its own for one child's reports, removed with the helper.
class CrashChild {
  public:
    explicit CrashChild(const std::string& name)
        : base_(scratchDirectory() / ("crash-" + name + "-" + std::to_string(getpid()))) {
        std::filesystem::remove_all(base_);
        std::filesystem::create_directories(base_);
    }
    ~CrashChild() { std::filesystem::remove_all(base_); }
    CrashChild(const CrashChild&) = delete;
    CrashChild& operator=(const CrashChild&) = delete;

    // Runs the helper to its end; nullopt when it did not end in time.
    std::optional<int> run(const std::string& mode, int workers, const std::string& crash,
                           const std::optional<std::string>& marker = std::nullopt) {
        std::vector<std::string> arguments = {DZCRASH_CRASH_HELPER, base_.string(), mode,
                                              std::to_string(workers), crash};
        if (marker) arguments.push_back(*marker);
        return waitForChild(start(arguments));
    }
    pid_t start(const std::vector<std::string>& arguments) {
        // The sanitizer's own fault handling would take the signals the reporter is there to see.
        return spawnChild(arguments, {.environment = {"ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                                                      "handle_sigill=0:handle_abort=0:allow_user_segv_handler=1"},
                                      .quiet = true});
    }

    const std::filesystem::path& base() const { return base_; }
    std::filesystem::path reportPath() const {
        return DZCrashReporter::initWithApplicationIdentifier(
                   "com.quorvane.crash-helper", "1", std::nullopt,
                   DZCrashReporterConfig::initWithBasePath(base_.string()))
            ->crashReportPath();
    }
    Data reportFile() const { return FileLocations::readFile(reportPath(), nullptr, 1 << 20).value_or(Data{}); }
    std::shared_ptr<DZCrashReport> report(Error* error = nullptr) const {
        return DZCrashReport::initWithData(reportFile(), error);
    }
    // Two numbers the helper wrote into a note of `name`.
    std::pair<uint64_t, uint64_t> note(const std::string& name) const {
        std::ifstream in(base_ / name);
        uint64_t first = 0, second = 0;
        in >> first >> second;
        return {first, second};
    }

  private:
    std::filesystem::path base_;
};

inline bool endedBySignal(const std::optional<int>& status, int signal) {
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal;
}

inline bool exitedWith(const std::optional<int>& status, int code) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}
