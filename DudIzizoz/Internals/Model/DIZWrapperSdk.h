#pragma once
// The outer SDK that may wrap this client (a cross-platform layer): six optional texts.
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

class DIZWrapperSdk : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    using Text = std::optional<std::string>;

    DIZWrapperSdk() = default;
    DIZWrapperSdk(Text wrapperSdkVersion, Text wrapperSdkName, Text wrapperRuntimeVersion,
                  Text liveUpdateReleaseLabel, Text liveUpdateDeploymentKey, Text liveUpdatePackageHash);

    DIZ_PROPERTY(Text, wrapperSdkVersion, WrapperSdkVersion)
    DIZ_PROPERTY(Text, wrapperSdkName, WrapperSdkName)
    DIZ_PROPERTY(Text, wrapperRuntimeVersion, WrapperRuntimeVersion)
    DIZ_PROPERTY(Text, liveUpdateReleaseLabel, LiveUpdateReleaseLabel)
    DIZ_PROPERTY(Text, liveUpdateDeploymentKey, LiveUpdateDeploymentKey)
    DIZ_PROPERTY(Text, liveUpdatePackageHash, LiveUpdatePackageHash)

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isValid() const override { return true; }
    // Same class (or a subclass) and the same fields.
    virtual bool isEqual(const DIZWrapperSdk& other) const;

    std::string archiveClassName() const override { return "DIZWrapperSdk"; }
    std::vector<std::string> archiveClassHierarchy() const override { return {"DIZWrapperSdk", "NSObject"}; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text wrapperSdkVersion_, wrapperSdkName_, wrapperRuntimeVersion_, liveUpdateReleaseLabel_,
        liveUpdateDeploymentKey_, liveUpdatePackageHash_;

    struct Field {
        const char* key;
        Text DIZWrapperSdk::*member;
    };
    static const Field kFields[6];
};
