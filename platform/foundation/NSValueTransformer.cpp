#include "platform/foundation/NSValueTransformer.h"

#include <map>
#include <mutex>

#include "platform/foundation/Exception.h"

namespace {
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<NSValueTransformer>> byName;
};
Registry& registry() {
    static auto* names = new Registry;  // never destroyed: transformers may be looked up during exit
    return *names;
}
}  // namespace

AnyObject NSValueTransformer::reverseTransformedValue(const AnyObject& value) const {
    if (!allowsReverseTransformation())
        throw Exception(NSInternalInconsistencyException,
                        "transformer does not allow reverse transformation");
    return transformedValue(value);
}

void NSValueTransformer::setValueTransformer(std::shared_ptr<NSValueTransformer> transformer,
                                             const std::string& name) {
    std::shared_ptr<NSValueTransformer> replaced;  // released outside the lock
    std::lock_guard lock(registry().mutex);
    auto& slot = registry().byName[name];
    replaced = std::exchange(slot, std::move(transformer));
    if (!slot) registry().byName.erase(name);
}

std::shared_ptr<NSValueTransformer> NSValueTransformer::valueTransformerForName(const std::string& name) {
    std::lock_guard lock(registry().mutex);
    auto found = registry().byName.find(name);
    return found == registry().byName.end() ? nullptr : found->second;
}

std::vector<std::string> NSValueTransformer::valueTransformerNames() {
    std::lock_guard lock(registry().mutex);
    std::vector<std::string> names;
    for (const auto& [name, transformer] : registry().byName) names.push_back(name);
    return names;
}
