#include "measurement/interpreter/ZDMPArrayValue.h"

#include <algorithm>
#include <cmath>

#include "measurement/interpreter/ZDMPArrayCommandEvaluator.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPMapValue.h"
#include "measurement/interpreter/ZDMPRunBudget.h"

namespace {

constexpr double kSlotBytes = sizeof(ZDMPValueRef);

bool isLengthKey(const ZDMPRuntimeValue& key) {
    return key.kind() == ZDMPValueKind::string &&
           static_cast<const ZDMPStringValue&>(key).value() == u"length";
}

}  // namespace

const ZDMPValueRef& ZDMPArrayValue::emptyValue() {
    static const auto* marker = new ZDMPValueRef(std::make_shared<ZDMPRuntimeValue>());
    return *marker;
}

std::shared_ptr<ZDMPArrayValue> ZDMPArrayValue::initWithArray(ZDMPValueList elements, Error* error) {
    if (!ZDMPRunBudget::reserveBytes(static_cast<double>(elements.size()) * kSlotBytes, error))
        return nullptr;
    return std::make_shared<ZDMPArrayValue>(std::move(elements));
}

bool ZDMPArrayValue::grow(double newCount, Error* error) {
    const double added = newCount - static_cast<double>(elements_.size());
    if (added <= 0) return true;
    if (!ZDMPRunBudget::reserveBytes(added * kSlotBytes, error)) return false;
    elements_.resize(static_cast<size_t>(newCount), emptyValue());
    return true;
}

