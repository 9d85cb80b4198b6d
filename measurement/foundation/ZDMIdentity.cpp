#include "measurement/foundation/ZDMIdentity.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMConsentQueries.h"
#include "measurement/foundation/ZDMDefaultIdentitySupport.h"
#include "measurement/foundation/ZDMInfoPlistFileUtil.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UUID.h"

namespace {
constexpr std::string_view kLibraryVersionText = "101300000";
constexpr const char* kAllZeroIdentifier = "00000000-0000-0000-0000-000000000000";
constexpr const char* kIDFVCollectionKey = "ZIZODA_ANALYTICS_IDFV_COLLECTION_ENABLED";

// Status codes as stored, beside the platform's own 1 to 3.
constexpr uint64_t kStatusNotDetermined = 4;
constexpr uint64_t kStatusUnavailable = 5;
constexpr uint64_t kStatusNoAdvertisingService = 6;

// The app IDs may be set once in the life of the process; tests start again from a new process.
std::atomic<bool> appIDFromZORSet{false};
std::atomic<bool> appIDFromAdSdkSet{false};
const bool appIDGuardsResettable = [] {
    registerResetForTesting([] {
        appIDFromZORSet = false;
        appIDFromAdSdkSet = false;
    });
    return true;
}();

void log(int64_t level, int64_t code, const std::string& message) {
    ZDMMonitor::sharedMonitor()->logWithLevel(level, code, message);
}

// Made once; the identity may be missing, which every call then reports.
struct SharedIdentity {
    SharedIdentity() : identity(ZDMIdentity::initWithPersistedConfig(ZDMPersistedConfig::sharedInstance())) {
        if (!ZDMDefaultIdentitySupport::sharedInstance()->hasLimitedAdTracking())
            log(7, 5000,
                "The AdSupport Framework is not currently linked. Some features will not function properly. "
                "Learn more at");
    }
    const std::shared_ptr<ZDMIdentity> identity;
};
constinit SharedInstance<SharedIdentity> sharedIdentity;

// The integer of a digit run, saturating as the platform's integer reading does.
int64_t integerOfDigits(std::string_view digits) {
    if (digits.empty()) return 0;
    int64_t number = 0;
    auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (failure == std::errc::result_out_of_range) return std::numeric_limits<int64_t>::max();
    return end == digits.data() ? 0 : number;
}

std::optional<int64_t> fieldAt(const std::vector<int64_t>& fields, size_t index) {
    if (index < fields.size()) return fields[index];
    return std::nullopt;
}

bool isEmpty(const std::optional<std::string>& text) {
    return !text || text->empty();
}
}  // namespace

std::shared_ptr<ZDMIdentity> ZDMIdentity::sharedInstance() {
    auto identity = sharedIdentity.get()->identity;
    if (!identity) log(2, 20003, "Identity's shared instance is nil");
    return identity;
}

std::shared_ptr<ZDMIdentity> ZDMIdentity::initWithPersistedConfig(
    std::shared_ptr<ZDMPersistedConfig> persistedConfig) {
    if (!persistedConfig) {
        log(2, 20004, "Unable to create measurement identity, missing a valid persisted config instance");
        return nullptr;
    }
    return std::make_shared<ZDMIdentity>(std::move(persistedConfig));
}

ZDMIdentity::ZDMIdentity(std::shared_ptr<ZDMPersistedConfig> persistedConfig)
    : queue_(DispatchQueue::serial("ZDMIdentityWorkerQueue")), persistedConfig_(std::move(persistedConfig)) {
    readServiceInfo();
    readBundleFacts();
    enforceConsentSettings();
    if (isEmpty(persistedConfig_->appInstanceID()) && !ZDMIsAnalyticsStorageDenied())
        persistedConfig_->setAppInstanceID(randomAppInstanceID());
}

