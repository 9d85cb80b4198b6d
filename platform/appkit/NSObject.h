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

#include "platform/foundation/Value.h"

class NSObject : public std::enable_shared_from_this<NSObject> {
  public:
    using Action = std::function<void(NSObject* sender)>;

    virtual ~NSObject() = default;

    virtual bool respondsToSelector(std::string_view selector) const;
    // Runs the action registered under `selector` with `sender`; false when there is none.
    virtual bool performSelector(std::string_view selector, NSObject* sender);

    // Key-value coding, for bindings: the properties a subclass offers by key (none by default).
    virtual std::optional<Value> valueForKey(std::string_view) const { return std::nullopt; }
    // False when the object has no settable property of that key.
    virtual bool setValueForKey(const Value&, std::string_view) { return false; }

    // This object as a shared pointer of its own class; null when it is not owned by one.
    template <class T>
    std::shared_ptr<T> sharedAs() {
        auto self = weak_from_this().lock();
        return std::static_pointer_cast<T>(self);
    }

  protected:
    // Registers (or replaces) the method that answers `selector`.
    void registerAction(std::string selector, Action action);

  private:
    std::vector<std::pair<std::string, Action>> actions_;
};
