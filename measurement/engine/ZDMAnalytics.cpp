#include "measurement/engine/ZDMAnalytics.h"

#include <memory>
#include <mutex>
#include <vector>

#include "measurement/foundation/ZDMInternalEventLog.h"
#include "platform/foundation/SharedInstance.h"

namespace {
struct Observers {
    struct Entry {
        uint64_t id;
        ZDMAnalytics::InternalEventObserver observer;
    };
    std::mutex mutex;
    uint64_t nextID = 0;
    std::vector<Entry> entries;
};

constinit SharedInstance<Observers> observers;

// The foundation reports refused input from below this layer; linking the facade connects it.
void connectFoundation() {
    ZDMSetInternalEventLogger(&ZDMAnalytics::logInternalEventWithOrigin);
}
const bool connected = (connectFoundation(), true);
}  // namespace

void ZDMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const Dictionary& parameters) {
    auto registry = observers.get();
    std::vector<Observers::Entry> entries;
    {
        std::lock_guard lock(registry->mutex);
        entries = registry->entries;
    }
    for (const auto& entry : entries) entry.observer(origin, name, parameters);
}

Cancellable ZDMAnalytics::addInternalEventObserver(InternalEventObserver observer) {
    // Also here, for a program that registers before static initialisation reached this file.
    connectFoundation();
    auto registry = observers.get();
    std::lock_guard lock(registry->mutex);
    const uint64_t id = registry->nextID++;
    registry->entries.push_back({id, std::move(observer)});
    std::weak_ptr<Observers> weakRegistry = registry;
    return Cancellable([weakRegistry, id] {
        if (auto registry = weakRegistry.lock()) {
            std::lock_guard lock(registry->mutex);
            std::erase_if(registry->entries, [id](const Observers::Entry& entry) { return entry.id == id; });
        }
    });
}
