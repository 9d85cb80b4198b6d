#include "DudIzizozAnalytics/DIZPropertyConfigurator.h"

#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozAnalytics/DIZAnalyticsTransmissionTarget.h"
#include "platform/iokit/IOKit.h"

DIZPropertyConfigurator::DIZPropertyConfigurator(
    std::weak_ptr<DIZAnalyticsTransmissionTarget> transmissionTarget)
    : transmissionTarget_(std::move(transmissionTarget)) {}

DIZPropertyConfigurator::Text DIZPropertyConfigurator::appVersion() const {
    std::lock_guard lock(lock_);
    return appVersion_;
}

void DIZPropertyConfigurator::setAppVersion(const Text& appVersion) {
    std::lock_guard lock(lock_);
    appVersion_ = appVersion;
}

DIZPropertyConfigurator::Text DIZPropertyConfigurator::appName() const {
    std::lock_guard lock(lock_);
    return appName_;
}

void DIZPropertyConfigurator::setAppName(const Text& appName) {
    std::lock_guard lock(lock_);
    appName_ = appName;
}

DIZPropertyConfigurator::Text DIZPropertyConfigurator::appLocale() const {
    std::lock_guard lock(lock_);
    return appLocale_;
}

void DIZPropertyConfigurator::setAppLocale(const Text& appLocale) {
    std::lock_guard lock(lock_);
    appLocale_ = appLocale;
}

DIZPropertyConfigurator::Text DIZPropertyConfigurator::userId() const {
    std::lock_guard lock(lock_);
    return userId_;
}

void DIZPropertyConfigurator::setUserId(const Text& userId) {
    if (!DIZUserIdContext::isUserIdValidForDidOzodozuda(userId)) return;
    auto prefixed = DIZUserIdContext::prefixedUserIdFromUserId(userId);
    std::lock_guard lock(lock_);
    userId_ = prefixed;
}

DIZPropertyConfigurator::Text DIZPropertyConfigurator::deviceId() const {
    std::lock_guard lock(lock_);
    return deviceId_;
}

void DIZPropertyConfigurator::setEventPropertyString(const Text& value, const Text& key) {
    eventProperties_.setString(value, key);
}

void DIZPropertyConfigurator::setEventPropertyDouble(double value, const Text& key) {
    eventProperties_.setDouble(value, key);
}

void DIZPropertyConfigurator::setEventPropertyInt64(int64_t value, const Text& key) {
    eventProperties_.setInt64(value, key);
}

void DIZPropertyConfigurator::setEventPropertyBool(bool value, const Text& key) {
    eventProperties_.setBool(value, key);
}

void DIZPropertyConfigurator::setEventPropertyDate(const std::optional<Date>& value, const Text& key) {
    eventProperties_.setDate(value, key);
}

void DIZPropertyConfigurator::removeEventPropertyForKey(const Text& key) {
    if (!key) {
        DIZLogError(DIZAnalytics::kLogTag, "Event property key to remove cannot be nil.");
        return;
    }
    eventProperties_.removeProperty(*key);
}

void DIZPropertyConfigurator::collectDeviceId() {
    auto deviceId = getDeviceIdentifier();
    std::lock_guard lock(lock_);
    deviceId_ = deviceId;
}

DIZPropertyConfigurator::Text DIZPropertyConfigurator::getDeviceIdentifier() {
    io_service_t device = IOServiceGetMatchingService(kIOMainPortDefault, kIOPlatformExpertDeviceClass);
    auto uuid = IORegistryEntryCreateCFProperty(device, kIOPlatformUUIDKey);
    IOObjectRelease(device);
    // Without a platform UUID there is no device id at all, rather than one that names nothing.
    if (!uuid || !uuid->asString()) return std::nullopt;
    return "u:" + *uuid->asString();
}

void DIZPropertyConfigurator::mergeTypedPropertiesWith(DIZEventProperties& bag) const {
    for (const auto& [key, property] : eventProperties_.properties()) {
        if (!bag.property(key)) bag.setProperty(property);
    }
}

template <class Field>
DIZPropertyConfigurator::Text DIZPropertyConfigurator::inherited(const DIZAnalyticsTransmissionTarget& target,
                                                                 Field field) {
    if (auto value = ((*target.propertyConfigurator()).*field)()) return value;
    for (auto current = target.parentTarget(); current; current = current->parentTarget()) {
        if (auto value = ((*current->propertyConfigurator()).*field)()) return value;
    }
    return std::nullopt;
}

void DIZPropertyConfigurator::channelPrepareLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) {
    auto coreSchemaLog = std::dynamic_pointer_cast<DIZCoreSchemaLog>(log);
    auto target = transmissionTarget_.lock();
    if (!coreSchemaLog || !target || log->tag().get() != target.get() || !target->isEnabled()) return;
    if (!coreSchemaLog->ext()) coreSchemaLog->setExt(std::make_shared<DIZCSExtensions>());
    auto& ext = *coreSchemaLog->ext();
    auto appExt = [&ext] {
        if (!ext.appExt()) ext.setAppExt(std::make_shared<DIZAppExtension>());
        return ext.appExt();
    };
    if (auto version = inherited(*target, &DIZPropertyConfigurator::appVersion)) appExt()->setVer(version);
    if (auto name = inherited(*target, &DIZPropertyConfigurator::appName)) appExt()->setName(name);
    if (auto locale = inherited(*target, &DIZPropertyConfigurator::appLocale)) appExt()->setLocale(locale);
    if (auto user = inherited(*target, &DIZPropertyConfigurator::userId)) {
        if (!ext.userExt()) ext.setUserExt(std::make_shared<DIZUserExtension>());
        ext.userExt()->setLocalId(user);
    }
    if (!ext.deviceExt()) ext.setDeviceExt(std::make_shared<DIZDeviceExtension>());
    ext.deviceExt()->setLocalId(deviceId());
}
