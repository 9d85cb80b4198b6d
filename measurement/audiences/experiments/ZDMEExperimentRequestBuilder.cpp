#include "measurement/audiences/experiments/ZDMEExperimentRequestBuilder.h"

#include <algorithm>
#include <cctype>

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zazavaroveridiz/ZIZAppEnvironmentUtil.h"

namespace {
constexpr int32_t kAppProperty = 0;
constexpr int32_t kClientProperties = 1;
constexpr int32_t kPlatform = 0;
constexpr int32_t kLanguage = 3;
constexpr int32_t kBundleID = 4;
constexpr int32_t kAppStore = 5;
constexpr int32_t kLibraryVersion = 6;

constinit SharedInstance<ZDMEExperimentRequestBuilder> sharedBuilder;
}  // namespace

std::shared_ptr<ZDMEExperimentRequestBuilder> ZDMEExperimentRequestBuilder::sharedInstance() {
    return sharedBuilder.get();
}

void ZDMEExperimentRequestBuilder::addSDKProperty(const std::shared_ptr<ZDMESDKProperty>& property) {
    if (!property) {
        ZDMEManager::monitor()->logWithLevel(2, 880000, "Cannot add an empty SDK property.");
        return;
    }
    clientPropertyBySDKName_.set(property->name(), property);
}

std::shared_ptr<ZDMPBAppProperty> ZDMEExperimentRequestBuilder::appPropertyProto() const {
    auto message = ZDMPBAppProperty::initWithBuffer(nullptr);
    if (!message) return nullptr;
    ZDMPBSetString(message.get(), kPlatform, "macos");
    const auto languages = Locale::preferredLanguages();
    if (!languages.empty()) {
        std::string language = languages.front();
        std::transform(language.begin(), language.end(), language.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        ZDMPBSetString(message.get(), kLanguage, language);
    }
    if (auto bundle = Bundle::mainBundle())
        ZDMPBSetString(message.get(), kBundleID, bundle->bundleIdentifier());
    ZDMPBSetBool(message.get(), kAppStore, ZIZAppEnvironmentUtil::isFromAppStore());
    ZDMPBSetInt64(message.get(), kLibraryVersion, ZDMEManager::version());
    return message;
}

std::shared_ptr<ZDMPBExperimentRequest> ZDMEExperimentRequestBuilder::request() const {
    auto message = ZDMPBExperimentRequest::initWithBuffer(nullptr);
    if (!message) return nullptr;
    Value::Array clientProperties;
    for (const auto& property : clientPropertyBySDKName_.values())
        if (auto clientProperty = property->proto())
            clientProperties.emplace_back(Value::ObjectPtr(clientProperty));
    if (!clientProperties.empty()) ZDMPBSetArray(message.get(), kClientProperties, clientProperties);
    if (auto appProperty = appPropertyProto())
        ZDMPBSetMessage(message.get(), kAppProperty, appProperty.get());
    return message;
}
