#include "DudIzizozCrashes/Model/DIZWrapperException.h"

std::optional<Dictionary> DIZWrapperException::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "modelException", modelException_);
    DIZSetIfPresent(dictionary, "processId", processId_);
    if (exceptionData_) dictionary.set("exceptionData", Value(*exceptionData_));
    return dictionary;
}

void DIZWrapperException::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(modelException_), "modelException");
    coder.encodeObject(exceptionData_ ? Archived(Value(*exceptionData_)) : Archived(), "exceptionData");
    coder.encodeObject(DIZArchived(processId_), "processId");
}

bool DIZWrapperException::initWithCoder(KeyedUnarchiver& coder) {
    std::shared_ptr<DIZExceptionModel> modelException;
    if (!DIZDecodeObject(coder, "modelException", modelException)) return false;
    setModelException(std::move(modelException));
    Archived stored = coder.decodeObject("exceptionData");
    const Data* bytes = stored.value() ? stored.value()->asData() : nullptr;
    if (!stored.isNull() && !bytes) return false;
    setExceptionData(bytes ? std::optional<Data>(*bytes) : std::nullopt);
    setProcessId(DIZDecodeNumber(coder, "processId"));
    return true;
}