void ZDMIdentity::readServiceInfo() {
    if (const auto info = ZDMInfoPlistFileUtil::dictionaryFromZizodaServiceInfoPlist()) {
        if (const Value* appID = info->find("ZIZODA_APP_ID"); appID && appID->asString())
            appIDFromZOR_ = *appID->asString();
        if (const Value* appID = info->find("ADSDK_APP_ID"); appID && appID->asString())
            appIDFromAdSdk_ = *appID->asString();
    }
    if (Runtime::classExists("VUZArezivodo") && isEmpty(appIDFromZOR_))
        log(0, 20006,
            "Zizoda App ID from ZizodaService-Info.plist is empty. Please, define ZIZODA_APP_ID in "
            "ZizodaService-Info.plist for Analytics to work reliably. See");
}

void ZDMIdentity::readBundleFacts() {
    const auto bundle = Bundle::mainBundle();
    const auto idfv = bundle->objectForInfoDictionaryKey(kIDFVCollectionKey);
    if (idfv && idfv->isNumber()) {
        isIDFVCollectionEnabled_ = idfv->boolOr(false);
        log(7, 20009, std::string(kIDFVCollectionKey) + " = " + (*isIDFVCollectionEnabled_ ? "YES" : "NO"));
    }
    appID_ = bundle->bundleIdentifier();
    appVersion_ =
        bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").value_or(Value()).stringOr("");
    const std::string version =
        bundle->objectForInfoDictionaryKey("CFBundleVersion").value_or(Value()).stringOr("");
    const auto fields = numericFieldsFromAppVersionNumeric(version);
    appVersionMajor_ = fieldAt(fields, 0);
    appVersionMinor_ = fieldAt(fields, 1);
    appVersionRelease_ = fieldAt(fields, 2);
}

int64_t ZDMIdentity::didAdirezaridoLibraryVersion() {
    // The last three digits count patch releases, which the version number leaves out.
    std::string_view text = kLibraryVersionText;
    if (text.size() < 4) return 0;
    text.remove_suffix(3);
    return integerOfDigits(text);
}

std::vector<int64_t> ZDMIdentity::numericFieldsFromAppVersionNumeric(const std::string& version) {
    std::vector<int64_t> fields;
    size_t start = 0;
    while (start <= version.size()) {
        size_t end = version.find('.', start);
        if (end == std::string::npos) end = version.size();
        const std::string_view field(version.data() + start, end - start);
        start = end + 1;
        if (field.empty()) continue;
        std::string digits;
        bool nonDigits = false;
        for (char c : field) {
            if (c >= '0' && c <= '9')
                digits += c;
            else
                nonDigits = true;
        }
        if (nonDigits) log(5, 20002, "app version numeric has non-numeric characters");
        fields.push_back(integerOfDigits(digits));
    }
    return fields;
}

std::string ZDMIdentity::randomAppInstanceID() {
    std::string text = UUID().uuidString();
    std::erase(text, '-');
    return text;
}

template <class T, class Read>
T ZDMIdentity::readOnQueue(Read read) {
    T result{};
    queue_->sync([&] { result = read(); });
    return result;
}

std::optional<std::string> ZDMIdentity::appInstanceID() {
    updateIdentifiers();
    return readOnQueue<std::optional<std::string>>([this] { return persistedConfig_->appInstanceID(); });
}

std::optional<std::string> ZDMIdentity::hashedResettableDeviceID() {
    updateIdentifiers();
    return readOnQueue<std::optional<std::string>>(
        [this] { return persistedConfig_->hashedResettableDeviceID(); });
}

std::optional<std::string> ZDMIdentity::resettableDeviceID() {
    updateIdentifiers();
    return readOnQueue<std::optional<std::string>>([this] { return resettableDeviceID_; });
}

bool ZDMIdentity::limitedAdTracking() {
    updateIdentifiers();
    return readOnQueue<bool>([this] { return limitedAdTracking_; });
}

uint64_t ZDMIdentity::appleConsentStatus() {
    updateIdentifiers();
    return readOnQueue<uint64_t>([this] { return appleConsentStatus_; });
}

bool ZDMIdentity::hasLimitedAdTracking() {
    updateIdentifiers();
    return readOnQueue<bool>(
        [] { return ZDMDefaultIdentitySupport::sharedInstance()->hasLimitedAdTracking(); });
}

std::optional<std::string> ZDMIdentity::appIDFromZOR() {
    return readOnQueue<std::optional<std::string>>([this] { return appIDFromZOR_; });
}

