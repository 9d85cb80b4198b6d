#include "measurement/interpreter/ZDMPRuntime.h"

#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPRuntimeEntityConverter.h"
#include "measurement/interpreter/ZDMPScope.h"

ZDMPRuntime::ZDMPRuntime()
    : initScope_(ZDMPScope::initWithParentScope(nullptr)),
      globalScope_(initScope_->createChildScope()),
      provider_(std::make_shared<ZDMPDynamicProvider>()),
      require_(std::make_shared<ZDMPRequire>(provider_)) {
    resetInstructionCount();
    provider_->setModuleCreator([] { return std::make_shared<ZDMPRuntimePlatform>(); }, u"internal.platform");
    globalScope_->addValue(require_, u"require");
}

void ZDMPRuntime::setModuleCreator(ZDMPModuleCreator creator, const std::u16string& name) {
    provider_->setModuleCreator(std::move(creator), name);
}

ZDMPRuntime::~ZDMPRuntime() {
    initScope_->budget().reclaimer()->releaseAll();
    require_->releaseReferences();
}

void ZDMPRuntime::reclaimUnreachable(const ZDMPValueList& roots) {
    ZDMPReferences references;
    references.scopes.push_back(globalScope_.get());
    references.values.push_back(require_.get());
    for (const auto& root : roots) references.values.push_back(root.get());
    initScope_->budget().reclaimer()->reclaimUnreachable(references);
}

size_t ZDMPRuntime::liveScopeCount() const {
    return initScope_->budget().reclaimer()->liveScopeCount();
}

size_t ZDMPRuntime::liveValueCount() const {
    return initScope_->budget().reclaimer()->liveValueCount();
}

ZDMPValueRef ZDMPRuntime::executeStatements(
    const std::vector<std::shared_ptr<const ZDMPBRuntimeEntity>>& entities, Error* error) {
    ZDMPValueRef result = ZDMPUndefined();
    for (const auto& entity : entities) {
        Error failure;
        const ZDMPValueRef value =
            ZDMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(entity.get(), &failure);
        if (!ZDMPFailed(failure)) result = ZDMPEvaluator::evaluateStatement(value, globalScope_, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return ZDMPUndefined();
        }
    }
    return result;
}

ZDMPScopeRef ZDMPRuntime::getRunScope() {
    return globalScope_->createChildScope();
}

int32_t ZDMPRuntime::getInstructionCount(Error*) const {
    return ZDMPToInt32(static_cast<double>(initScope_->budget().instructionCount()));
}

void ZDMPRuntime::resetInstructionCount() {
    initScope_->budget().reset();
}
