#pragma once
// The version of the running kernel, from "kern.osrelease" (on Linux, the kernel release).
// Ordinary code only.
#include <cstdint>
#include <memory>

struct DZCrashHostInfoVersion {
    uint64_t major = 0;
    uint64_t minor = 0;
    uint64_t revision = 0;
};

class DZCrashHostInfo {
  public:
    static std::shared_ptr<DZCrashHostInfo> currentHostInfo();
    // Null, with a log line, when the release cannot be read. A release that is not
    // "<major>.<minor>.<revision>" keeps the numbers read before the first mismatch, with a log line.
    static std::shared_ptr<DZCrashHostInfo> init();

    const DZCrashHostInfoVersion& darwinVersion() const { return darwinVersion_; }

    explicit DZCrashHostInfo(DZCrashHostInfoVersion version) : darwinVersion_(version) {}

  private:
    DZCrashHostInfoVersion darwinVersion_;
};
