#pragma once
// The interpreter's array: slots that may be holes, plus named properties. Index-like keys (numbers
// or strings naming a whole number ≥ 0, "01" and -0 among them) address slots; "length" reads and
// sets the slot count; any other key is a named property. Growth is charged to the run's
// allocation budget before anything is allocated.
#include <cstdint>
#include <string>

#include "measurement/interpreter/ZDMPPropertyMap.h"
#include "measurement/interpreter/ZDMPRuntimeValue.h"

class ZDMPFunctionValue;

class ZDMPArrayValue final : public ZDMPTrackedValue {
  public:
    // The hole marker: one shared instance of the base value.
    static const ZDMPValueRef& emptyValue();
    static bool isHole(const ZDMPValueRef& value) { return value == emptyValue(); }

    ZDMPArrayValue() = default;
    explicit ZDMPArrayValue(ZDMPValueList elements) : elements_(std::move(elements)) {}
    // A new array of `elements` (holes included), or undefined with code 18 past the budget.
    static std::shared_ptr<ZDMPArrayValue> initWithArray(ZDMPValueList elements, Error* error);

    size_t count() const { return elements_.size(); }
    const ZDMPValueList& slots() const { return elements_; }

    ZDMPValueRef valueForProperty(const ZDMPRuntimeValue& key, Error* error) const;
    void setValueForProperty(ZDMPValueRef value, const ZDMPRuntimeValue& key, Error* error);
    void removeValueForProperty(const ZDMPRuntimeValue& key, Error* error);
    bool hasProperty(const ZDMPRuntimeValue& key, Error* error) const;
    // Named properties first, then the decimal index of every slot that is not a hole, ascending.
    std::vector<std::u16string> allPropertyNames() const;
    // The slots with holes read as undefined.
    ZDMPValueList allElements() const;
    bool setLength(double length, Error* error);
    std::shared_ptr<ZDMPArrayValue> subarrayWithRange(size_t location, size_t length) const;
    ZDMPValueList spliceFrom(int64_t from, int64_t deleteCount, const ZDMPValueList& values, Error* error);
    bool concat(const ZDMPValueRef& value, Error* error);
    void reverse();
    ZDMPValueRef removeFirstElement();
    ZDMPValueRef removeLastElement();
    // The new count; 0 and code 18 when the budget refuses the growth.
    size_t appendElements(const ZDMPValueList& values, Error* error);
    size_t prependElements(const ZDMPValueList& values, Error* error);
    int64_t indexOfValue(const ZDMPRuntimeValue& value, int64_t fromIndex, Error* error) const;
    int64_t lastIndexOfValue(const ZDMPRuntimeValue& value, int64_t fromIndex, Error* error) const;
    // Sorts a copy of the slots with a merge sort, which ends and stays in bounds whatever the
    // comparison answers or does to the array, then stores the result. Holes last, undefined just
    // before them; without a function, by text order.
    void sortUsingFunctionValue(const std::shared_ptr<ZDMPFunctionValue>& function, const ZDMPScopeRef& scope,
                                Error* error);
    // Each slot's text (nothing for holes, undefined and null) joined by `separator`.
    std::u16string stringValueWithSeparator(std::u16string_view separator, Error* error) const;

    ZDMPPropertyMap& propertyMap() { return propertyMap_; }

    ZDMPValueKind kind() const override { return ZDMPValueKind::array; }
    std::u16string stringValueOrError(Error* error) const override;
    double doubleValueOrError(Error* error) const override;
    bool booleanValueOrError(Error*) const override { return true; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;
    void collectReferences(ZDMPReferences& references) const override;
    void releaseReferences() override;

  private:
    bool grow(double newCount, Error* error);

    ZDMPPropertyMap propertyMap_;
    ZDMPValueList elements_;
};
