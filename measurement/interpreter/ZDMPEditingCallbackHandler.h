#pragma once
// The callbacks a program registers, "edit" and "create", each run in ascending priority, and the
// native function "internal.registerCallback" through which programs register them.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPNativeFunctions.h"

class ZDMPEventContext;
class ZDMPEventNativeFunctions;

inline constexpr const char* kZDMPEventEditingErrorDomain = "com.zizoda.measurement.eventediting";

enum class ZDMPEventEditingErrorCode : int64_t {
    optionsWithoutType = 2,
    unknownRuleType = 3,
    tooManyCallbacks = 4,
    programEndsInControlValue = 5,
    activityNotAMap = 6,
    activityNotAFunction = 7,
};

void ZDMPSetError(Error* error, ZDMPEventEditingErrorCode code);

class ZDMPEditingCallbackHandler {
  public:
    static constexpr size_t kMaximumCallbacks = 1000;

    // Stores the callback under its priority; a priority already taken in that rule type's table
    // becomes the largest there plus one, so the callback runs after all registered so far.
    // Editing code 4 past kMaximumCallbacks, 3 for a rule type other than "edit" and "create".
    bool registerWithPriority(int32_t priority, std::shared_ptr<ZDMPFunctionValue> callback,
                              const std::u16string& ruleType, Error* error);
    // Edit callbacks, then create callbacks. An edit callback that fails has its changes undone
    // and stops the run; one answering 2 or a value that is no number has them undone.
    bool triggerCallbacksWithScope(const ZDMPScopeRef& scope,
                                   const std::shared_ptr<ZDMPEventContext>& eventContext, Error* error);
    // 2 on failure (with the failure set), a number's 32-bit conversion, else -1.
    int32_t invokeCallbackWithScope(const ZDMPScopeRef& scope, ZDMPFunctionValue& function,
                                    const std::shared_ptr<ZDMPEventNativeFunctions>& eventHandler,
                                    Error* error);

    // Ascending, as the callbacks run.
    std::vector<int64_t> editPriorities() const;
    std::vector<int64_t> createPriorities() const;

    void forEachCallback(const std::function<void(const ZDMPValueRef&)>& visit) const;
    // Drops every callback: the runtime's teardown breaks the cycle through the module cache.
    void removeAllCallbacks();

  private:
    // Priorities are kept in 64 bits: the largest 32-bit priority plus one must not overflow.
    using Table = std::map<int64_t, std::shared_ptr<ZDMPFunctionValue>>;
    Table editCallbacks_;
    Table createCallbacks_;
};

// "internal.registerCallback"(anything, callback, {type, priority}).
class ZDMPRegisterCallbackNativeFunctionValue final : public ZDMPNativeFunction {
  public:
    explicit ZDMPRegisterCallbackNativeFunctionValue(std::shared_ptr<ZDMPEditingCallbackHandler> handler);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                     Error* error) override;

  private:
    std::shared_ptr<ZDMPEditingCallbackHandler> callbackHandler_;
};
