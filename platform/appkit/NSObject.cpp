#include "platform/appkit/NSObject.h"

#include <algorithm>

const NSObject::Entry* NSObject::find(std::string_view selector) const {
    auto found = std::find_if(methods_.begin(), methods_.end(),
                              [&](const Entry& e) { return e.selector == selector; });
    return found == methods_.end() ? nullptr : &*found;
}

bool NSObject::respondsToSelector(std::string_view selector) const {
    return find(selector) != nullptr;
}

bool NSObject::performSelector(std::string_view selector, NSObject* sender) {
    const Entry* entry = find(selector);
    if (!entry) return false;
    // A copy keeps the method alive should it replace itself while running.
    Method run = entry->method;
    run(sender);
    return true;
}

std::optional<NSMethodSignature> NSObject::methodSignatureForSelector(std::string_view selector) const {
    const Entry* entry = find(selector);
    if (!entry) return std::nullopt;
    return entry->signature;
}

bool NSObject::invokeSelector(std::string_view selector, NSObject* argument) {
    const Entry* entry = find(selector);
    if (!entry) return false;
    Method run = entry->method;
    return run(argument);
}

void NSObject::registerAction(std::string selector, Action action) {
    registerMethod(std::move(selector), {"v", 3}, [action = std::move(action)](NSObject* sender) {
        action(sender);
        return true;
    });
}

void NSObject::registerMethod(std::string selector, NSMethodSignature signature, Method method) {
    for (auto& entry : methods_) {
        if (entry.selector == selector) {
            entry.signature = std::move(signature);
            entry.method = std::move(method);
            return;
        }
    }
    methods_.push_back({std::move(selector), std::move(signature), std::move(method)});
}
