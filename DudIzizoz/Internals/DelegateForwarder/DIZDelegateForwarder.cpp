#include "DudIzizoz/Internals/DelegateForwarder/DIZDelegateForwarder.h"

#include <optional>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstance.h"

namespace {

struct TraceBuffer {
    std::recursive_mutex lock;
    // nullopt once flushed: from then on traces run at once.
    std::optional<std::vector<std::function<void()>>> blocks{std::in_place};
};

// Never destroyed, like the shared instances: a thread may still trace while the process exits.
// Tests start again with an unflushed buffer, as a new process would.
TraceBuffer& traceBuffer() {
    static TraceBuffer* const buffer = [] {
        auto* made = new TraceBuffer;
        registerResetForTesting([made] {
            std::lock_guard guard(made->lock);
            made->blocks.emplace();
        });
        return made;
    }();
    return *buffer;
}

}  // namespace

bool DIZDelegateForwarder::isEnabled() const {
    std::lock_guard guard(lock_);
    return enabled_;
}

void DIZDelegateForwarder::setEnabled(bool enabled) {
    std::lock_guard guard(lock_);
    enabled_ = enabled;
    if (!enabled) delegates_.clear();
}

void DIZDelegateForwarder::setEnabledFromPlistForKey(const std::string& key) {
    auto value = Bundle::mainBundle()->objectForInfoDictionaryKey(key);
    bool enabled = value ? value->boolOr(true) : true;
    setEnabled(enabled);
    addTraceBlock([key, enabled] {
        if (enabled) {
            DIZLogDebug(kDIZLogTag,
                        "Delegate forwarder for info.plist key '%@' enabled. It may use swizzling.", key);
        } else {
            DIZLogDebug(kDIZLogTag,
                        "Delegate forwarder for info.plist key '%@' disabled. It won't use swizzling.", key);
        }
    });
}

void DIZDelegateForwarder::addDelegate(const std::shared_ptr<DIZCustomDelegate>& delegate) {
    std::lock_guard guard(lock_);
    if (!enabled_ || !delegate) return;
    for (const auto& held : delegates_) {
        if (held.lock() == delegate) return;
    }
    delegates_.push_back(delegate);
}

void DIZDelegateForwarder::removeDelegate(const std::shared_ptr<DIZCustomDelegate>& delegate) {
    std::lock_guard guard(lock_);
    if (!enabled_) return;
    std::erase_if(delegates_, [&](const auto& held) {
        auto live = held.lock();
        return !live || live == delegate;
    });
}

std::vector<std::shared_ptr<DIZCustomDelegate>> DIZDelegateForwarder::delegatesSnapshot() const {
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<DIZCustomDelegate>> live;
    for (const auto& held : delegates_) {
        if (auto delegate = held.lock()) live.push_back(std::move(delegate));
    }
    return live;
}

std::recursive_mutex& DIZDelegateForwarder::forwardingLock() {
    static std::recursive_mutex lock;
    return lock;
}

void DIZDelegateForwarder::addTraceBlock(std::function<void()> block) {
    auto& buffer = traceBuffer();
    std::lock_guard guard(buffer.lock);
    if (!buffer.blocks) {
        block();
        return;
    }
    if (buffer.blocks->empty()) {
        buffer.blocks->push_back([] { DIZLogVerbose(kDIZLogTag, "Start buffering traces."); });
    }
    buffer.blocks->push_back(std::move(block));
}

void DIZDelegateForwarder::flushTraceBuffer() {
    auto& buffer = traceBuffer();
    std::lock_guard guard(buffer.lock);
    if (!buffer.blocks) return;
    // Dropped before running, so a trace added by one of the blocks runs at once instead of
    // growing the list being walked.
    auto blocks = std::move(*buffer.blocks);
    buffer.blocks.reset();
    for (const auto& block : blocks) block();
    DIZLogVerbose(kDIZLogTag, "Stop buffering traces, flushed.");
}
