#include "platform/foundation/Runtime.h"

#include <functional>
#include <mutex>
#include <set>

namespace {
struct Registry {
    std::mutex mutex;
    std::set<std::string, std::less<>> names;
};

Registry& registry() {
    static Registry* shared = new Registry;  // never destroyed: lookups may run during exit
    return *shared;
}
}  // namespace

void Runtime::registerClass(std::string name) {
    std::lock_guard lock(registry().mutex);
    registry().names.insert(std::move(name));
}

void Runtime::unregisterClass(std::string_view name) {
    std::lock_guard lock(registry().mutex);
    if (auto found = registry().names.find(name); found != registry().names.end())
        registry().names.erase(found);
}

bool Runtime::classExists(std::string_view name) {
    std::lock_guard lock(registry().mutex);
    return registry().names.contains(name);
}
