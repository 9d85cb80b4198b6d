#include "measurement/interpreter/ZDMPEditingCallbackHandler.h"

#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPEventContext.h"
#include "measurement/interpreter/ZDMPEventNativeFunctions.h"

namespace {

constexpr int32_t kDefaultPriority = 1000;
constexpr int32_t kOutcomeDiscard = 2;
constexpr int32_t kOutcomeNotANumber = -1;

}  // namespace

void ZDMPSetError(Error* error, ZDMPEventEditingErrorCode code) {
    setError(error, Error(kZDMPEventEditingErrorDomain, static_cast<int64_t>(code)));
}

bool ZDMPEditingCallbackHandler::registerWithPriority(int32_t priority,
                                                      std::shared_ptr<ZDMPFunctionValue> callback,
                                                      const std::u16string& ruleType, Error* error) {
    if (editCallbacks_.size() + createCallbacks_.size() >= kMaximumCallbacks) {
        ZDMPSetError(error, ZDMPEventEditingErrorCode::tooManyCallbacks);
        return false;
    }
    Table* table = ruleType == u"create" ? &createCallbacks_
                   : ruleType == u"edit" ? &editCallbacks_
                                         : nullptr;
    if (!table) {
        ZDMPSetError(error, ZDMPEventEditingErrorCode::unknownRuleType);
        return false;
    }
    int64_t key = priority;
    if (table->contains(key)) key = table->rbegin()->first + 1;
    (*table)[key] = std::move(callback);
    return true;
}

bool ZDMPEditingCallbackHandler::triggerCallbacksWithScope(
    const ZDMPScopeRef& scope, const std::shared_ptr<ZDMPEventContext>& eventContext, Error* error) {
    const auto eventHandler = std::make_shared<ZDMPEventNativeFunctions>(eventContext);
    // Copies: a callback may register further callbacks while the tables are being walked.
    const Table edits = editCallbacks_;
    for (const auto& [priority, callback] : edits) {
        auto before = eventContext->outputEvent()->copy();
        Error failure;
        const int32_t outcome = invokeCallbackWithScope(scope, *callback, eventHandler, &failure);
        if (ZDMPFailed(failure)) {
            eventContext->setOutputEvent(std::move(before));
            setError(error, std::move(failure));
            return false;
        }
        if (outcome == kOutcomeDiscard || outcome == kOutcomeNotANumber)
            eventContext->setOutputEvent(std::move(before));
    }
    const Table creates = createCallbacks_;
    for (const auto& [priority, callback] : creates) {
        Error failure;
        invokeCallbackWithScope(scope, *callback, eventHandler, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return false;
        }
    }
    return true;
}

int32_t ZDMPEditingCallbackHandler::invokeCallbackWithScope(
    const ZDMPScopeRef& scope, ZDMPFunctionValue& function,
    const std::shared_ptr<ZDMPEventNativeFunctions>& eventHandler, Error* error) {
    Error failure;
    const ZDMPValueRef result = function.invokeWithArguments({eventHandler}, scope, &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return kOutcomeDiscard;
    }
    if (result->kind() != ZDMPValueKind::number) return kOutcomeNotANumber;
    return ZDMPToInt32(result->doubleValueOrError(nullptr));
}

namespace {
std::vector<int64_t> prioritiesOf(const std::map<int64_t, std::shared_ptr<ZDMPFunctionValue>>& table) {
    std::vector<int64_t> priorities;
    for (const auto& [priority, callback] : table) priorities.push_back(priority);
    return priorities;
}
}  // namespace

std::vector<int64_t> ZDMPEditingCallbackHandler::editPriorities() const {
    return prioritiesOf(editCallbacks_);
}

std::vector<int64_t> ZDMPEditingCallbackHandler::createPriorities() const {
    return prioritiesOf(createCallbacks_);
}

void ZDMPEditingCallbackHandler::forEachCallback(
    const std::function<void(const ZDMPValueRef&)>& visit) const {
    for (const Table* table : {&editCallbacks_, &createCallbacks_})
        for (const auto& [priority, callback] : *table) visit(callback);
}

void ZDMPEditingCallbackHandler::removeAllCallbacks() {
    editCallbacks_.clear();
    createCallbacks_.clear();
}

ZDMPRegisterCallbackNativeFunctionValue::ZDMPRegisterCallbackNativeFunctionValue(
    std::shared_ptr<ZDMPEditingCallbackHandler> handler)
    : ZDMPNativeFunction(u"internal.registerCallback"), callbackHandler_(std::move(handler)) {}

ZDMPValueRef ZDMPRegisterCallbackNativeFunctionValue::invokeWithArguments(const ZDMPValueList& arguments,
                                                                          const ZDMPScopeRef& scope,
                                                                          Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 3, error)) return ZDMPUndefined();
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    auto callback = std::dynamic_pointer_cast<ZDMPFunctionValue>(values[1]);
    const auto* options = ZDMPAs<ZDMPMapValue>(values[2]);
    if (!callback || !options) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    if (!options->hasProperty(u"type")) {
        ZDMPSetError(error, ZDMPEventEditingErrorCode::optionsWithoutType);
        return ZDMPUndefined();
    }
    const std::u16string ruleType = options->valueForProperty(u"type")->stringValueOrError(&failure);
    int32_t priority = kDefaultPriority;
    if (!ZDMPFailed(failure) && options->hasProperty(u"priority"))
        priority = ZDMPToInt32(options->valueForProperty(u"priority")->doubleValueOrError(&failure));
    if (!ZDMPFailed(failure))
        callbackHandler_->registerWithPriority(priority, std::move(callback), ruleType, &failure);
    if (ZDMPFailed(failure)) setError(error, std::move(failure));
    return ZDMPUndefined();
}
