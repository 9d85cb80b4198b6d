#include "measurement/audiences/experiments/ZDMESDKProperty.h"

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constexpr int32_t kSDKName = 0;
constexpr int32_t kDiversion = 1;
constexpr int32_t kSDKVersion = 2;
constexpr int32_t kAppID = 3;
constexpr int32_t kCustomProperties = 4;
constexpr int32_t kCustomKey = 0;
constexpr int32_t kCustomValue = 1;

constinit SharedInstance<ZDMESDKProperty::IdentityDiversionKey> identityDiversionKey{nullptr};

// The installation's key: the shared identity's, unless another source was installed.
std::optional<std::string> installationDiversionKey() {
    if (auto source = identityDiversionKey.get()) return (*source)();
    const auto identity = ZDMIdentity::sharedInstance();
    return identity ? std::optional(identity->diversionKey()) : std::nullopt;
}
}  // namespace

std::shared_ptr<ZDMESDKProperty> ZDMESDKProperty::initWithName(const std::string& name) {
    return std::make_shared<ZDMESDKProperty>(name);
}

int64_t ZDMESDKProperty::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

void ZDMESDKProperty::setVersion(int64_t version) {
    std::lock_guard lock(mutex_);
    version_ = version;
}

std::optional<std::string> ZDMESDKProperty::appID() const {
    std::lock_guard lock(mutex_);
    return appID_;
}

void ZDMESDKProperty::setAppID(std::optional<std::string> appID) {
    std::lock_guard lock(mutex_);
    appID_ = std::move(appID);
}

std::optional<std::string> ZDMESDKProperty::diversionKey() const {
    std::lock_guard lock(mutex_);
    return diversionKey_;
}

void ZDMESDKProperty::setDiversionKey(std::optional<std::string> diversionKey) {
    std::lock_guard lock(mutex_);
    diversionKey_ = std::move(diversionKey);
}

ZDMESDKProperty::CustomProperties ZDMESDKProperty::customProperties() const {
    std::lock_guard lock(mutex_);
    return customProperties_;
}

void ZDMESDKProperty::setCustomProperties(CustomProperties customProperties) {
    std::lock_guard lock(mutex_);
    customProperties_ = std::move(customProperties);
}

std::weak_ptr<ZDMESDKPropertyProviderDelegate> ZDMESDKProperty::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

void ZDMESDKProperty::setDelegate(std::weak_ptr<ZDMESDKPropertyProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void ZDMESDKProperty::setIdentityDiversionKey(IdentityDiversionKey source) {
    identityDiversionKey.set(source ? std::make_shared<IdentityDiversionKey>(std::move(source)) : nullptr);
}

std::shared_ptr<ZDMPBClientProperty> ZDMESDKProperty::proto() const {
    std::string key = diversionKey().value_or("");
    if (key.empty()) key = installationDiversionKey().value_or("");
    if (key.empty()) {
        ZDMEManager::monitor()->logWithLevel(1, 860001, "Diversion key is empty");
        return nullptr;
    }
    auto message = ZDMPBClientProperty::initWithBuffer(nullptr);
    if (!message) return nullptr;
    ZDMPBSetString(message.get(), kDiversion, key + "-" + name_);
    ZDMPBSetString(message.get(), kSDKName, name_);
    if (auto id = appID()) ZDMPBSetString(message.get(), kAppID, *id);
    ZDMPBSetInt64(message.get(), kSDKVersion, version());

    CustomProperties properties = customProperties();
    // The provider is called outside the lock: it may read this property back.
    if (auto provider = delegate().lock()) {
        if (auto dynamic = provider->dynamicCustomPropertiesForSDKProperty(*this))
            for (auto& [name, value] : *dynamic) properties.insert_or_assign(name, value);
    }
    if (properties.empty()) return message;
    Value::Array entries;
    for (const auto& [name, value] : properties) {
        auto entry = ZDMPBCustomProperty::initWithBuffer(nullptr);
        if (!entry) continue;
        ZDMPBSetString(entry.get(), kCustomKey, name);
        ZDMPBSetString(entry.get(), kCustomValue, value);
        entries.emplace_back(Value::ObjectPtr(entry));
    }
    ZDMPBSetArray(message.get(), kCustomProperties, entries);
    return message;
}
