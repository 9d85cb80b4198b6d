#pragma once
// Value transformers: objects that turn one value into another (and maybe back), for bindings and
// for code that wants one named conversion. Transformers are found by name in one registry.
#include <any>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

// The design's untyped object as transformers take and give it: nil, a Value (numbers, strings,
// dictionaries, NSNull as a null Value), or a shared object of one of the program's classes.
class AnyObject {
  public:
    AnyObject() = default;
    AnyObject(Value value) : value_(std::move(value)) {}
    template <class T>
    AnyObject(std::shared_ptr<T> object) {
        if (object) object_ = std::move(object);
    }

    bool isNil() const { return !value_ && !object_.has_value(); }
    const Value* value() const { return value_ ? &*value_ : nullptr; }
    // The object when it was stored as exactly std::shared_ptr<T>; null otherwise.
    template <class T>
    std::shared_ptr<T> object() const {
        const auto* held = std::any_cast<std::shared_ptr<T>>(&object_);
        return held ? *held : nullptr;
    }

    // Conveniences for the common Values; null/nullopt for anything else.
    const std::string* string() const { return value_ ? value_->asString() : nullptr; }
    bool isNumber() const { return value_ && value_->isNumber(); }

  private:
    std::optional<Value> value_;
    std::any object_;
};

class NSValueTransformer {
  public:
    virtual ~NSValueTransformer() = default;

    // The value unchanged, unless a subclass says otherwise.
    virtual AnyObject transformedValue(const AnyObject& value) const { return value; }
    // transformedValue of the value, for a transformer that allows it; a subclass that reverses
    // differently overrides this. Asking one that does not allow it is a programming error and
    // raises an internal-inconsistency Exception.
    virtual AnyObject reverseTransformedValue(const AnyObject& value) const;
    virtual bool allowsReverseTransformation() const { return true; }

    // A null transformer removes the name.
    static void setValueTransformer(std::shared_ptr<NSValueTransformer> transformer, const std::string& name);
    static std::shared_ptr<NSValueTransformer> valueTransformerForName(const std::string& name);
    static std::vector<std::string> valueTransformerNames();
};
