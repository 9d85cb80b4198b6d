#include "platform/appkit/NSObject.h"

#include <algorithm>

bool NSObject::respondsToSelector(std::string_view selector) const {
    return std::any_of(actions_.begin(), actions_.end(), [&](const auto& a) { return a.first == selector; });
}

bool NSObject::performSelector(std::string_view selector, NSObject* sender) {
    for (auto& [name, action] : actions_) {
        if (name == selector) {
            // A copy keeps the action alive should it replace itself while running.
            Action run = action;
            run(sender);
            return true;
        }
    }
    return false;
}

void NSObject::registerAction(std::string selector, Action action) {
    for (auto& entry : actions_) {
        if (entry.first == selector) {
            entry.second = std::move(action);
            return;
        }
    }
    actions_.emplace_back(std::move(selector), std::move(action));
}
