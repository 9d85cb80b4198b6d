#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZUserIdPrefix.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/JSON.h"

namespace {
bool isPresent(const std::optional<std::string>& text) {
    return text && !text->empty();
}

std::optional<std::string> replacingUnderscores(std::optional<std::string> text) {
    if (text) std::replace(text->begin(), text->end(), '_', '-');
    return text;
}
}  // namespace

std::optional<DIZAbstractLog::Tokens> DIZAbstractLog::transmissionTargetTokens() const {
    std::lock_guard guard(tokensLock_);
    if (!transmissionTargetTokens_) return std::nullopt;
    return *transmissionTargetTokens_;
}

void DIZAbstractLog::setTransmissionTargetTokens(std::optional<Tokens> tokens) {
    std::lock_guard guard(tokensLock_);
    transmissionTargetTokens_ = tokens ? std::make_shared<const Tokens>(std::move(*tokens)) : nullptr;
}

void DIZAbstractLog::addTransmissionTargetToken(const std::string& token) {
    std::lock_guard guard(tokensLock_);
    auto next = transmissionTargetTokens_ ? Tokens(*transmissionTargetTokens_) : Tokens();
    next.insert(token);
    transmissionTargetTokens_ = std::make_shared<const Tokens>(std::move(next));
}

std::optional<Dictionary> DIZAbstractLog::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "type", type_);
    if (timestamp_) dictionary.set("timestamp", Value(DIZUtility::dateToISO8601(*timestamp_)));
    DIZSetIfPresent(dictionary, "sid", sid_);
    DIZSetIfPresent(dictionary, "distributionGroupId", distributionGroupId_);
    DIZSetIfPresent(dictionary, "userId", userId_);
    if (device_) {
        if (auto device = device_->serializeToDictionary())
            dictionary.set("device", Value(std::move(*device)));
    }
    return dictionary;
}

std::string DIZAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
    // The writer never escapes "/", so slashes in texts come out as they are.
    return json::write(Value(serializeToDictionary().value_or(Dictionary{})),
                       prettyPrint ? json::Style::Pretty : json::Style::Compact);
}

bool DIZAbstractLog::isValid() const {
    const char* missing = !type_                            ? "type"
                          : !timestamp_                     ? "timestamp"
                          : !device_ || !device_->isValid() ? "device"
                                                            : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZAbstractLog::isEqual(const DIZAbstractLog& other) const {
    return tag_ == other.tag_ && type_ == other.type_ && timestamp_ == other.timestamp_ &&
           sid_ == other.sid_ && distributionGroupId_ == other.distributionGroupId_ &&
           userId_ == other.userId_ && DIZEqualObjects(device_, other.device_);
}

std::optional<std::vector<std::shared_ptr<DIZCoreSchemaLog>>> DIZAbstractLog::toCoreSchemaLogsWithFlags(
    int64_t flags) const {
    std::vector<std::shared_ptr<DIZCoreSchemaLog>> logs;
    for (const auto& token : transmissionTargetTokens().value_or(Tokens{})) {
        if (auto log = toCoreSchemaLogForTargetToken(token, flags)) logs.push_back(std::move(log));
    }
    if (logs.empty()) return std::nullopt;
    return logs;
}

std::shared_ptr<DIZCoreSchemaLog> DIZAbstractLog::toCoreSchemaLogForTargetToken(const std::string& token,
                                                                                int64_t flags) const {
    auto log = std::make_shared<DIZCoreSchemaLog>();
    log->setTransmissionTargetTokens(Tokens{token});
    log->setVer("3.0");
    log->setTimestamp(timestamp_);
    log->setIKey(DIZUtility::iKeyFromTargetToken(token));
    log->setFlags(flags);

    auto ext = std::make_shared<DIZCSExtensions>();
    log->setExt(ext);
    DIZDevice none;
    const DIZDevice& device = device_ ? *device_ : none;

    auto protocolExt = std::make_shared<DIZProtocolExtension>();
    ext->setProtocolExt(protocolExt);
    protocolExt->setDevMake(device.oemName());
    protocolExt->setDevModel(device.model());

    auto userExt = std::make_shared<DIZUserExtension>();
    ext->setUserExt(userExt);
    userExt->setLocalId(DIZPrefixedUserId(userId_));
    userExt->setLocale(replacingUnderscores(device.locale()));

    auto osExt = std::make_shared<DIZOSExtension>();
    ext->setOsExt(osExt);
    osExt->setName(device.osName());
    osExt->setVer(combineOsVersion(device.osVersion(), device.osBuild()));

    auto appExt = std::make_shared<DIZAppExtension>();
    ext->setAppExt(appExt);
    if (device.appNamespace()) appExt->setAppId("I:" + *device.appNamespace());
    appExt->setVer(device.appVersion());
    auto languages = Bundle::preferredLanguages();
    if (!languages.empty()) appExt->setLocale(languages.front());

    auto netExt = std::make_shared<DIZNetExtension>();
    ext->setNetExt(netExt);
    netExt->setProvider(device.carrierName());

    auto sdkExt = std::make_shared<DIZSDKExtension>();
    ext->setSdkExt(sdkExt);
    sdkExt->setLibVer(combineSDKLibVer(device.sdkName(), device.sdkVersion()));

    auto locExt = std::make_shared<DIZLocExtension>();
    ext->setLocExt(locExt);
    locExt->setTz(convertTimeZoneOffsetToISO8601(device.timeZoneOffset().value_or(0)));

    ext->setDeviceExt(std::make_shared<DIZDeviceExtension>());
    return log;
}

DIZAbstractLog::Text DIZAbstractLog::combineOsVersion(const Text& version, const Text& build) {
    Text combined;
    if (isPresent(version)) combined = "Version " + *version;
    if (isPresent(build)) combined = (combined ? *combined + " " : std::string()) + "(Build " + *build + ")";
    return combined;
}

DIZAbstractLog::Text DIZAbstractLog::combineSDKLibVer(const Text& name, const Text& version) {
    if (!isPresent(name) || !isPresent(version)) return std::nullopt;
    return *name + "-" + *version;
}

std::string DIZAbstractLog::convertTimeZoneOffsetToISO8601(int64_t minutes) {
    // Unsigned, so the most negative offset still has an absolute value.
    uint64_t magnitude = minutes < 0 ? 0 - static_cast<uint64_t>(minutes) : static_cast<uint64_t>(minutes);
    char text[48];
    std::snprintf(text, sizeof text, "%c%02llu:%02llu", minutes < 0 ? '-' : '+',
                  static_cast<unsigned long long>(magnitude / 60),
                  static_cast<unsigned long long>(magnitude % 60));
    return text;
}

void DIZAbstractLog::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(type_), "type");
    coder.encodeObject(DIZArchived(timestamp_), "timestamp");
    coder.encodeObject(DIZArchived(sid_), "sid");
    coder.encodeObject(DIZArchived(distributionGroupId_), "distributionGroupId");
    coder.encodeObject(DIZArchived(userId_), "userId");
    coder.encodeObject(device_ ? Archived(device_) : Archived(), "device");
}

bool DIZAbstractLog::initWithCoder(KeyedUnarchiver& coder) {
    type_ = coder.decodeString("type");
    timestamp_ = coder.decodeDate("timestamp");
    sid_ = coder.decodeString("sid");
    distributionGroupId_ = coder.decodeString("distributionGroupId");
    userId_ = coder.decodeString("userId");
    device_ = coder.decodeObjectOfClass<DIZDevice>("device");
    return true;
}
