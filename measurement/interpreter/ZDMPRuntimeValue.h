#pragma once
// Every datum a program handles: the abstract runtime value and its scalar kinds (undefined, null,
// boolean, number, string), statements and control values. Conversions never throw: each reports a
// failure through its error out-parameter and returns its fallback. Scalars never change after
// creation. Maps, functions and arrays have headers of their own.
#include <memory>
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPInterpreterErrors.h"
#include "platform/foundation/Error.h"

class ZDMPScope;
class ZDMPReclaimer;
struct ZDMPReferences;
class ZDMPRuntimeValue;
using ZDMPValueRef = std::shared_ptr<ZDMPRuntimeValue>;
using ZDMPValueList = std::vector<ZDMPValueRef>;
using ZDMPScopeRef = std::shared_ptr<ZDMPScope>;

enum class ZDMPValueKind {
    base,
    undefined,
    null,
    boolean,
    number,
    string,
    map,
    function,
    array,
    statement,
    control
};

class ZDMPRuntimeValue : public std::enable_shared_from_this<ZDMPRuntimeValue> {
  public:
    ZDMPRuntimeValue() = default;
    virtual ~ZDMPRuntimeValue() = default;
    ZDMPRuntimeValue(const ZDMPRuntimeValue&) = delete;
    ZDMPRuntimeValue& operator=(const ZDMPRuntimeValue&) = delete;

    virtual ZDMPValueKind kind() const { return ZDMPValueKind::base; }
    virtual std::u16string stringValueOrError(Error* error) const;
    virtual double doubleValueOrError(Error* error) const;
    virtual bool booleanValueOrError(Error* error) const;
    // Calls the value's method `name`; the arguments may be statements, which the callee evaluates.
    virtual ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                                       const ZDMPScopeRef& scope, Error* error);
    virtual bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const;

    // Strings, arrays, maps and functions: the operators join and order these as texts.
    bool isStringLike() const;

    // "toString", else code 17: what values without methods of their own answer.
    ZDMPValueRef applyBaseRule(const std::u16string& name, Error* error) const;

    // The values and scopes this value holds, for the reclaimer's walk.
    virtual void collectReferences(ZDMPReferences&) const {}
    // Lets go of everything held, to break a cycle nothing reachable holds.
    virtual void releaseReferences() {}
};

// Values that can hold others (maps, arrays, functions) register with the reclaimer of the run
// that makes them, so that cycles among them can be freed.
class ZDMPTrackedValue : public ZDMPRuntimeValue {
  public:
    ZDMPTrackedValue();
    ~ZDMPTrackedValue() override;

  private:
    std::shared_ptr<ZDMPReclaimer> reclaimer_;
};

class ZDMPUndefinedValue final : public ZDMPRuntimeValue {
  public:
    static const ZDMPValueRef& sharedInstance();
    ZDMPValueKind kind() const override { return ZDMPValueKind::undefined; }
    std::u16string stringValueOrError(Error*) const override { return u"undefined"; }
    double doubleValueOrError(Error*) const override;
    bool booleanValueOrError(Error*) const override { return false; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;
};

class ZDMPNullValue final : public ZDMPRuntimeValue {
  public:
    static const ZDMPValueRef& sharedInstance();
    ZDMPValueKind kind() const override { return ZDMPValueKind::null; }
    std::u16string stringValueOrError(Error*) const override { return u"null"; }
    double doubleValueOrError(Error*) const override { return 0; }
    bool booleanValueOrError(Error*) const override { return false; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;
};

class ZDMPBooleanValue final : public ZDMPRuntimeValue {
  public:
    // The shared true or false value; no other boolean values are made.
    static const ZDMPValueRef& booleanValueWithBool(bool value);
    explicit ZDMPBooleanValue(bool value) : value_(value) {}
    bool value() const { return value_; }
    ZDMPValueKind kind() const override { return ZDMPValueKind::boolean; }
    std::u16string stringValueOrError(Error*) const override { return value_ ? u"true" : u"false"; }
    double doubleValueOrError(Error*) const override { return value_ ? 1 : 0; }
    bool booleanValueOrError(Error*) const override { return value_; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList&, const ZDMPScopeRef&,
                               Error* error) override {
        return applyBaseRule(name, error);
    }
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;

