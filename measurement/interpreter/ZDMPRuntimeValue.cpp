#include "measurement/interpreter/ZDMPRuntimeValue.h"

#include <cmath>
#include <limits>
#include <typeinfo>

#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPReclaimer.h"
#include "measurement/interpreter/ZDMPRunBudget.h"
#include "measurement/interpreter/ZDMPStringCommandEvaluator.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The shared values live for the process: never destroyed, so no thread meets a dead one at exit.
// Each caller keeps the result in its own function-local static.
template <class T, class... Args>
const ZDMPValueRef* immortal(Args... args) {
    return new ZDMPValueRef(std::make_shared<T>(args...));
}

}  // namespace

std::u16string ZDMPRuntimeValue::stringValueOrError(Error* error) const {
    ZDMPSetError(error, ZDMPErrorCode::noStringConversion);
    return u"";
}

double ZDMPRuntimeValue::doubleValueOrError(Error* error) const {
    ZDMPSetError(error, ZDMPErrorCode::noNumberConversion);
    return kNaN;
}

bool ZDMPRuntimeValue::booleanValueOrError(Error* error) const {
    ZDMPSetError(error, ZDMPErrorCode::noBooleanConversion);
    return false;
}

ZDMPValueRef ZDMPRuntimeValue::applyWithName(const std::u16string& name, const ZDMPValueList&,
                                             const ZDMPScopeRef&, Error* error) {
    return applyBaseRule(name, error);
}

ZDMPValueRef ZDMPRuntimeValue::applyBaseRule(const std::u16string& name, Error* error) const {
    if (name != u"toString") return ZDMPFail(error, ZDMPErrorCode::unknownMethod);
    Error failure;
    std::u16string text = stringValueOrError(&failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    return ZDMPStringValue::make(std::move(text), error);
}

bool ZDMPRuntimeValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    return this == &other;
}

bool ZDMPRuntimeValue::isStringLike() const {
    switch (kind()) {
        case ZDMPValueKind::string:
        case ZDMPValueKind::array:
        case ZDMPValueKind::map:
        case ZDMPValueKind::function:
            return true;
        default:
            return false;
    }
}

const ZDMPValueRef& ZDMPUndefinedValue::sharedInstance() {
    static const ZDMPValueRef* instance = immortal<ZDMPUndefinedValue>();
    return *instance;
}

double ZDMPUndefinedValue::doubleValueOrError(Error*) const {
    return kNaN;
}

ZDMPValueRef ZDMPUndefinedValue::applyWithName(const std::u16string&, const ZDMPValueList&,
                                               const ZDMPScopeRef&, Error* error) {
    return ZDMPFail(error, ZDMPErrorCode::methodCallOnNothing);
}

bool ZDMPUndefinedValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    return other.kind() == ZDMPValueKind::undefined;
}

const ZDMPValueRef& ZDMPNullValue::sharedInstance() {
    static const ZDMPValueRef* instance = immortal<ZDMPNullValue>();
    return *instance;
}

ZDMPValueRef ZDMPNullValue::applyWithName(const std::u16string&, const ZDMPValueList&, const ZDMPScopeRef&,
                                          Error* error) {
    return ZDMPFail(error, ZDMPErrorCode::methodCallOnNothing);
}

bool ZDMPNullValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    return other.kind() == ZDMPValueKind::null;
}

const ZDMPValueRef& ZDMPBooleanValue::booleanValueWithBool(bool value) {
    static const ZDMPValueRef* trueValue = immortal<ZDMPBooleanValue>(true);
    static const ZDMPValueRef* falseValue = immortal<ZDMPBooleanValue>(false);
    return value ? *trueValue : *falseValue;
}

bool ZDMPBooleanValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    const auto* boolean = dynamic_cast<const ZDMPBooleanValue*>(&other);
    return boolean && boolean->value_ == value_;
}

std::u16string ZDMPNumberValue::stringValueOrError(Error*) const {
    return ZDMPNumberToText(value_);
}

bool ZDMPNumberValue::booleanValueOrError(Error*) const {
    return !(value_ == 0 || std::isnan(value_));
}

bool ZDMPNumberValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    const auto* number = dynamic_cast<const ZDMPNumberValue*>(&other);
    return number && (number->value_ == value_ || (std::isnan(number->value_) && std::isnan(value_)));
}

