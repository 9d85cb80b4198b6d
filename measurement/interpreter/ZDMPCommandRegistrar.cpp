#include "measurement/interpreter/ZDMPCommandRegistrar.h"

#include "measurement/interpreter/ZDMPBitwiseCommandEvaluator.h"
#include "measurement/interpreter/ZDMPComparisonCommandEvaluator.h"
#include "measurement/interpreter/ZDMPControlCommandEvaluator.h"
#include "measurement/interpreter/ZDMPLogicalCommandEvaluator.h"
#include "measurement/interpreter/ZDMPLoopCommandEvaluator.h"
#include "measurement/interpreter/ZDMPMathCommandEvaluator.h"
#include "measurement/interpreter/ZDMPScope.h"
#include "measurement/interpreter/ZDMPVariableCommandEvaluator.h"
#include "platform/foundation/SharedInstance.h"

namespace {

// Holds no per-run state, so it outlives every test reset as it would a process.
constinit SharedInstance<ZDMPCommandRegistrar> sharedRegistrar(TestReset::keep);

}  // namespace

std::shared_ptr<ZDMPCommandRegistrar> ZDMPCommandRegistrar::sharedInstance() {
    return sharedRegistrar.get();
}

ZDMPCommandRegistrar::ZDMPCommandRegistrar() : functionEvaluator_(std::make_shared<ZDMPFunctionEvaluator>()) {
    registerEvaluator(std::make_shared<ZDMPBitwiseCommandEvaluator>());
    registerEvaluator(std::make_shared<ZDMPComparisonCommandEvaluator>());
    registerEvaluator(std::make_shared<ZDMPControlCommandEvaluator>());
    registerEvaluator(std::make_shared<ZDMPLogicalCommandEvaluator>());
    registerEvaluator(std::make_shared<ZDMPLoopCommandEvaluator>());
    registerEvaluator(std::make_shared<ZDMPMathCommandEvaluator>());
    registerEvaluator(std::make_shared<ZDMPVariableCommandEvaluator>());
}

void ZDMPCommandRegistrar::registerEvaluator(const std::shared_ptr<ZDMPCommandEvaluator>& evaluator) {
    for (const auto& command : evaluator->allSupportedCommands()) commandEvaluators_[command] = evaluator;
}

ZDMPCommandEvaluator& ZDMPCommandRegistrar::evaluatorFor(const std::u16string& command) const {
    const auto found = commandEvaluators_.find(command);
    if (found == commandEvaluators_.end()) return *functionEvaluator_;
    return *found->second;
}

ZDMPValueRef ZDMPCommandRegistrar::evaluateStatement(const ZDMPValueRef& value, const ZDMPScopeRef& scope,
                                                     Error* error) const {
    ZDMPRunBudget& budget = scope->budget();
    if (!budget.countEvaluation(error)) return ZDMPUndefined();
    if (!value || value->kind() != ZDMPValueKind::statement) return value ? value : ZDMPUndefined();
    // The statement may sit in a list the program changes while it runs; keep it alive.
    const auto statement = std::static_pointer_cast<ZDMPStatementValue>(value);
    const ZDMPNestingGuard nesting;
    if (!nesting.entered(error)) return ZDMPUndefined();
    const ZDMPRunBudget::Activation activation(&budget);
    Error failure;
    ZDMPValueRef result =
        evaluatorFor(statement->functionName())
            .evaluateCommand(statement->functionName(), statement->arguments(), scope, &failure);
    if (!ZDMPFailed(failure)) return result;
    setError(error, std::move(failure));
    return ZDMPUndefined();
}
