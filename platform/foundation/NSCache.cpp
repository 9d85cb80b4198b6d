#include "platform/foundation/NSCache.h"

#include <algorithm>
#include <vector>

namespace {
// Caches alive, for simulated memory pressure. Never destroyed: a cache may be a static that goes
// after this list would have.
std::mutex& registryMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<NSCacheBase*>& registry() {
    static auto* caches = new std::vector<NSCacheBase*>;
    return *caches;
}
}  // namespace

NSCacheBase::NSCacheBase(std::string name) : name_(std::move(name)) {
    std::lock_guard lock(registryMutex());
    registry().push_back(this);
}

NSCacheBase::~NSCacheBase() {
    std::lock_guard lock(registryMutex());
    std::erase(registry(), this);
}

// Under the registry's lock, so that no cache goes away while it is emptied; a cache's own lock is
// always taken after the registry's, never the other way round.
void NSCacheBase::simulateMemoryPressure() {
    std::lock_guard lock(registryMutex());
    for (NSCacheBase* cache : registry()) cache->removeAllObjects();
}
