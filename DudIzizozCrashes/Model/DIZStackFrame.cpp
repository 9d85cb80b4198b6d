#include "DudIzizozCrashes/Model/DIZStackFrame.h"

std::optional<Dictionary> DIZStackFrame::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "address", address_);
    DIZSetIfPresent(dictionary, "code", code_);
    DIZSetIfPresent(dictionary, "className", className_);
    DIZSetIfPresent(dictionary, "methodName", methodName_);
    DIZSetIfPresent(dictionary, "lineNumber", lineNumber_);
    DIZSetIfPresent(dictionary, "fileName", fileName_);
    return dictionary;
}

bool DIZStackFrame::isEqual(const DIZStackFrame& other) const {
    return address_ == other.address_ && code_ == other.code_ && className_ == other.className_ &&
           methodName_ == other.methodName_ && lineNumber_ == other.lineNumber_ &&
           fileName_ == other.fileName_;
}

void DIZStackFrame::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(address_), "address");
    coder.encodeObject(DIZArchived(code_), "code");
    coder.encodeObject(DIZArchived(className_), "className");
    coder.encodeObject(DIZArchived(methodName_), "methodName");
    coder.encodeObject(DIZArchived(lineNumber_), "lineNumber");
    coder.encodeObject(DIZArchived(fileName_), "fileName");
}

bool DIZStackFrame::initWithCoder(KeyedUnarchiver& coder) {
    address_ = coder.decodeString("address");
    code_ = coder.decodeString("code");
    className_ = coder.decodeString("className");
    methodName_ = coder.decodeString("methodName");
    lineNumber_ = DIZDecodeNumber(coder, "lineNumber");
    fileName_ = coder.decodeString("fileName");
    return true;
}