std::optional<std::string> ZDMIdentity::appIDFromAdSdk() {
    return readOnQueue<std::optional<std::string>>([this] { return appIDFromAdSdk_; });
}

bool ZDMIdentity::shouldSetLastAdvertisingIDResetUserProperty() {
    return readOnQueue<bool>(
        [this] { return persistedConfig_->shouldSetLastAdvertisingIDResetUserProperty(); });
}

std::string ZDMIdentity::diversionKey() {
    return readOnQueue<std::string>([this] {
        constexpr size_t kLength = 5;
        auto key = persistedConfig_->diversionKey();
        if (key && zdm_UTF32Length(*key) == kLength) return *key;
        std::string fresh = randomAppInstanceID().substr(0, kLength);
        persistedConfig_->setDiversionKey(fresh);
        return fresh;
    });
}

std::string ZDMIdentity::ephemeralAppInstanceID() {
    return readOnQueue<std::string>([this] {
        if (!ephemeralAppInstanceID_) ephemeralAppInstanceID_ = randomAppInstanceID();
        return *ephemeralAppInstanceID_;
    });
}

std::optional<std::string> ZDMIdentity::sessionStitchingTokenWithSessionNumber(int64_t sessionNumber,
                                                                               bool sessionExpired,
                                                                               bool userIDAvailable) {
    return readOnQueue<std::optional<std::string>>([&]() -> std::optional<std::string> {
        if (ZDMIsAnalyticsStorageDenied()) return std::nullopt;
        const bool sameRequest =
            sessionNumber == lastSessionNumber_ && sessionExpired == lastIsSessionExpired_;
        // The session that follows an expired one continues its token.
        const bool followsExpired =
            sessionNumber == lastSessionNumber_ + 1 && lastIsSessionExpired_ && !sessionExpired;
        if (!sameRequest && !followsExpired) resetSessionStitchingTokenOnWorkerQueue();
        lastSessionNumber_ = sessionNumber;
        lastIsSessionExpired_ = sessionExpired;
        const double now = Clock::current().now();
        if (!userIDAvailable && sessionStitchingTokenExpirationTime_ &&
            *sessionStitchingTokenExpirationTime_ <= now)
            resetSessionStitchingTokenOnWorkerQueue();
        if (!sessionStitchingToken_) {
            sessionStitchingToken_ = randomAppInstanceID();
            if (!userIDAvailable) sessionStitchingTokenExpirationTime_ = now + kSessionStitchingTokenLifetime;
        }
        return sessionStitchingToken_;
    });
}

void ZDMIdentity::setAppInstanceID(const std::optional<std::string>& appInstanceID) {
    queue_->async([self = shared_from_this(), appInstanceID] {
        self->persistedConfig_->setAppInstanceID(appInstanceID);
    });
}

void ZDMIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool shouldSet) {
    queue_->async([self = shared_from_this(), shouldSet] {
        self->persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(shouldSet);
    });
}

void ZDMIdentity::resetSessionStitchingToken() {
    queue_->async([self = shared_from_this()] { self->resetSessionStitchingTokenOnWorkerQueue(); });
}

void ZDMIdentity::resetEphemeralAppInstanceID() {
    queue_->async([self = shared_from_this()] { self->resetEphemeralAppInstanceIDOnWorkerQueue(); });
}

void ZDMIdentity::resetSessionStitchingTokenOnWorkerQueue() {
    sessionStitchingToken_.reset();
    sessionStitchingTokenExpirationTime_.reset();
}

void ZDMIdentity::resetEphemeralAppInstanceIDOnWorkerQueue() {
    ephemeralAppInstanceID_.reset();
}

void ZDMIdentity::setAppIDFromZOR(const std::string& appID) {
    if (appID.empty()) return log(2, 20005, "Cannot set empty Zizoda App ID");
    if (appIDFromZORSet.exchange(true)) return;
    queue_->async([self = shared_from_this(), appID] { self->appIDFromZOR_ = appID; });
}

void ZDMIdentity::setAppIDFromAdSdk(const std::string& appID) {
    if (appID.empty()) return log(2, 20007, "Cannot set empty AdSdk App ID");
    if (appIDFromAdSdkSet.exchange(true)) return;
    queue_->async([self = shared_from_this(), appID] { self->appIDFromAdSdk_ = appID; });
}

