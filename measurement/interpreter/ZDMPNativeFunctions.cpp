#include "measurement/interpreter/ZDMPNativeFunctions.h"

#include <cmath>
#include <limits>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPReclaimer.h"
#include "measurement/interpreter/ZDMPRuntime.h"
#include "measurement/interpreter/ZDMPRuntimeEntityConverter.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

ZDMPValueRef failed(Error* error, Error&& failure) {
    setError(error, std::move(failure));
    return ZDMPUndefined();
}

// Truncated toward zero, values beyond the 64-bit range at the nearest bound; NaN the lowest, so
// that it counts as "other" and not as a level of the table.
int64_t integer64(double x) {
    return std::isnan(x) ? std::numeric_limits<int64_t>::min() : ZDMPInt64Part(x);
}

}  // namespace

void ZDMPDynamicProvider::setModuleCreator(ZDMPModuleCreator creator, const std::u16string& name) {
    creators_[name] = std::move(creator);
}

ZDMPValueRef ZDMPDynamicProvider::moduleForName(const std::u16string& name, Error* error) const {
    const auto found = creators_.find(name);
    if (found == creators_.end()) return ZDMPUndefined();
    ZDMPValueRef module = found->second ? found->second() : nullptr;
    if (!module) ZDMPSetError(error, ZDMPErrorCode::moduleCreatorFailed);
    return module;
}

ZDMPNativeFunction::ZDMPNativeFunction(std::u16string name)
    : ZDMPFunctionValue(std::move(name), {}, {}, ZDMPScope::initWithParentScope(nullptr)) {}

ZDMPRequire::ZDMPRequire(std::shared_ptr<ZDMPDynamicProvider> provider)
    : ZDMPNativeFunction(u"require"), provider_(std::move(provider)) {}

ZDMPValueRef ZDMPRequire::invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                              Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 1, error)) return ZDMPUndefined();
    Error failure;
    const ZDMPValueRef value = ZDMPEvaluator::evaluateStatement(arguments[0], scope, &failure);
    const std::u16string name = ZDMPFailed(failure) ? u"" : value->stringValueOrError(&failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    if (const auto cached = modules_.find(name); cached != modules_.end()) return cached->second;
    ZDMPValueRef module = provider_->moduleForName(name, &failure);
    if (ZDMPFailed(failure) || !module) return failed(error, std::move(failure));
    // An unknown name caches undefined: a creator registered later is not seen by this runtime.
    modules_[name] = module;
    return module;
}

void ZDMPRequire::collectReferences(ZDMPReferences& references) const {
    ZDMPFunctionValue::collectReferences(references);
    for (const auto& [name, module] : modules_) references.values.push_back(module.get());
}

void ZDMPRequire::releaseReferences() {
    ZDMPFunctionValue::releaseReferences();
    auto modules = std::move(modules_);
    modules_.clear();
}

ZDMPRuntimePlatform::ZDMPRuntimePlatform() : ZDMPNativeFunction(u"internal.platform") {
    setValue(std::make_shared<ZDMPFunctionGetVersion>(), u"getVersion");
}

ZDMPValueRef ZDMPRuntimePlatform::invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) {
    return ZDMPUndefined();
}

ZDMPValueRef ZDMPFunctionGetVersion::invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) {
    return ZDMPNumberValue::make(static_cast<double>(ZDMPRuntime::runtimeVersion()));
}

ZDMPObjectProvider::ZDMPObjectProvider(std::u16string name, std::function<Value()> block)
    : ZDMPNativeFunction(std::move(name)), block_(std::move(block)) {}

