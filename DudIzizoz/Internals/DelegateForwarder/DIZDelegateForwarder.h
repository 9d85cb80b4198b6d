#pragma once
// Fans calls made to an object's delegate out to the client's registered observers. There is no
// object runtime to replace delegate methods in: the object whose delegate is followed calls the
// concrete forwarder explicitly, and the forwarder passes each call on to the observers.
//
// The forwarder is switched on or off by an Info.plist key. Because it is set up before the
// application can choose a log level, its diagnostics wait in a process-wide trace buffer that is
// replayed, under the level then in force, by the first flushTraceBuffer.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What observers of a followed delegate are; the concrete forwarder names the callbacks.
class DIZCustomDelegate {
  public:
    virtual ~DIZCustomDelegate() = default;
};

class DIZDelegateForwarder {
  public:
    virtual ~DIZDelegateForwarder() = default;

    // The Info.plist key that switches this forwarder.
    virtual std::string enabledKey() const = 0;

    bool isEnabled() const;
    // Disabling also drops every registered observer.
    void setEnabled(bool enabled);
    // Reads the main bundle's Info.plist value for `key` (absent means enabled) and traces the outcome.
    void setEnabledFromPlistForKey(const std::string& key);

    // Observers are held weakly; both calls are ignored while the forwarder is disabled.
    void addDelegate(const std::shared_ptr<DIZCustomDelegate>& delegate);
    void removeDelegate(const std::shared_ptr<DIZCustomDelegate>& delegate);

    // Runs `block` at once once the buffer is flushed; until then keeps it, in order.
    void addTraceBlock(std::function<void()> block);
    // Runs the buffered traces and drops the buffer; later calls do nothing.
    static void flushTraceBuffer();

  protected:
    DIZDelegateForwarder() = default;

    // The live observers, taken under the instance lock; callbacks run on this snapshot.
    std::vector<std::shared_ptr<DIZCustomDelegate>> delegatesSnapshot() const;
    // Fan-out of all forwarders is serialised, as a call may chain a result through the observers.
    static std::recursive_mutex& forwardingLock();

  private:
    mutable std::recursive_mutex lock_;
    bool enabled_ = true;
    std::vector<std::weak_ptr<DIZCustomDelegate>> delegates_;
};
