#pragma once
// A named one-shot timer on a queue: runAfterDelay replaces any pending run; on firing the alarm
// is idle again before its block runs, so the block may schedule it anew. The alarm takes no lock:
// callers serialise its operations, normally on its own queue. Destruction cancels.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"

class DispatchQueue;
class DispatchTimer;

class ZDMAlarm : public std::enable_shared_from_this<ZDMAlarm> {
  public:
    // An empty name becomes "Timer".
    static std::shared_ptr<ZDMAlarm> make(std::shared_ptr<DispatchQueue> queue, const std::string& name = {});
    ~ZDMAlarm();

    // Runs `block` once on the queue at the wall-clock time now + `delay` seconds (at once for a
    // delay of 0 or less). An empty block is refused (2000).
    void runAfterDelay(std::function<void()> block, double delay);
    void cancel();
    bool hasActiveTimer() const;
    // When the pending run is due; nullopt when idle.
    const std::optional<Date>& scheduledTimestamp() const { return scheduledTimestamp_; }
    const std::string& name() const { return name_; }

    ZDMAlarm(std::shared_ptr<DispatchQueue> queue, std::string name);  // use make()

  private:
    void fire(const std::function<void()>& block);

    std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<DispatchTimer> timer_;
    std::string name_;
    std::optional<Date> scheduledTimestamp_;
};
