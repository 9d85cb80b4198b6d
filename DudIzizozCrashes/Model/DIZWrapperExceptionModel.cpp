#include "DudIzizozCrashes/Model/DIZWrapperExceptionModel.h"

std::optional<Dictionary> DIZWrapperExceptionModel::serializeToDictionary() const {
    auto dictionary = DIZExceptionModel::serializeToDictionary();
    if (dictionary) {
        DIZSetIfPresent(*dictionary, "wrapperSdkName", wrapperSdkName_);
        DIZSetIfPresent(*dictionary, "innerExceptions", innerExceptions_);
    }
    return dictionary;
}

bool DIZWrapperExceptionModel::isEqual(const DIZExceptionModel& other) const {
    const auto* wrapper = dynamic_cast<const DIZWrapperExceptionModel*>(&other);
    return wrapper && DIZExceptionModel::isEqual(other) &&
           DIZEqualLists(innerExceptions_, wrapper->innerExceptions_) &&
           wrapperSdkName_ == wrapper->wrapperSdkName_;
}

void DIZWrapperExceptionModel::encodeWithCoder(KeyedArchiver& coder) const {
    DIZExceptionModel::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(innerExceptions_), "innerExceptions");
    coder.encodeObject(DIZArchived(wrapperSdkName_), "wrapperSdkName");
}

bool DIZWrapperExceptionModel::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZExceptionModel::initWithCoder(coder)) return false;
    wrapperSdkName_ = coder.decodeString("wrapperSdkName");
    return DIZDecodeList(coder, "innerExceptions", innerExceptions_);
}