  private:
    bool value_;
};

class ZDMPNumberValue final : public ZDMPRuntimeValue {
  public:
    static ZDMPValueRef make(double value) { return std::make_shared<ZDMPNumberValue>(value); }
    explicit ZDMPNumberValue(double value) : value_(value) {}
    double value() const { return value_; }
    ZDMPValueKind kind() const override { return ZDMPValueKind::number; }
    std::u16string stringValueOrError(Error* error) const override;
    double doubleValueOrError(Error*) const override { return value_; }
    bool booleanValueOrError(Error*) const override;
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList&, const ZDMPScopeRef&,
                               Error* error) override {
        return applyBaseRule(name, error);
    }
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;

  private:
    double value_;
};

class ZDMPStringValue final : public ZDMPRuntimeValue {
  public:
    // A new string value; fails with code 18 (and yields undefined) when the text's units would
    // pass the run's allocation budget.
    static ZDMPValueRef make(std::u16string text, Error* error);
    explicit ZDMPStringValue(std::u16string value) : value_(std::move(value)) {}
    const std::u16string& value() const { return value_; }
    ZDMPValueKind kind() const override { return ZDMPValueKind::string; }
    std::u16string stringValueOrError(Error*) const override { return value_; }
    double doubleValueOrError(Error*) const override;
    bool booleanValueOrError(Error*) const override { return !value_.empty(); }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;

  private:
    std::u16string value_;
};

// An unevaluated command: its code (or a called function's name) and its unevaluated arguments.
class ZDMPStatementValue final : public ZDMPRuntimeValue {
  public:
    ZDMPStatementValue(std::u16string functionName, ZDMPValueList arguments)
        : functionName_(std::move(functionName)), arguments_(std::move(arguments)) {}
    const std::u16string& functionName() const { return functionName_; }
    const ZDMPValueList& arguments() const { return arguments_; }
    ZDMPValueKind kind() const override { return ZDMPValueKind::statement; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList&, const ZDMPScopeRef&,
                               Error* error) override {
        return applyBaseRule(name, error);
    }
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;

  private:
    std::u16string functionName_;
    ZDMPValueList arguments_;
};

// Break, continue and return travel outward as these until a construct consumes them.
class ZDMPControlValue final : public ZDMPRuntimeValue {
  public:
    enum class Type { breakType, continueType, returnType };
    static const ZDMPValueRef& breakValue();
    static const ZDMPValueRef& continueValue();
    static ZDMPValueRef returnValueWithData(ZDMPValueRef data);
    // A missing datum is stored as undefined.
    ZDMPControlValue(Type type, ZDMPValueRef data);
    Type controlType() const { return type_; }
    std::u16string type() const;
    const ZDMPValueRef& data() const { return data_; }
    ZDMPValueKind kind() const override { return ZDMPValueKind::control; }
    void collectReferences(ZDMPReferences& references) const override;
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList&, const ZDMPScopeRef&,
                               Error* error) override {
        return applyBaseRule(name, error);
    }
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;

  private:
    Type type_;
    ZDMPValueRef data_;
};

inline const ZDMPValueRef& ZDMPUndefined() {
    return ZDMPUndefinedValue::sharedInstance();
}
inline const ZDMPValueRef& ZDMPNull() {
    return ZDMPNullValue::sharedInstance();
}
inline const ZDMPValueRef& ZDMPBoolean(bool value) {
    return ZDMPBooleanValue::booleanValueWithBool(value);
}

// Code `code` in `error`, and the undefined value every failing operation yields.
const ZDMPValueRef& ZDMPFail(Error* error, ZDMPErrorCode code);

// Exactly the same class, then: numbers and booleans by their doubles (NaN equals nothing), strings
// by text, everything else by identity.
bool ZDMPStrictlyEqual(const ZDMPRuntimeValue& a, const ZDMPRuntimeValue& b, Error* error);

// The type-of name: "boolean", "function", "number", "string", "undefined", else "object".
std::u16string ZDMPTypeOfName(const ZDMPRuntimeValue& value);

// The value as class T, or nullptr.
template <class T>
T* ZDMPAs(const ZDMPValueRef& value) {
    return dynamic_cast<T*>(value.get());
}
