#pragma once
// The "ext" block of a Core Schema log: one slot per standard extension, each present or not.
#include <memory>

#include "DudIzizoz/Internals/Model/DIZCSExtension.h"

class DIZCSExtensions : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    DIZ_PROPERTY(std::shared_ptr<DIZMetadataExtension>, metadataExt, MetadataExt)
    DIZ_PROPERTY(std::shared_ptr<DIZProtocolExtension>, protocolExt, ProtocolExt)
    DIZ_PROPERTY(std::shared_ptr<DIZUserExtension>, userExt, UserExt)
    DIZ_PROPERTY(std::shared_ptr<DIZDeviceExtension>, deviceExt, DeviceExt)
    DIZ_PROPERTY(std::shared_ptr<DIZOSExtension>, osExt, OsExt)
    DIZ_PROPERTY(std::shared_ptr<DIZAppExtension>, appExt, AppExt)
    DIZ_PROPERTY(std::shared_ptr<DIZNetExtension>, netExt, NetExt)
    DIZ_PROPERTY(std::shared_ptr<DIZSDKExtension>, sdkExt, SdkExt)
    DIZ_PROPERTY(std::shared_ptr<DIZLocExtension>, locExt, LocExt)

    // Always a dictionary, holding each extension that has something to write under its key.
    std::optional<Dictionary> serializeToDictionary() const override;
    bool isValid() const override;
    bool isEqual(const DIZCSExtensions& other) const;

    std::string archiveClassName() const override { return "DIZCSExtensions"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZCSExtensions", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::shared_ptr<DIZMetadataExtension> metadataExt_;
    std::shared_ptr<DIZProtocolExtension> protocolExt_;
    std::shared_ptr<DIZUserExtension> userExt_;
    std::shared_ptr<DIZDeviceExtension> deviceExt_;
    std::shared_ptr<DIZOSExtension> osExt_;
    std::shared_ptr<DIZAppExtension> appExt_;
    std::shared_ptr<DIZNetExtension> netExt_;
    std::shared_ptr<DIZSDKExtension> sdkExt_;
    std::shared_ptr<DIZLocExtension> locExt_;

    struct Slot {
        const char* key;   // JSON and archive key
        const char* name;  // field name, for the validity message
        std::shared_ptr<DIZCSExtension> extension;
    };
    std::vector<Slot> slots() const;
};