ZDMPValueRef ZDMPObjectProvider::invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&,
                                                     Error* error) {
    Error failure;
    ZDMPValueRef value =
        ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(block_ ? block_() : Value(), &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return value;
}

ZDMPKeyValueStore::ZDMPKeyValueStore(std::u16string name, ZDMPGetValueBlock block)
    : ZDMPNativeFunction(std::move(name)) {
    setValue(std::make_shared<ZDMPKeyValueStoreGetValue>(std::move(block)), u"getValue");
}

ZDMPKeyValueStoreGetValue::ZDMPKeyValueStoreGetValue(ZDMPGetValueBlock block)
    : ZDMPNativeFunction(u"getValue"), block_(std::move(block)) {}

ZDMPValueRef ZDMPKeyValueStoreGetValue::invokeWithArguments(const ZDMPValueList& arguments,
                                                            const ZDMPScopeRef& scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 2, error)) return ZDMPUndefined();
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    const std::u16string key = ZDMPFailed(failure) ? u"" : values[0]->stringValueOrError(&failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    const std::optional<std::u16string> answer = block_ ? block_(key) : std::nullopt;
    if (!answer) return values[1];
    return ZDMPStringValue::make(*answer, error);
}

ZDMPixieLogger::ZDMPixieLogger(std::shared_ptr<ZDMMonitor> monitor) : monitor_(std::move(monitor)) {}

int64_t ZDMPixieLogger::monitorLevel(int64_t level, bool silent, bool monitored) {
    switch (level) {
        case 2:
            return 8;
        case 3:
            return 7;
        case 5:
            return silent ? 5 : (monitored ? 4 : 3);
        case 6:
            return silent ? 2 : (monitored ? 1 : 0);
        default:
            return 6;
    }
}

void ZDMPixieLogger::logWithLevel(int64_t level, const std::u16string& message,
                                  const std::vector<std::u16string>& context, bool silent, bool monitored) {
    Value::Array contexts;
    for (const auto& text : context) contexts.push_back(Value(ZDMPUtf8(text)));
    const std::shared_ptr<ZDMMonitor> monitor = monitor_ ? monitor_ : ZDMMeasurement::monitor();
    monitor->logWithContexts(monitorLevel(level, silent, monitored), kMessageCode, ZDMPUtf8(message),
                             contexts);
}

ZDMPFunctionLog::ZDMPFunctionLog(std::shared_ptr<ZDMPLoggerDelegate> logger, bool silent, bool monitored)
    : ZDMPNativeFunction(u"log"), logger_(std::move(logger)), silent_(silent), monitored_(monitored) {}

ZDMPValueRef ZDMPFunctionLog::invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                                  Error* error) {
    if (!ZDMPEvaluator::hasAtLeast(arguments, 1, error)) return ZDMPUndefined();
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    int64_t level = 4;
    std::u16string message;
    std::vector<std::u16string> context;
    if (values.size() == 1) {
        message = values[0]->stringValueOrError(&failure);
    } else {
        level = integer64(ZDMPIntegerPart(values[0]->doubleValueOrError(&failure)));
        if (!ZDMPFailed(failure)) message = values[1]->stringValueOrError(&failure);
        for (size_t i = 2; i < values.size() && i < 5 && !ZDMPFailed(failure); ++i)
            context.push_back(values[i]->stringValueOrError(&failure));
    }
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    if (logger_) logger_->logWithLevel(level, message, context, silent_, monitored_);
    return ZDMPUndefined();
}

ZDMPFunctionLogVariant::ZDMPFunctionLogVariant(std::u16string name,
                                               const std::shared_ptr<ZDMPLoggerDelegate>& logger, bool silent,
                                               bool monitored)
    : ZDMPNativeFunction(std::move(name)) {
    setValue(std::make_shared<ZDMPFunctionLog>(logger, silent, monitored), u"log");
}

ZDMPValueRef ZDMPFunctionLogVariant::invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) {
    return std::static_pointer_cast<ZDMPRuntimeValue>(shared_from_this());
}

ZDMPMessageLogger::ZDMPMessageLogger(const std::shared_ptr<ZDMPLoggerDelegate>& logger)
    : ZDMPNativeFunction(u"internal.logger") {
    setValue(std::make_shared<ZDMPFunctionLog>(logger, false, true), u"log");
    setValue(std::make_shared<ZDMPFunctionLogSilent>(logger), u"silent");
    setValue(std::make_shared<ZDMPFunctionLogUnmonitored>(logger), u"unmonitored");
}

ZDMPValueRef ZDMPMessageLogger::invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) {
    return ZDMPUndefined();
}
