#include "platform/appkit/NSObjectController.h"

namespace {
constexpr std::string_view kSelectionPrefix = "selection.";
}

void NSObjectController::setContent(AnyObject content) {
    willChangeValueForKey("content");
    willChangeValueForKey("selection");
    content_ = std::move(content);
    selectionWillFinishChanging();
    didChangeValueForKey("selection");
    didChangeValueForKey("content");
}

AnyObject NSObjectController::valueForKeyPath(std::string_view keyPath) const {
    if (keyPath == "content") return content_;
    if (keyPath == "selection") return content_.isNil() ? AnyObject(NSNoSelectionMarker()) : content_;
    if (keyPath.starts_with(kSelectionPrefix))
        return singleValueForKey(keyPath.substr(kSelectionPrefix.size()));
    return {};
}

AnyObject NSObjectController::singleValueForKey(std::string_view) const {
    if (content_.isNil()) return AnyObject(NSNoSelectionMarker());
    return {};
}

void NSObjectController::bind(const std::string& binding, NSObservedObject object,
                              std::optional<std::string> keyPath, std::optional<NSBindingOptions> options) {
    bindings_.bind(binding, std::move(object), std::move(keyPath), std::move(options));
}

void NSObjectController::removeObject(const AnyObject& object) {
    // Only the value held is removed; removing another one leaves the content alone. The stand-in
    // compares plain values only: a subclass holding objects compares them itself.
    if (object.value() && content_.value() && *object.value() == *content_.value()) setContent({});
}
