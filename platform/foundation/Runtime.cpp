#include "platform/foundation/Runtime.h"

#include <functional>
#include <map>
#include <mutex>

#include "platform/foundation/RuntimeObject.h"

namespace {
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const RuntimeObject>, std::less<>> classes;
};

Registry& registry() {
    static Registry* shared = new Registry;  // never destroyed: lookups may run during exit
    return *shared;
}
}  // namespace

void Runtime::registerClass(std::string name) {
    std::lock_guard lock(registry().mutex);
    registry().classes.try_emplace(std::move(name));
}

void Runtime::registerClass(std::string name, std::shared_ptr<const RuntimeObject> classObject) {
    std::shared_ptr<const RuntimeObject> replaced = std::move(classObject);
    std::lock_guard lock(registry().mutex);
    registry().classes[std::move(name)].swap(replaced);
}

void Runtime::unregisterClass(std::string_view name) {
    std::shared_ptr<const RuntimeObject> removed;  // released after unlocking
    std::lock_guard lock(registry().mutex);
    if (auto found = registry().classes.find(name); found != registry().classes.end()) {
        removed = std::move(found->second);
        registry().classes.erase(found);
    }
}

bool Runtime::classExists(std::string_view name) {
    std::lock_guard lock(registry().mutex);
    return registry().classes.contains(name);
}

std::shared_ptr<const RuntimeObject> Runtime::classNamed(std::string_view name) {
    std::lock_guard lock(registry().mutex);
    auto found = registry().classes.find(name);
    return found == registry().classes.end() ? nullptr : found->second;
}
