#pragma once
// Programs built in memory for the interpreter's tests: values, statements by command code, and a
// runtime whose run scope they evaluate in.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPMapValue.h"
#include "measurement/interpreter/ZDMPRuntime.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace interpreter_test {

inline ZDMPValueRef N(double x) {
    return ZDMPNumberValue::make(x);
}
inline ZDMPValueRef S(std::u16string text) {
    return std::make_shared<ZDMPStringValue>(std::move(text));
}
inline ZDMPValueRef B(bool value) {
    return ZDMPBoolean(value);
}
inline ZDMPValueRef U() {
    return ZDMPUndefined();
}
inline ZDMPValueRef Null() {
    return ZDMPNull();
}
inline std::shared_ptr<ZDMPArrayValue> A(ZDMPValueList elements = {}) {
    return std::make_shared<ZDMPArrayValue>(std::move(elements));
}
// A statement of command `code` over the arguments as written.
inline ZDMPValueRef C(std::u16string code, ZDMPValueList arguments = {}) {
    return std::make_shared<ZDMPStatementValue>(std::move(code), std::move(arguments));
}
inline ZDMPValueRef Var(std::u16string name) {
    return C(u"15", {S(std::move(name))});
}
inline ZDMPValueRef Declare(std::u16string name) {
    return C(u"41", {S(std::move(name))});
}
inline ZDMPValueRef Assign(std::u16string name, ZDMPValueRef value) {
    return C(u"3", {S(std::move(name)), std::move(value)});
}
inline ZDMPValueRef List(ZDMPValueList statements) {
    return C(u"46", std::move(statements));
}

inline std::u16string text(const ZDMPValueRef& value) {
    return value->stringValueOrError(nullptr);
}
inline double number(const ZDMPValueRef& value) {
    return value->doubleValueOrError(nullptr);
}

// Texts quoted, holes as _, arrays as [a|b], everything else by its text.
inline std::u16string shown(const ZDMPValueRef& value) {
    if (ZDMPArrayValue::isHole(value)) return u"_";
    if (value->kind() == ZDMPValueKind::string) return u"'" + text(value) + u"'";
    if (const auto* array = ZDMPAs<ZDMPArrayValue>(value)) {
        std::u16string joined = u"[";
        for (size_t i = 0; i < array->count(); ++i) joined += (i ? u"|" : u"") + shown(array->slots()[i]);
        return joined + u"]";
    }
    return text(value);
}

// The result and the failure code (0 when none) of one evaluation.
struct Outcome {
    ZDMPValueRef value;
    int64_t code = 0;
    std::string domain;
};

// A native function whose answer C++ computes from the evaluated arguments.
class NativeFunction final : public ZDMPFunctionValue {
  public:
    using Body = std::function<ZDMPValueRef(const ZDMPValueList&)>;
    NativeFunction(std::u16string name, Body body)
        : ZDMPFunctionValue(std::move(name), {}, {}, ZDMPScope::initWithParentScope(nullptr)),
          body_(std::move(body)) {}
    ZDMPValueRef invokeWithEvaluatedArguments(const ZDMPValueList& arguments, Error*) override {
        ++calls;
        return body_(arguments);
    }
    int calls = 0;

  private:
    Body body_;
};

class Interpreter {
  public:
    Interpreter() : scope(runtime.getRunScope()) {}
    Outcome evaluate(const ZDMPValueRef& statement) {
        Error error;
        ZDMPValueRef value = ZDMPEvaluator::evaluateStatement(statement, scope, &error);
        // The interpreter's own failures carry no message; others (the regular-expression engine's)
        // pass up as they came.
        if (error.domain == kZDMPInterpreterErrorDomain) {
            EXPECT_TRUE(error.description.empty());
        }
        return {std::move(value), error.code, error.domain};
    }
    ZDMPValueRef value(const ZDMPValueRef& statement) {
        Outcome outcome = evaluate(statement);
        EXPECT_EQ(outcome.code, 0);
        return outcome.value;
    }
    ZDMPRuntime runtime;
    ZDMPScopeRef scope;
};

}  // namespace interpreter_test