ZDMPValueRef ZDMPArrayValue::valueForProperty(const ZDMPRuntimeValue& key, Error* error) const {
    Error failure;
    const std::u16string name = key.stringValueOrError(&failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    if (isLengthKey(key)) return ZDMPNumberValue::make(static_cast<double>(elements_.size()));
    double index = 0;
    if (ZDMPIsArrayIndex(key, &index)) {
        if (index >= static_cast<double>(elements_.size())) return ZDMPUndefined();
        const ZDMPValueRef& slot = elements_[static_cast<size_t>(index)];
        return isHole(slot) ? ZDMPUndefined() : slot;
    }
    return propertyMap_.valueForName(name);
}

void ZDMPArrayValue::setValueForProperty(ZDMPValueRef value, const ZDMPRuntimeValue& key, Error* error) {
    Error failure;
    const std::u16string name = key.stringValueOrError(&failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return;
    }
    if (isLengthKey(key)) {
        double length = 0;
        if (!ZDMPIsArrayIndex(*value, &length)) {
            ZDMPSetError(error, ZDMPErrorCode::invalidArrayLength);
            return;
        }
        setLength(length, error);
        return;
    }
    double index = 0;
    if (ZDMPIsArrayIndex(key, &index)) {
        if (!grow(index + 1, error)) return;
        elements_[static_cast<size_t>(index)] = std::move(value);
        return;
    }
    propertyMap_.setValue(std::move(value), name);
}

void ZDMPArrayValue::removeValueForProperty(const ZDMPRuntimeValue& key, Error* error) {
    Error failure;
    const std::u16string name = key.stringValueOrError(&failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return;
    }
    double index = 0;
    if (ZDMPIsArrayIndex(key, &index)) {
        if (index < static_cast<double>(elements_.size()))
            elements_[static_cast<size_t>(index)] = emptyValue();
        return;
    }
    propertyMap_.removeValueForName(name);
}

bool ZDMPArrayValue::hasProperty(const ZDMPRuntimeValue& key, Error* error) const {
    Error failure;
    const std::u16string name = key.stringValueOrError(&failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return false;
    }
    double index = 0;
    if (ZDMPIsArrayIndex(key, &index)) {
        return index < static_cast<double>(elements_.size()) &&
               !isHole(elements_[static_cast<size_t>(index)]);
    }
    return propertyMap_.hasName(name);
}

std::vector<std::u16string> ZDMPArrayValue::allPropertyNames() const {
    std::vector<std::u16string> names = propertyMap_.allNames();
    for (size_t i = 0; i < elements_.size(); ++i) {
        if (!isHole(elements_[i])) names.push_back(ZDMPNumberToText(static_cast<double>(i)));
    }
    return names;
}

ZDMPValueList ZDMPArrayValue::allElements() const {
    ZDMPValueList values = elements_;
    for (auto& value : values) {
        if (isHole(value)) value = ZDMPUndefined();
    }
    return values;
}

bool ZDMPArrayValue::setLength(double length, Error* error) {
    if (length > static_cast<double>(elements_.size())) return grow(length, error);
    elements_.resize(static_cast<size_t>(length));
    return true;
}

std::shared_ptr<ZDMPArrayValue> ZDMPArrayValue::subarrayWithRange(size_t location, size_t length) const {
    location = std::min(location, elements_.size());
    length = std::min(length, elements_.size() - location);
    const auto begin = elements_.begin() + static_cast<std::ptrdiff_t>(location);
    return std::make_shared<ZDMPArrayValue>(
        ZDMPValueList(begin, begin + static_cast<std::ptrdiff_t>(length)));
}

ZDMPValueList ZDMPArrayValue::spliceFrom(int64_t from, int64_t deleteCount, const ZDMPValueList& values,
                                         Error* error) {
    const auto count = static_cast<int64_t>(elements_.size());
    from = std::clamp<int64_t>(from, 0, count);
    deleteCount = std::clamp<int64_t>(deleteCount, 0, count - from);
    const double added = static_cast<double>(values.size()) - static_cast<double>(deleteCount);
    if (!ZDMPRunBudget::reserveBytes(added * kSlotBytes, error)) return {};
    const auto begin = elements_.begin() + from;
    ZDMPValueList removed(begin, begin + deleteCount);
    elements_.erase(begin, begin + deleteCount);
    elements_.insert(elements_.begin() + from, values.begin(), values.end());
    return removed;
}

bool ZDMPArrayValue::concat(const ZDMPValueRef& value, Error* error) {
    if (value->kind() == ZDMPValueKind::control) {
        ZDMPSetError(error, ZDMPErrorCode::wrongArgumentKind);
        return false;
    }
    if (const auto* array = ZDMPAs<ZDMPArrayValue>(value)) {
        const ZDMPValueList slots = array->elements_;
        return appendElements(slots, error) > 0 || slots.empty();
    }
    return appendElements({value}, error) > 0;
}

void ZDMPArrayValue::reverse() {
    std::reverse(elements_.begin(), elements_.end());
}

ZDMPValueRef ZDMPArrayValue::removeFirstElement() {
    if (elements_.empty()) return ZDMPUndefined();
    ZDMPValueRef first = std::move(elements_.front());
    elements_.erase(elements_.begin());
    return first;
}

ZDMPValueRef ZDMPArrayValue::removeLastElement() {
    if (elements_.empty()) return ZDMPUndefined();
    ZDMPValueRef last = std::move(elements_.back());
    elements_.pop_back();
    return last;
}

size_t ZDMPArrayValue::appendElements(const ZDMPValueList& values, Error* error) {
    if (!ZDMPRunBudget::reserveBytes(static_cast<double>(values.size()) * kSlotBytes, error)) return 0;
    elements_.insert(elements_.end(), values.begin(), values.end());
    return elements_.size();
}

size_t ZDMPArrayValue::prependElements(const ZDMPValueList& values, Error* error) {
    if (!ZDMPRunBudget::reserveBytes(static_cast<double>(values.size()) * kSlotBytes, error)) return 0;
    elements_.insert(elements_.begin(), values.begin(), values.end());
    return elements_.size();
}

int64_t ZDMPArrayValue::indexOfValue(const ZDMPRuntimeValue& value, int64_t fromIndex, Error* error) const {
    for (auto i = static_cast<size_t>(std::max<int64_t>(fromIndex, 0)); i < elements_.size(); ++i) {
        Error failure;
        const bool equal = ZDMPStrictlyEqual(*elements_[i], value, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return -1;
        }
        if (equal) return static_cast<int64_t>(i);
    }
    return -1;
}

int64_t ZDMPArrayValue::lastIndexOfValue(const ZDMPRuntimeValue& value, int64_t fromIndex,
                                         Error* error) const {
    if (elements_.empty() || fromIndex < 0) return -1;
    const auto start = std::min<int64_t>(fromIndex, static_cast<int64_t>(elements_.size()) - 1);
    for (int64_t i = start; i >= 0; --i) {
        Error failure;
        const bool equal = ZDMPStrictlyEqual(*elements_[static_cast<size_t>(i)], value, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return -1;
        }
        if (equal) return i;
    }
    return -1;
}

void ZDMPArrayValue::sortUsingFunctionValue(const std::shared_ptr<ZDMPFunctionValue>& function,
                                            const ZDMPScopeRef& scope, Error* error) {
    Error recorded;
    // -1 when a goes first, 1 when b does, 0 when they are the same (also after any failure).
    auto compare = [&](const ZDMPValueRef& a, const ZDMPValueRef& b) -> int {
        if (ZDMPFailed(recorded)) return 0;
        if (isHole(a) || isHole(b)) return isHole(a) == isHole(b) ? 0 : (isHole(a) ? 1 : -1);
        const bool undefinedA = a->kind() == ZDMPValueKind::undefined;
        const bool undefinedB = b->kind() == ZDMPValueKind::undefined;
        if (undefinedA || undefinedB) return undefinedA == undefinedB ? 0 : (undefinedA ? 1 : -1);
        if (function) {
            const ZDMPValueRef order = function->invokeWithArguments({a, b}, scope, &recorded);
            if (ZDMPFailed(recorded)) return 0;
            const double x = order->doubleValueOrError(&recorded);
            if (ZDMPFailed(recorded) || std::isnan(x)) return 0;
            return x < 0 ? -1 : (x > 0 ? 1 : 0);
        }
        const std::u16string textA = a->stringValueOrError(&recorded);
        const std::u16string textB = b->stringValueOrError(&recorded);
        if (ZDMPFailed(recorded)) return 0;
        return ZDMPCompareTexts(textA, textB);
    };
    // A bottom-up merge sort over a copy: every step is bounded by the copy's size, so neither an
    // inconsistent comparison nor one that changes this array can make it loop or read out of bounds.
    ZDMPValueList slots = elements_;
    ZDMPValueList merged(slots.size());
    for (size_t width = 1; width < slots.size(); width *= 2) {
        for (size_t left = 0; left < slots.size(); left += 2 * width) {
            const size_t middle = std::min(left + width, slots.size());
            const size_t right = std::min(left + 2 * width, slots.size());
            size_t i = left, j = middle, k = left;
            while (i < middle && j < right)
                merged[k++] = compare(slots[j], slots[i]) < 0 ? slots[j++] : slots[i++];
            while (i < middle) merged[k++] = slots[i++];
            while (j < right) merged[k++] = slots[j++];
        }
        slots.swap(merged);
    }
    elements_ = std::move(slots);
    if (ZDMPFailed(recorded)) setError(error, std::move(recorded));
}

std::u16string ZDMPArrayValue::stringValueWithSeparator(std::u16string_view separator, Error* error) const {
    const ZDMPNestingGuard nesting;
    if (!nesting.entered(error)) return u"";
    std::u16string text;
    for (size_t i = 0; i < elements_.size(); ++i) {
        const ZDMPValueRef& slot = elements_[i];
        const ZDMPValueKind kind = slot->kind();
        if (!isHole(slot) && kind != ZDMPValueKind::undefined && kind != ZDMPValueKind::null) {
            Error failure;
            text += slot->stringValueOrError(&failure);
            if (ZDMPFailed(failure)) {
                setError(error, std::move(failure));
                return u"";
            }
        }
        if (i + 1 < elements_.size()) text += separator;
        // The text is charged when a value is made of it; here it must only stay within reach.
        if (!ZDMPRunBudget::fitsBytes(static_cast<double>(text.size()) * sizeof(char16_t), error)) return u"";
    }
    return text;
}

std::u16string ZDMPArrayValue::stringValueOrError(Error* error) const {
    return stringValueWithSeparator(u",", error);
}

double ZDMPArrayValue::doubleValueOrError(Error* error) const {
    Error failure;
    const std::u16string text = stringValueOrError(&failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return std::nan("");
    }
    return ZDMPTextToNumber(text);
}

ZDMPValueRef ZDMPArrayValue::applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                                           const ZDMPScopeRef& scope, Error* error) {
    if (ZDMPValueRef result = ZDMPCallProperty(propertyMap_, name, arguments, scope, error)) return result;
    return ZDMPArrayCommandEvaluator::sharedInstance()->evaluateCommand(
        name, std::static_pointer_cast<ZDMPArrayValue>(shared_from_this()), arguments, scope, error);
}

bool ZDMPArrayValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    if (this == &other) return true;
    const auto* array = dynamic_cast<const ZDMPArrayValue*>(&other);
    if (!array || array->elements_.size() != elements_.size()) return false;
    const ZDMPNestingGuard nesting;
    if (!nesting.entered()) return false;
    for (size_t i = 0; i < elements_.size(); ++i) {
        if (!elements_[i]->isEqualToRuntimeValue(*array->elements_[i])) return false;
    }
    return true;
}

void ZDMPArrayValue::collectReferences(ZDMPReferences& references) const {
    propertyMap_.collectValues(references.values);
    for (const auto& element : elements_) references.values.push_back(element.get());
}

void ZDMPArrayValue::releaseReferences() {
    // Destroying the elements may reach this array again; empty it first.
    ZDMPValueList elements = std::move(elements_);
    elements_.clear();
    propertyMap_.removeAll();
}
