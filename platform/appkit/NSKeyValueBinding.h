#pragma once
// Bindings as data: a view's binding names the object it is bound to, the key path there and the
// options (a value transformer, given as object or by name). The bound view writes its value back
// itself; the model side is any object that takes values by key path: an NSObject, the user
// defaults, or a user-defaults controller. User defaults take property-list values only.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSObject.h"
#include "platform/foundation/NSValueTransformer.h"
#include "platform/foundation/UserDefaults.h"

inline constexpr const char* NSValueBinding = "value";
inline constexpr const char* NSObservedObjectKey = "NSObservedObject";
inline constexpr const char* NSObservedKeyPathKey = "NSObservedKeyPath";
inline constexpr const char* NSOptionsKey = "NSOptions";
inline constexpr const char* NSValueTransformerBindingOption = "NSValueTransformer";
inline constexpr const char* NSValueTransformerNameBindingOption = "NSValueTransformerName";

// The placeholders a controller hands out instead of a value: no selection, several values, or a
// key that does not apply. One shared object each.
class NSControllerMarker : public Object {
  public:
    explicit NSControllerMarker(std::string name) : name_(std::move(name)) {}
    std::string className() const override { return "NSControllerMarker"; }
    std::string description() const override { return name_; }

  private:
    std::string name_;
};
std::shared_ptr<NSControllerMarker> NSNoSelectionMarker();
std::shared_ptr<NSControllerMarker> NSMultipleValuesMarker();
std::shared_ptr<NSControllerMarker> NSNotApplicableMarker();
bool NSIsControllerMarker(const AnyObject& value);

// The user defaults as a controller offers them: the key path "values.<key>" is the defaults' key.
class NSUserDefaultsController : public NSObject {
  public:
    static std::shared_ptr<NSUserDefaultsController> sharedUserDefaultsController();
    explicit NSUserDefaultsController(std::shared_ptr<UserDefaults> defaults)
        : defaults_(std::move(defaults)) {}
    const std::shared_ptr<UserDefaults>& defaults() const { return defaults_; }

  private:
    std::shared_ptr<UserDefaults> defaults_;
};

// What a binding is bound to: an object, or the user defaults themselves.
struct NSObservedObject {
    std::shared_ptr<NSObject> object;
    std::shared_ptr<UserDefaults> userDefaults;
    bool isNil() const { return !object && !userDefaults; }
    // Whether this is the user defaults or a user-defaults controller.
    bool isUserDefaults() const;
    // Sets the value at `keyPath`. User defaults (directly or through their controller) refuse a
    // value that is no property list with an invalid-argument Exception and keep what they hold.
    void setValueForKeyPath(const AnyObject& value, const std::string& keyPath) const;
};

struct NSBindingOptions {
    std::shared_ptr<NSValueTransformer> valueTransformer;
    std::optional<std::string> valueTransformerName;
};

struct NSBindingInfo {
    NSObservedObject observedObject;
    std::optional<std::string> observedKeyPath;
    std::optional<NSBindingOptions> options;
};

// The bindings of one object.
class NSBindings {
  public:
    void bind(const std::string& binding, NSObservedObject object, std::optional<std::string> keyPath,
              std::optional<NSBindingOptions> options = std::nullopt);
    void unbind(const std::string& binding);
    std::optional<NSBindingInfo> infoForBinding(const std::string& binding) const;

  private:
    std::map<std::string, NSBindingInfo> bindings_;
};
