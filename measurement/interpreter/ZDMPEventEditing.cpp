#include "measurement/interpreter/ZDMPEventEditing.h"

#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEventNativeFunctions.h"
#include "measurement/interpreter/ZDMPScope.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

constexpr int32_t kInstructionsField = 0;
constexpr int32_t kActivitiesField = 1;
constexpr int32_t kActivityListField = 0;
constexpr int32_t kActivityNameField = 0;
constexpr int32_t kActivityEntitiesField = 1;

template <class T>
std::vector<std::shared_ptr<const T>> messagesOf(const NANOMessageBase* message, int32_t index) {
    std::vector<std::shared_ptr<const T>> out;
    const auto elements = ZDMPBGetArray(message, index, &T::messageClass());
    for (const Value& element : elements.value_or(Value::Array{}))
        if (auto object = element.objectAs<T>()) out.push_back(std::move(object));
    return out;
}

}  // namespace

ZDMPEventEditing::ZDMPEventEditing() : ZDMPEventEditing(std::make_shared<ZDMPRuntime>()) {}

ZDMPEventEditing::ZDMPEventEditing(std::shared_ptr<ZDMPRuntime> runtime)
    : runtime_(std::move(runtime)),
      eventContext_(std::make_shared<ZDMPEventContext>()),
      callbackHandler_(std::make_shared<ZDMPEditingCallbackHandler>()) {
    runtime_->setModuleCreator(
        [handler = callbackHandler_] {
            return std::make_shared<ZDMPRegisterCallbackNativeFunctionValue>(handler);
        },
        u"internal.registerCallback");
    runtime_->setModuleCreator(
        [context = eventContext_] { return std::make_shared<ZDMPEventLogger>(context); },
        u"internal.eventLogger");
}

ZDMPEventEditing::~ZDMPEventEditing() {
    // The callbacks hold scopes that hold "require", whose cache holds the registering module,
    // which holds this handler: drop the callbacks so that the runtime's teardown frees it all.
    callbackHandler_->removeAllCallbacks();
}

void ZDMPEventEditing::setModuleCreator(ZDMPModuleCreator creator, const std::u16string& name) {
    runtime_->setModuleCreator(std::move(creator), name);
}

bool ZDMPEventEditing::loadProgram(const ZDMPBProgram& program, Error* error) {
    const ZDMPRunBudget::Activation activation(&runtime_->globalScope()->budget());
    Error failure;
    const ZDMPValueKind last =
        runtime_->executeStatements(messagesOf<ZDMPBRuntimeEntity>(&program, kInstructionsField), &failure)
            ->kind();
    if (!ZDMPFailed(failure) && last == ZDMPValueKind::control)
        ZDMPSetError(&failure, ZDMPEventEditingErrorCode::programEndsInControlValue);
    if (!ZDMPFailed(failure)) {
        if (const auto activities = ZDMPBGetMessage<ZDMPBOgtActivities>(&program, kActivitiesField)) {
            for (const auto& activity : messagesOf<ZDMPBOgtActivity>(activities.get(), kActivityListField))
                if (!loadActivityData(*activity, &failure)) break;
        }
    }
    reclaim();
    if (!ZDMPFailed(failure)) return true;
    setError(error, std::move(failure));
    return false;
}

bool ZDMPEventEditing::loadActivityData(const ZDMPBOgtActivity& activity, Error* error) {
    const std::u16string name = ZDMPUtf16(ZDMPBGetString(&activity, kActivityNameField).value_or(""));
    for (const auto& entity : messagesOf<ZDMPBRuntimeEntity>(&activity, kActivityEntitiesField)) {
        Error failure;
        const ZDMPValueRef rule = runtime_->executeStatements({entity}, &failure);
        if (!ZDMPFailed(failure) && rule->kind() != ZDMPValueKind::map)
            ZDMPSetError(&failure, ZDMPEventEditingErrorCode::activityNotAMap);
        if (!ZDMPFailed(failure)) registerRuleWithName(name, rule, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return false;
        }
    }
    return true;
}

bool ZDMPEventEditing::registerRuleWithName(const std::u16string& name, const ZDMPValueRef& rule,
                                            Error* error) {
    const ZDMPScopeRef scope = runtime_->getRunScope();
    const auto function = std::dynamic_pointer_cast<ZDMPFunctionValue>(scope->valueForName(name));
    if (!function) {
        ZDMPSetError(error, ZDMPEventEditingErrorCode::activityNotAFunction);
        return false;
    }
    Error failure;
    function->invokeWithArguments({rule}, scope, &failure);
    if (!ZDMPFailed(failure)) return true;
    setError(error, std::move(failure));
    return false;
}

bool ZDMPEventEditing::handleEvent(const std::shared_ptr<ZDMPEvent>& event, Error* error) {
    eventContext_->setInputEvent(event);
    runtime_->resetInstructionCount();
    // Makes what the run creates outside any statement (the callbacks' argument) the run's own.
    const ZDMPRunBudget::Activation activation(&runtime_->globalScope()->budget());
    Error failure;
    callbackHandler_->triggerCallbacksWithScope(runtime_->getRunScope(), eventContext_, &failure);
    reclaim();
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return false;
    }
    return !eventContext_->outputEvent()->isEqualToEvent(*event) || hasCreatedEvents();
}

bool ZDMPEventEditing::hasEdits() const {
    return !eventContext_->outputEvent()->isEqualToEvent(*eventContext_->inputEvent());
}

bool ZDMPEventEditing::hasCreatedEvents() const {
    return !eventContext_->eventsToLog().empty();
}

void ZDMPEventEditing::reclaim() {
    ZDMPValueList callbacks;
    callbackHandler_->forEachCallback([&](const ZDMPValueRef& callback) { callbacks.push_back(callback); });
    runtime_->reclaimUnreachable(callbacks);
}
