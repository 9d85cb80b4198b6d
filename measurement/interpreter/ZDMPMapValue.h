#pragma once
// A program's object: named properties in an owned property map.
#include "measurement/interpreter/ZDMPPropertyMap.h"
#include "measurement/interpreter/ZDMPRuntimeValue.h"

// The function property `name` of `properties` called with the arguments: nullptr when there is no
// property of that name, undefined with code 17 when it is not a function. A property shadows any
// built-in method of the same name.
ZDMPValueRef ZDMPCallProperty(const ZDMPPropertyMap& properties, const std::u16string& name,
                              const ZDMPValueList& arguments, const ZDMPScopeRef& scope, Error* error);

// What maps and functions share: properties, and calling a property as a method.
class ZDMPPropertyOwner {
  public:
    bool hasProperty(const std::u16string& name) const { return propertyMap_.hasName(name); }
    void setValue(ZDMPValueRef value, const std::u16string& name) {
        propertyMap_.setValue(std::move(value), name);
    }
    const ZDMPValueRef& valueForProperty(const std::u16string& name) const {
        return propertyMap_.valueForName(name);
    }
    void removeValueForProperty(const std::u16string& name) { propertyMap_.removeValueForName(name); }
    std::vector<std::u16string> allPropertyNames() const { return propertyMap_.allNames(); }
    ZDMPPropertyMap& propertyMap() { return propertyMap_; }
    const ZDMPPropertyMap& propertyMap() const { return propertyMap_; }

    // A property of that name is called (it must be a function, else code 17). Without one,
    // "hasOwnProperty" with one evaluated argument answers whether the property exists, and every
    // other name is `value`'s base rule.
    ZDMPValueRef applyProperty(const ZDMPRuntimeValue& value, const std::u16string& name,
                               const ZDMPValueList& arguments, const ZDMPScopeRef& scope, Error* error);

  private:
    ZDMPPropertyMap propertyMap_;
};

class ZDMPMapValue : public ZDMPTrackedValue, public ZDMPPropertyOwner {
  public:
    static std::shared_ptr<ZDMPMapValue> make() { return std::make_shared<ZDMPMapValue>(); }
    ZDMPValueKind kind() const override { return ZDMPValueKind::map; }
    std::u16string stringValueOrError(Error*) const override { return u"[object Object]"; }
    double doubleValueOrError(Error*) const override;
    bool booleanValueOrError(Error*) const override { return true; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;
    // Same names, and equal values under each (recursively); a nesting deeper than the interpreter
    // allows answers false.
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;
    void collectReferences(ZDMPReferences& references) const override;
    void releaseReferences() override { propertyMap().removeAll(); }
};