ZDMPValueRef ZDMPStringValue::make(std::u16string text, Error* error) {
    if (!ZDMPRunBudget::reserveBytes(static_cast<double>(text.size()) * sizeof(char16_t), error)) {
        return ZDMPUndefined();
    }
    return std::make_shared<ZDMPStringValue>(std::move(text));
}

double ZDMPStringValue::doubleValueOrError(Error*) const {
    return ZDMPTextToNumber(value_);
}

ZDMPValueRef ZDMPStringValue::applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                                            const ZDMPScopeRef& scope, Error* error) {
    return ZDMPStringCommandEvaluator::sharedInstance()->evaluateCommand(name, value_, arguments, scope,
                                                                         error);
}

bool ZDMPStringValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    const auto* string = dynamic_cast<const ZDMPStringValue*>(&other);
    return string && string->value_ == value_;
}

bool ZDMPStatementValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    if (this == &other) return true;
    const auto* statement = dynamic_cast<const ZDMPStatementValue*>(&other);
    if (!statement || statement->functionName_ != functionName_ ||
        statement->arguments_.size() != arguments_.size()) {
        return false;
    }
    const ZDMPNestingGuard nesting;
    if (!nesting.entered()) return false;
    for (size_t i = 0; i < arguments_.size(); ++i) {
        if (!arguments_[i]->isEqualToRuntimeValue(*statement->arguments_[i])) return false;
    }
    return true;
}

const ZDMPValueRef& ZDMPControlValue::breakValue() {
    static const ZDMPValueRef* instance = immortal<ZDMPControlValue>(Type::breakType, nullptr);
    return *instance;
}

const ZDMPValueRef& ZDMPControlValue::continueValue() {
    static const ZDMPValueRef* instance = immortal<ZDMPControlValue>(Type::continueType, nullptr);
    return *instance;
}

ZDMPValueRef ZDMPControlValue::returnValueWithData(ZDMPValueRef data) {
    return std::make_shared<ZDMPControlValue>(Type::returnType, std::move(data));
}

ZDMPTrackedValue::ZDMPTrackedValue() : reclaimer_(ZDMPReclaimer::active()) {
    if (reclaimer_) reclaimer_->addValue(this);
}

ZDMPTrackedValue::~ZDMPTrackedValue() {
    if (reclaimer_) reclaimer_->removeValue(this);
}

void ZDMPControlValue::collectReferences(ZDMPReferences& references) const {
    references.values.push_back(data_.get());
}

ZDMPControlValue::ZDMPControlValue(Type type, ZDMPValueRef data)
    : type_(type), data_(data ? std::move(data) : ZDMPUndefined()) {}

std::u16string ZDMPControlValue::type() const {
    switch (type_) {
        case Type::breakType:
            return u"break";
        case Type::continueType:
            return u"continue";
        case Type::returnType:
            break;
    }
    return u"return";
}

bool ZDMPControlValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    if (this == &other) return true;
    const auto* control = dynamic_cast<const ZDMPControlValue*>(&other);
    if (!control || control->type_ != type_) return false;
    const ZDMPNestingGuard nesting;
    return nesting.entered() && data_->isEqualToRuntimeValue(*control->data_);
}

const ZDMPValueRef& ZDMPFail(Error* error, ZDMPErrorCode code) {
    ZDMPSetError(error, code);
    return ZDMPUndefined();
}

bool ZDMPStrictlyEqual(const ZDMPRuntimeValue& a, const ZDMPRuntimeValue& b, Error* error) {
    if (typeid(a) != typeid(b)) return false;
    switch (a.kind()) {
        case ZDMPValueKind::number:
        case ZDMPValueKind::boolean: {
            const double x = a.doubleValueOrError(error);
            const double y = b.doubleValueOrError(error);
            return x == y;
        }
        case ZDMPValueKind::string:
            return static_cast<const ZDMPStringValue&>(a).value() ==
                   static_cast<const ZDMPStringValue&>(b).value();
        default:
            return &a == &b;
    }
}

std::u16string ZDMPTypeOfName(const ZDMPRuntimeValue& value) {
    switch (value.kind()) {
        case ZDMPValueKind::boolean:
            return u"boolean";
        case ZDMPValueKind::function:
            return u"function";
        case ZDMPValueKind::number:
            return u"number";
        case ZDMPValueKind::string:
            return u"string";
        case ZDMPValueKind::undefined:
            return u"undefined";
        default:
            return u"object";
    }
}
