#pragma once
// The root of the objects that take part in target/action: an object answers the selectors it has
// registered, so controls and menu items can send it their action by name. Bindings reach its
// properties by key.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSValueTransformer.h"
#include "platform/foundation/Value.h"

// The shape of a method: what it returns ("c" BOOL, "v" nothing) and how many arguments it takes,
// the receiver and the selector included (so an action taking a sender has 3).
struct NSMethodSignature {
    std::string methodReturnType;
    size_t numberOfArguments = 0;
};

// What a validated control or item tells the target it asks: its action and tag.
class NSValidatedUserInterfaceItem {
  public:
    virtual ~NSValidatedUserInterfaceItem() = default;
    virtual std::string action() const = 0;
    virtual int64_t tag() const = 0;
};

class NSObject : public std::enable_shared_from_this<NSObject> {
  public:
    using Action = std::function<void(NSObject* sender)>;
    // A method's body: gets the argument (null for a method without one) and answers its BOOL; a
    // method that returns nothing answers what it likes, and callers ignore it.
    using Method = std::function<bool(NSObject* argument)>;

    virtual ~NSObject() = default;

    virtual bool respondsToSelector(std::string_view selector) const;
    // Runs the action registered under `selector` with `sender`; false when there is none.
    virtual bool performSelector(std::string_view selector, NSObject* sender);
    // The signature of the method answering `selector`; nullopt when there is none.
    std::optional<NSMethodSignature> methodSignatureForSelector(std::string_view selector) const;
    // Calls the method answering `selector` with `argument`; what the method answers (false when
    // there is none).
    bool invokeSelector(std::string_view selector, NSObject* argument);

    // Key-value coding, for bindings: the properties a subclass offers by key (none by default).
    virtual std::optional<Value> valueForKey(std::string_view) const { return std::nullopt; }
    // False when the object has no settable property of that key.
    virtual bool setValueForKey(const Value&, std::string_view) { return false; }
    // The same for any object (a binding writes back what its view holds); by default a Value goes
    // to setValueForKey and any other object is refused.
    virtual bool setValueForKeyPath(const AnyObject& value, std::string_view keyPath) {
        return value.value() && setValueForKey(*value.value(), keyPath);
    }

    // This object as a shared pointer of its own class; null when it is not owned by one.
    template <class T>
    std::shared_ptr<T> sharedAs() {
        auto self = weak_from_this().lock();
        return std::static_pointer_cast<T>(self);
    }

  protected:
    // Registers (or replaces) the method that answers `selector`.
    void registerAction(std::string selector, Action action);
    // Registers (or replaces) a method of any signature.
    void registerMethod(std::string selector, NSMethodSignature signature, Method method);

  private:
    struct Entry {
        std::string selector;
        NSMethodSignature signature;
        Method method;
    };
    const Entry* find(std::string_view selector) const;

    std::vector<Entry> methods_;
};
