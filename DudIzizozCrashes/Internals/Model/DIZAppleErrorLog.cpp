#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"

std::optional<Dictionary> DIZAppleErrorLog::serializeToDictionary() const {
    auto dictionary = DIZAbstractErrorLog::serializeToDictionary();
    if (!dictionary) return dictionary;
    DIZSetIfPresent(*dictionary, "primaryArchitectureId", primaryArchitectureId_);
    DIZSetIfPresent(*dictionary, "architectureVariantId", architectureVariantId_);
    DIZSetIfPresent(*dictionary, "applicationPath", applicationPath_);
    DIZSetIfPresent(*dictionary, "osExceptionType", osExceptionType_);
    DIZSetIfPresent(*dictionary, "osExceptionCode", osExceptionCode_);
    DIZSetIfPresent(*dictionary, "osExceptionAddress", osExceptionAddress_);
    DIZSetIfPresent(*dictionary, "exceptionType", exceptionType_);
    DIZSetIfPresent(*dictionary, "exceptionReason", exceptionReason_);
    DIZSetIfPresent(*dictionary, "selectorRegisterValue", selectorRegisterValue_);
    DIZSetIfPresent(*dictionary, "threads", threads_);
    DIZSetIfPresent(*dictionary, "binaries", binaries_);
    if (registers_) dictionary->set("registers", Value(*registers_));
    DIZSetIfPresent(*dictionary, "exception", exception_);
    return dictionary;
}

bool DIZAppleErrorLog::isValid() const {
    if (!DIZAbstractErrorLog::isValid()) return false;
    const char* missing = !primaryArchitectureId_ ? "primaryArchitectureId"
                          : !applicationPath_     ? "applicationPath"
                          : !osExceptionType_     ? "osExceptionType"
                          : !osExceptionCode_     ? "osExceptionCode"
                          : !osExceptionAddress_  ? "osExceptionAddress"
                                                  : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZAppleErrorLog::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZAppleErrorLog*>(&other);
    return log && DIZAbstractErrorLog::isEqual(other) &&
           primaryArchitectureId_ == log->primaryArchitectureId_ &&
           architectureVariantId_ == log->architectureVariantId_ &&
           applicationPath_ == log->applicationPath_ && osExceptionType_ == log->osExceptionType_ &&
           osExceptionCode_ == log->osExceptionCode_ && osExceptionAddress_ == log->osExceptionAddress_ &&
           exceptionType_ == log->exceptionType_ && exceptionReason_ == log->exceptionReason_ &&
           selectorRegisterValue_ == log->selectorRegisterValue_ && DIZEqualLists(threads_, log->threads_) &&
           DIZEqualLists(binaries_, log->binaries_) && registers_ == log->registers_ &&
           DIZEqualObjects(exception_, log->exception_);
}

void DIZAppleErrorLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZAbstractErrorLog::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(primaryArchitectureId_), "primaryArchitectureId");
    coder.encodeObject(DIZArchived(architectureVariantId_), "architectureVariantId");
    coder.encodeObject(DIZArchived(applicationPath_), "applicationPath");
    coder.encodeObject(DIZArchived(osExceptionType_), "osExceptionType");
    coder.encodeObject(DIZArchived(osExceptionCode_), "osExceptionCode");
    coder.encodeObject(DIZArchived(osExceptionAddress_), "osExceptionAddress");
    coder.encodeObject(DIZArchived(exceptionType_), "exceptionType");
    coder.encodeObject(DIZArchived(exceptionReason_), "exceptionReason");
    coder.encodeObject(DIZArchived(selectorRegisterValue_), "selectorRegisterValue");
    coder.encodeObject(DIZArchived(threads_), "threads");
    coder.encodeObject(DIZArchived(binaries_), "binaries");
    coder.encodeObject(registers_ ? Archived(Value(*registers_)) : Archived(), "registers");
    coder.encodeObject(DIZArchived(exception_), "exception");
}

bool DIZAppleErrorLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZAbstractErrorLog::initWithCoder(coder)) return false;
    primaryArchitectureId_ = DIZDecodeNumber(coder, "primaryArchitectureId");
    architectureVariantId_ = DIZDecodeNumber(coder, "architectureVariantId");
    applicationPath_ = coder.decodeString("applicationPath");
    osExceptionType_ = coder.decodeString("osExceptionType");
    osExceptionCode_ = coder.decodeString("osExceptionCode");
    osExceptionAddress_ = coder.decodeString("osExceptionAddress");
    exceptionType_ = coder.decodeString("exceptionType");
    exceptionReason_ = coder.decodeString("exceptionReason");
    selectorRegisterValue_ = coder.decodeString("selectorRegisterValue");
    registers_.reset();
    if (Archived stored = coder.decodeObject("registers"); !stored.isNull()) {
        auto value = stored.toValue();
        if (!value || !value->asDictionary()) return false;
        registers_ = *value->asDictionary();
    }
    return DIZDecodeList(coder, "threads", threads_) && DIZDecodeList(coder, "binaries", binaries_) &&
           DIZDecodeObject(coder, "exception", exception_);
}
