#include "DudIzizoz/Internals/Model/DIZCSExtensions.h"

std::vector<DIZCSExtensions::Slot> DIZCSExtensions::slots() const {
    return {{"metadata", "metadataExt", metadataExt_},
            {"protocol", "protocolExt", protocolExt_},
            {"user", "userExt", userExt_},
            {"device", "deviceExt", deviceExt_},
            {"os", "osExt", osExt_},
            {"app", "appExt", appExt_},
            {"net", "netExt", netExt_},
            {"sdk", "sdkExt", sdkExt_},
            {"loc", "locExt", locExt_}};
}

std::optional<Dictionary> DIZCSExtensions::serializeToDictionary() const {
    Dictionary dictionary;
    for (const auto& slot : slots()) {
        if (!slot.extension) continue;
        if (auto json = slot.extension->serializeToDictionary())
            dictionary.set(slot.key, Value(std::move(*json)));
    }
    return dictionary;
}

bool DIZCSExtensions::isValid() const {
    for (const auto& slot : slots()) {
        if (slot.extension && !slot.extension->isValid()) {
            DIZLogInvalidField(archiveClassName(), slot.name);
            return false;
        }
    }
    return true;
}

bool DIZCSExtensions::isEqual(const DIZCSExtensions& other) const {
    auto mine = slots(), theirs = other.slots();
    for (size_t i = 0; i < mine.size(); ++i) {
        if (!DIZEqualObjects(mine[i].extension, theirs[i].extension)) return false;
    }
    return true;
}

void DIZCSExtensions::encodeWithCoder(KeyedArchiver& coder) const {
    for (const auto& slot : slots())
        coder.encodeObject(slot.extension ? Archived(slot.extension) : Archived(), slot.key);
}

bool DIZCSExtensions::initWithCoder(KeyedUnarchiver& coder) {
    metadataExt_ = coder.decodeObjectOfClass<DIZMetadataExtension>("metadata");
    protocolExt_ = coder.decodeObjectOfClass<DIZProtocolExtension>("protocol");
    userExt_ = coder.decodeObjectOfClass<DIZUserExtension>("user");
    deviceExt_ = coder.decodeObjectOfClass<DIZDeviceExtension>("device");
    osExt_ = coder.decodeObjectOfClass<DIZOSExtension>("os");
    appExt_ = coder.decodeObjectOfClass<DIZAppExtension>("app");
    netExt_ = coder.decodeObjectOfClass<DIZNetExtension>("net");
    sdkExt_ = coder.decodeObjectOfClass<DIZSDKExtension>("sdk");
    locExt_ = coder.decodeObjectOfClass<DIZLocExtension>("loc");
    return true;
}
