#include "platform/appkit/NSKeyValueBinding.h"

#include "platform/foundation/Exception.h"

namespace {
constexpr std::string_view kValuesPrefix = "values.";

// Property lists hold no objects and no nulls, also deep inside.
bool isPropertyList(const Value& value) {
    if (value.isNull() || value.isObject()) return false;
    if (const auto* array = value.asArray())
        for (const auto& element : *array)
            if (!isPropertyList(element)) return false;
    if (const auto* dictionary = value.asDictionary())
        for (const auto& [key, element] : *dictionary)
            if (!isPropertyList(element)) return false;
    return true;
}

void setDefault(UserDefaults& defaults, const AnyObject& value, const std::string& key) {
    if (value.isNil() || (value.value() && value.value()->isNull())) {
        defaults.removeObjectForKey(key);
        return;
    }
    if (!value.value() || !isPropertyList(*value.value()))
        throw Exception(NSInvalidArgumentException,
                        "Attempt to insert non-property list object for key " + key);
    defaults.setObject(*value.value(), key);
}
}  // namespace

std::shared_ptr<NSControllerMarker> NSNoSelectionMarker() {
    static const auto marker = std::make_shared<NSControllerMarker>("NSNoSelectionMarker");
    return marker;
}
std::shared_ptr<NSControllerMarker> NSMultipleValuesMarker() {
    static const auto marker = std::make_shared<NSControllerMarker>("NSMultipleValuesMarker");
    return marker;
}
std::shared_ptr<NSControllerMarker> NSNotApplicableMarker() {
    static const auto marker = std::make_shared<NSControllerMarker>("NSNotApplicableMarker");
    return marker;
}

bool NSIsControllerMarker(const AnyObject& value) {
    if (value.object<NSControllerMarker>()) return true;
    return value.value() && value.value()->objectAs<NSControllerMarker>() != nullptr;
}

std::shared_ptr<NSUserDefaultsController> NSUserDefaultsController::sharedUserDefaultsController() {
    static const auto controller =
        std::make_shared<NSUserDefaultsController>(UserDefaults::standardUserDefaults());
    return controller;
}

bool NSObservedObject::isUserDefaults() const {
    return userDefaults || std::dynamic_pointer_cast<NSUserDefaultsController>(object);
}

void NSObservedObject::setValueForKeyPath(const AnyObject& value, const std::string& keyPath) const {
    if (userDefaults) return setDefault(*userDefaults, value, keyPath);
    if (auto controller = std::dynamic_pointer_cast<NSUserDefaultsController>(object)) {
        if (keyPath.starts_with(kValuesPrefix))
            setDefault(*controller->defaults(), value, keyPath.substr(kValuesPrefix.size()));
        return;
    }
    if (object) object->setValueForKeyPath(value, keyPath);
}

void NSBindings::bind(const std::string& binding, NSObservedObject object, std::optional<std::string> keyPath,
                      std::optional<NSBindingOptions> options) {
    bindings_[binding] = NSBindingInfo{std::move(object), std::move(keyPath), std::move(options)};
}

void NSBindings::unbind(const std::string& binding) {
    bindings_.erase(binding);
}

std::optional<NSBindingInfo> NSBindings::infoForBinding(const std::string& binding) const {
    auto it = bindings_.find(binding);
    if (it == bindings_.end()) return std::nullopt;
    return it->second;
}
