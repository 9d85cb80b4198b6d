#pragma once
// Serial queues with labels (one worker thread each), the concurrent global queue, and the main
// queue, which the main run loop drains. `sync` onto the queue already running the caller runs
// the block inline instead of deadlocking.
#include <functional>
#include <memory>
#include <string>

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    using Block = std::function<void()>;
    // The global queues by the priority of their work; each is its own pool with its own label.
    enum class Priority { Default, Background };
    virtual ~DispatchQueue() = default;

    static std::shared_ptr<DispatchQueue> serial(std::string label);
    static std::shared_ptr<DispatchQueue> main();
    static std::shared_ptr<DispatchQueue> global(Priority priority = Priority::Default);
    // The queue running the calling code, or null on a thread of no queue.
    static DispatchQueue* current();
    // The label of that queue, "" on a thread of no queue. A copy kept by the running thread, so it
    // stays valid even when the queue is released inside its own block.
    static std::string currentLabel();
    static bool isMainThread();

    const std::string& label() const { return label_; }
    virtual void async(Block block) = 0;
    // Runs `block` on this queue and waits for it; inline when called from this queue.
    virtual void sync(const Block& block);
    // Runs `block` on this queue after `delay` seconds of the process clock.
    void after(double delay, Block block);
    // True when the caller is running on this queue.
    virtual bool isCurrent() const = 0;
    // True when no block waits on this queue or runs on it: a snapshot for a caller that drives the
    // process step by step. Timers not yet due are not blocks of the queue.
    virtual bool isIdle() const = 0;

  protected:
    explicit DispatchQueue(std::string label) : label_(std::move(label)) {}

  private:
    std::string label_;
};

// The main thread's loop: runs the blocks of the main queue and hands on what its descriptor
// sources have to read (a display connection, say), waiting for either.
namespace RunLoop {
// Runs main-queue blocks, and the sources that have something, until neither has; returns how
// many blocks ran. Call on the main thread.
size_t runUntilIdle();
// Runs main-queue blocks and sources, waiting for more, until stop() is called.
void run();
void stop();

// A descriptor the loop waits on besides its queue. `ready` runs on the main thread whenever `fd`
// is readable, and also before every wait: a library that reads ahead of its descriptor (as a
// display connection does while it waits for a reply) keeps what it read where the descriptor no
// longer shows it. Add and remove on the main thread; once removed, `ready` is not called again.
using SourceId = uint64_t;
SourceId addSource(int fd, std::function<void()> ready);
void removeSource(SourceId id);
}  // namespace RunLoop
