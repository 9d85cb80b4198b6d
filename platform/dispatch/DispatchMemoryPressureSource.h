#pragma once
// Memory-pressure events of the system, delivered to a handler on a queue. A source watches the
// levels of its mask and, once resumed, runs its handler for each event of those levels until it
// is cancelled. Events come from the backend that follows the system (or from a test).
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"

inline constexpr unsigned long DISPATCH_MEMORYPRESSURE_NORMAL = 0x01;
inline constexpr unsigned long DISPATCH_MEMORYPRESSURE_WARN = 0x02;
inline constexpr unsigned long DISPATCH_MEMORYPRESSURE_CRITICAL = 0x04;

class DispatchMemoryPressureSource : public std::enable_shared_from_this<DispatchMemoryPressureSource> {
  public:
    static std::shared_ptr<DispatchMemoryPressureSource> make(unsigned long mask,
                                                              std::shared_ptr<DispatchQueue> queue);

    void setEventHandler(std::function<void()> handler);
    void resume();
    // After cancel returns no further event reaches the handler.
    void cancel();
    bool isCancelled() const;
    // The level of the event being handled.
    unsigned long data() const;

    // Hands an event of `level` to every resumed source whose mask holds it.
    static void deliver(unsigned long level);

  private:
    DispatchMemoryPressureSource(unsigned long mask, std::shared_ptr<DispatchQueue> queue)
        : mask_(mask), queue_(std::move(queue)) {}
    void handle(unsigned long level);

    const unsigned long mask_;
    const std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::shared_ptr<std::function<void()>> handler_;
    unsigned long data_ = 0;
    bool resumed_ = false;
    bool cancelled_ = false;
};
