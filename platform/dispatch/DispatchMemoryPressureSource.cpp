#include "platform/dispatch/DispatchMemoryPressureSource.h"

#include <algorithm>
#include <vector>

namespace {

// The resumed sources, held weakly: a source that its owner dropped simply stops hearing events.
struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<DispatchMemoryPressureSource>> sources;
};

Registry& registry() {
    static auto* shared = new Registry;  // never destroyed: events may come while the process ends
    return *shared;
}

}  // namespace

std::shared_ptr<DispatchMemoryPressureSource> DispatchMemoryPressureSource::make(
    unsigned long mask, std::shared_ptr<DispatchQueue> queue) {
    return std::shared_ptr<DispatchMemoryPressureSource>(
        new DispatchMemoryPressureSource(mask, std::move(queue)));
}

void DispatchMemoryPressureSource::setEventHandler(std::function<void()> handler) {
    std::lock_guard guard(mutex_);
    handler_ = std::make_shared<std::function<void()>>(std::move(handler));
}

void DispatchMemoryPressureSource::resume() {
    {
        std::lock_guard guard(mutex_);
        if (resumed_ || cancelled_) return;
        resumed_ = true;
    }
    auto& shared = registry();
    std::lock_guard guard(shared.mutex);
    std::erase_if(shared.sources, [](const auto& source) { return source.expired(); });
    shared.sources.push_back(weak_from_this());
}

void DispatchMemoryPressureSource::cancel() {
    std::lock_guard guard(mutex_);
    cancelled_ = true;
    handler_.reset();
}

bool DispatchMemoryPressureSource::isCancelled() const {
    std::lock_guard guard(mutex_);
    return cancelled_;
}

unsigned long DispatchMemoryPressureSource::data() const {
    std::lock_guard guard(mutex_);
    return data_;
}

void DispatchMemoryPressureSource::deliver(unsigned long level) {
    std::vector<std::shared_ptr<DispatchMemoryPressureSource>> listening;
    {
        auto& shared = registry();
        std::lock_guard guard(shared.mutex);
        for (const auto& weak : shared.sources) {
            if (auto source = weak.lock(); source && (source->mask_ & level)) listening.push_back(source);
        }
    }
    for (const auto& source : listening) {
        source->queue_->async([source, level] { source->handle(level); });
    }
}

// On the source's queue; the handler runs outside the lock, and not at all once cancelled.
void DispatchMemoryPressureSource::handle(unsigned long level) {
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard guard(mutex_);
        if (cancelled_ || !handler_) return;
        data_ = level;
        handler = handler_;
    }
    (*handler)();
}
