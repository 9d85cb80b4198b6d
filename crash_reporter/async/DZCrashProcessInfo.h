#pragma once
// Facts about one process from the kernel's process record: its name, parent, start time and
// whether a debugger is attached. Ordinary code only.
#include <sys/time.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

class DZCrashProcessInfo {
  public:
    static std::shared_ptr<DZCrashProcessInfo> currentProcessInfo();
    // Null when the process record cannot be read (no such process, among others).
    static std::shared_ptr<DZCrashProcessInfo> initWithProcessID(pid_t pid);

    pid_t processID() const { return processID_; }
    // The command name up to where it stops being UTF-8; nullopt when nothing of it is.
    const std::optional<std::string>& processName() const { return processName_; }
    pid_t parentProcessID() const { return parentProcessID_; }
    timeval startTime() const { return startTime_; }
    bool isTraced() const { return traced_; }

    DZCrashProcessInfo(pid_t processID, std::optional<std::string> processName, pid_t parentProcessID,
                       timeval startTime, bool traced)
        : processID_(processID),
          processName_(std::move(processName)),
          parentProcessID_(parentProcessID),
          startTime_(startTime),
          traced_(traced) {}

  private:
    pid_t processID_;
    std::optional<std::string> processName_;
    pid_t parentProcessID_;
    timeval startTime_;
    bool traced_;
};
