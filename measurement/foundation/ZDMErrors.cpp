#include "measurement/foundation/ZDMErrors.h"

Error zdm_errorWithCode(int64_t code, const std::string& description) {
    return zdm_errorWithCode(code, description, std::string());
}

Error zdm_errorWithCode(int64_t code, const std::string& description, const std::string& monitorContext) {
    Dictionary userInfo;
    if (!description.empty()) userInfo.set(kNSLocalizedDescriptionKey, description);
    if (!monitorContext.empty()) userInfo.set(kZDMMonitorContextKey, monitorContext);
    return Error(kZDMErrorDomain, code, description, Value(std::move(userInfo)));
}

void ZDMSetError(Error* error, int64_t code, const std::string& description) {
    setError(error, zdm_errorWithCode(code, description));
}

void ZDMSetErrorWithContext(Error* error, int64_t code, const std::string& description,
                            const std::string& context) {
    setError(error, zdm_errorWithCode(code, description, context));
}

bool ZDMCheckConditionOrSetError(bool condition, Error* error, int64_t code, const std::string& description) {
    if (!condition) ZDMSetError(error, code, description);
    return condition;
}

bool ZDMCheckObjectOrSetError(const Value& object, Error* error, int64_t code,
                              const std::string& description) {
    return ZDMCheckConditionOrSetError(!object.isNull(), error, code, description);
}

bool ZDMCheckHandleOrSetError(const void* handle, Error* error, int64_t code,
                              const std::string& description) {
    return ZDMCheckConditionOrSetError(handle != nullptr, error, code, description);
}

bool ZDMCheckLengthOrSetError(uint64_t length, Error* error, int64_t code, const std::string& description) {
    return ZDMCheckConditionOrSetError(length != 0, error, code, description);
}
