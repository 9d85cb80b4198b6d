#pragma once
// The experiment manager. For now only its shared monitor, through which the experiment code logs.
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

class ZDMMonitor;

class ZDMEManager {
  public:
    // Made once around the engine's monitor; reports go to that monitor as they are.
    class Monitor {
      public:
        explicit Monitor(std::shared_ptr<ZDMMonitor> engineMonitor);
        void logWithLevel(int64_t level, int64_t messageCode, const std::string& message);
        void logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                          const Value& context);

      private:
        const std::shared_ptr<ZDMMonitor> engineMonitor_;
    };

    static std::shared_ptr<Monitor> monitor();
};
