#pragma once
// Owner of the engine's serial worker queue. For now only the check that worker-queue methods run
// off the main thread.
#include <string>

class ZDMScheduler {
  public:
    // True off the main thread; on it, logged (30001) and false. Advisory: callers go on.
    static bool checkOnBackgroundThreadWithMethodName(const std::string& methodName);
};
