#include "DudIzizoz/Internals/Model/DIZWrapperSdk.h"

const DIZWrapperSdk::Field DIZWrapperSdk::kFields[6] = {
    {"wrapperSdkVersion", &DIZWrapperSdk::wrapperSdkVersion_},
    {"wrapperSdkName", &DIZWrapperSdk::wrapperSdkName_},
    {"wrapperRuntimeVersion", &DIZWrapperSdk::wrapperRuntimeVersion_},
    {"liveUpdateReleaseLabel", &DIZWrapperSdk::liveUpdateReleaseLabel_},
    {"liveUpdateDeploymentKey", &DIZWrapperSdk::liveUpdateDeploymentKey_},
    {"liveUpdatePackageHash", &DIZWrapperSdk::liveUpdatePackageHash_},
};

DIZWrapperSdk::DIZWrapperSdk(Text wrapperSdkVersion, Text wrapperSdkName, Text wrapperRuntimeVersion,
                             Text liveUpdateReleaseLabel, Text liveUpdateDeploymentKey,
                             Text liveUpdatePackageHash)
    : wrapperSdkVersion_(std::move(wrapperSdkVersion)),
      wrapperSdkName_(std::move(wrapperSdkName)),
      wrapperRuntimeVersion_(std::move(wrapperRuntimeVersion)),
      liveUpdateReleaseLabel_(std::move(liveUpdateReleaseLabel)),
      liveUpdateDeploymentKey_(std::move(liveUpdateDeploymentKey)),
      liveUpdatePackageHash_(std::move(liveUpdatePackageHash)) {}

std::optional<Dictionary> DIZWrapperSdk::serializeToDictionary() const {
    Dictionary dictionary;
    for (const auto& field : kFields) DIZSetIfPresent(dictionary, field.key, this->*field.member);
    return dictionary;
}

bool DIZWrapperSdk::isEqual(const DIZWrapperSdk& other) const {
    for (const auto& field : kFields) {
        if (this->*field.member != other.*field.member) return false;
    }
    return true;
}

void DIZWrapperSdk::encodeWithCoder(KeyedArchiver& coder) const {
    for (const auto& field : kFields) coder.encodeObject(DIZArchived(this->*field.member), field.key);
}

bool DIZWrapperSdk::initWithCoder(KeyedUnarchiver& coder) {
    for (const auto& field : kFields) this->*field.member = coder.decodeString(field.key);
    return true;
}