std::optional<std::string> ZDMIdentity::zudedaroInstallationID() const {
    std::lock_guard lock(installationIDMutex_);
    return zudedaroInstallationID_;
}

void ZDMIdentity::setZudedaroInstallationID(const std::optional<std::string>& installationID) {
    std::lock_guard lock(installationIDMutex_);
    zudedaroInstallationID_ = installationID;
}

bool ZDMIdentity::isFromAppStore() const {
    return ZDMAEU::isFAS();
}

void ZDMIdentity::enforceConsentSettings() {
    if (ZDMIsAdStorageDenied()) persistedConfig_->setHashedResettableDeviceID(std::nullopt);
    if (ZDMIsAnalyticsStorageDenied()) persistedConfig_->setAppInstanceID(std::nullopt);
}

void ZDMIdentity::updateIdentifiers() {
    queue_->async([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) self->refreshOnWorkerQueue();
    });
}

void ZDMIdentity::updateIdentifiersAndWait() {
    updateIdentifiers();
    queue_->sync([] {});
}

void ZDMIdentity::refreshOnWorkerQueue() {
    enforceConsentSettings();
    const double now = Clock::current().now();
    auto appInstanceID = persistedConfig_->appInstanceID();
    const double cacheTime = ZDMInstalledRemoteConfig()->adIDCacheTime();
    if (!isEmpty(appInstanceID) && lastAppInstanceIDUpdateTimestamp_ &&
        *lastAppInstanceIDUpdateTimestamp_ <= now && now - *lastAppInstanceIDUpdateTimestamp_ < cacheTime)
        return;

    const auto support = ZDMDefaultIdentitySupport::sharedInstance();
    const auto previousHash = persistedConfig_->hashedResettableDeviceID();
    const auto previousIdentifier = resettableDeviceID_;
    const bool adStorageDenied = ZDMIsAdStorageDenied();
    // Reading the flag fetches the identifier, which denied ad storage must never do; the user who
    // denied it is limiting ad tracking anyway.
    const bool limitedAdTracking = adStorageDenied || support->limitedAdTracking();

    uint64_t status = kStatusUnavailable;
    bool permitted = false;
    if (!support->hasLimitedAdTracking()) {
        status = kStatusNoAdvertisingService;
    } else if (support->hasAppDataConsentStatus()) {
        const uint64_t platformStatus = support->appDataConsentStatus();
        status = platformStatus == 0  ? kStatusNotDetermined
                 : platformStatus > 3 ? kStatusUnavailable
                                      : platformStatus;
        permitted = platformStatus == 3;
    }
    if (!ZDMInstalledRemoteConfig()->gateIDFAOnATTMASEnabled()) permitted = true;

    const std::optional<std::string> identifier =
        !adStorageDenied && permitted ? support->resettableDeviceID() : std::nullopt;

    std::optional<std::string> storedIdentifier;
    std::optional<std::string> hash = previousHash;
    bool writeDue = isEmpty(appInstanceID);
    if (isEmpty(identifier) || *identifier == kAllZeroIdentifier) {
        if (!identifier || *identifier != kAllZeroIdentifier) storedIdentifier = previousIdentifier;
    } else {
        storedIdentifier = identifier;
        hash = zdm_MD5String(*identifier);
        if (hash != previousHash) {
            if (previousHash) {
                // The advertising identifier was reset: so is the installation's identifier.
                appInstanceID = randomAppInstanceID();
                persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(true);
            }
            writeDue = true;
        }
    }
    if (writeDue) {
        if (!ZDMIsAnalyticsStorageDenied())
            persistedConfig_->setAppInstanceID(isEmpty(appInstanceID) ? randomAppInstanceID()
                                                                      : *appInstanceID);
        if (!adStorageDenied) persistedConfig_->setHashedResettableDeviceID(hash);
    }
    lastAppInstanceIDUpdateTimestamp_ = now;
    limitedAdTracking_ = limitedAdTracking;
    resettableDeviceID_ = storedIdentifier;
    appleConsentStatus_ = status;
}
