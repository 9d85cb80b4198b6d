#include "measurement/wire/ZDMPBMessage.h"

#include <cstdlib>
#include <cstring>

#include "measurement/wire/ZDMPBCodec.h"

ZDMPBMessage::~ZDMPBMessage() {
    if (messageInfo_) zdmpb::deallocMessageInfo(type_, messageInfo_);
}

const char* ZDMPBMessage::messageID() const {
    return type_.name;
}

std::string ZDMPBMessage::className() const {
    return std::string("ZDMPB") + type_.name;
}

ZDMPBInitMessageInfoFn ZDMPBMessage::initMessageInfoFn() const {
    return type_.initMessageInfo;
}

ZDMPBDeallocMessageFieldFn ZDMPBMessage::deallocMessageFieldFn() const {
    return type_.deallocMessageField;
}

ZDMPBCopyMessageInfoFn ZDMPBMessage::copyMessageInfoFn() const {
    return type_.copyMessageInfo;
}

bool ZDMPBMessage::copyFrom(const ZDMPBMessageInfo* info) {
    if (info) {
        if (!info->name || std::strcmp(info->name, type_.name) != 0) return false;
        return zdmpb::copyMessageInfo(type_, &messageInfo_, info);
    }
    messageInfo_ = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    return messageInfo_ && zdmpb::initMessageInfo(type_, messageInfo_);
}

bool ZDMPBMessage::decodeFrom(const uint8_t* bytes, size_t length) {
    auto* decoded = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    if (!decoded) return false;
    const bool ok = zdmpb::initMessageInfo(type_, decoded) && zdmpb::decode(type_, bytes, length, decoded) &&
                    copyFrom(decoded);
    zdmpb::deallocMessageInfo(type_, decoded);
    return ok;
}

std::optional<Data> ZDMPBMessage::protoBuffer() const {
    if (!messageInfo_) return std::nullopt;
    uint8_t* buffer = nullptr;
    const int32_t length = zdmpb::encode(type_, messageInfo_, &buffer);
    if (length < 0 || !buffer) return std::nullopt;
    Data data(buffer, buffer + length);
    std::free(buffer);
    return data;
}
