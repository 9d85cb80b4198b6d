#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <set>
#include <thread>
#include <vector>

#include "measurement/engine/ZDMBundleIdentifiers.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDefaultIdentitySupport.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "testing/Eventually.h"

namespace {

constexpr const char* kIdentifier = "6F1D2A3B-4C5D-4E6F-8A9B-0C1D2E3F4A5B";
constexpr const char* kOtherIdentifier = "11111111-2222-4333-8444-555555555555";
constexpr const char* kAllZero = "00000000-0000-0000-0000-000000000000";

// A platform identity implementation whose answers the test sets; it may hold the identifier back
// until released, as a slow platform would.
class FakePlatform : public ZDMIdentitySupport, public Object {
  public:
    std::string className() const override { return "FakePlatform"; }
    bool hasAppDataConsentStatus() const override { return hasStatus; }
    uint64_t appDataConsentStatus() const override { return status; }
    bool hasLimitedAdTracking() const override { return hasService; }
    bool limitedAdTracking() const override { return false; }
    std::optional<std::string> resettableDeviceID() const override {
        std::unique_lock lock(mutex_);
        ++calls_;
        released_.wait(lock, [this] { return !blocked_; });
        return identifier_;
    }
    void setIdentifier(std::optional<std::string> identifier) {
        std::lock_guard lock(mutex_);
        identifier_ = std::move(identifier);
    }
    void block() {
        std::lock_guard lock(mutex_);
        blocked_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            blocked_ = false;
        }
        released_.notify_all();
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    bool hasStatus = true;
    uint64_t status = 3;
    bool hasService = true;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable released_;
    mutable int calls_ = 0;
    bool blocked_ = false;
    std::optional<std::string> identifier_ = kIdentifier;
};

class FakePlatformClass : public RuntimeObject {
  public:
    explicit FakePlatformClass(std::shared_ptr<const Object> instance) : instance_(std::move(instance)) {}
    std::string className() const override { return "ZDMPlatformIdentitySupport"; }
    bool respondsToSelector(std::string_view selector) const override { return selector == "sharedInstance"; }
    Value perform(std::string_view) const override { return Value(instance_); }

  private:
    std::shared_ptr<const Object> instance_;
};

class Identity : public SharedMonitorFixture {
  protected:
    Identity() { Runtime::unregisterClass("ZDMPlatformIdentitySupport"); }
    ~Identity() override {
        Runtime::unregisterClass("ZDMPlatformIdentitySupport");
        Bundle::resetMainBundle();
    }

    // Registers the platform class before anything asks for the shared support.
    std::shared_ptr<FakePlatform> installPlatform() {
        auto platform = std::make_shared<FakePlatform>();
        Runtime::registerClass("ZDMPlatformIdentitySupport",
                               std::make_shared<const FakePlatformClass>(platform));
        return platform;
    }
    std::shared_ptr<ZDMIdentity> makeIdentity() { return ZDMIdentity::initWithPersistedConfig(config_); }
    static void setConsent(const char* adStorage, const char* analyticsStorage) {
        Dictionary settings;
        settings.set("ad_storage", Value(adStorage));
        settings.set("analytics_storage", Value(analyticsStorage));
        ZDMConsentSettingsUtil::setConsentSettings(settings);
    }
    static void setSetting(const char* key, const char* value) {
        auto remoteConfig = ZDMMeasurement::remoteConfig();
        if (remoteConfig->isDefaultInstance()) {
            remoteConfig = std::make_shared<ZDMRemoteConfig>("1:123:ios:abc", nullptr, nullptr);
            ZDMMeasurement::setRemoteConfigForTesting(remoteConfig);
        }
        remoteConfig->cacheValue(Value(value), key);
    }

    std::shared_ptr<ZDMPersistedConfig> config_ = std::make_shared<ZDMPersistedConfig>(
        ZDMPersistedConfig::kSuiteName, std::make_shared<ZDMUserDefaults>(ZDMPersistedConfig::kSuiteName));
};

TEST_F(Identity, WithoutThePlatformClassEverySupportQueryAnswersAbsent) {
    const auto support = ZDMDefaultIdentitySupport::sharedInstance();
    EXPECT_FALSE(support->hasAppDataConsentStatus());
    EXPECT_EQ(support->appDataConsentStatus(), ~uint64_t{0});
    EXPECT_FALSE(support->hasLimitedAdTracking());
    EXPECT_TRUE(support->limitedAdTracking());
    EXPECT_EQ(support->resettableDeviceID(), std::nullopt);
    EXPECT_TRUE(ZDMDefaultIdentitySupport::iOS14OrAbove());
}

TEST_F(Identity, AnObjectNotAdoptingTheProtocolIsNotUsed) {
    class Plain : public Object {
        std::string className() const override { return "Plain"; }
    };
    Runtime::registerClass("ZDMPlatformIdentitySupport",
                           std::make_shared<const FakePlatformClass>(std::make_shared<const Plain>()));
    EXPECT_FALSE(ZDMDefaultIdentitySupport::sharedInstance()->hasLimitedAdTracking());
}

TEST_F(Identity, ASlowPlatformYieldsNilAfterTenMillisecondsAndTheIdentifierNextTime) {
    auto platform = installPlatform();
    platform->block();
    const auto support = ZDMDefaultIdentitySupport::sharedInstance();
    std::optional<std::string> first = "unset";
    std::thread caller([&] { first = support->resettableDeviceID(); });
    ASSERT_TRUE(eventually([&] { return clock_->pendingTimers() > 0 && platform->calls() == 1; }));
    clock_->advance(0.009);
    EXPECT_EQ(clock_->pendingTimers(), 1u);
    clock_->advance(0.002);
    caller.join();
    EXPECT_EQ(first, std::nullopt);
    platform->release();
    EXPECT_EQ(support->resettableDeviceID(), kIdentifier);
    EXPECT_FALSE(support->limitedAdTracking());
}

TEST_F(Identity, AdStorageDeniedNeverAsksForTheIdentifier) {
    auto platform = installPlatform();
    config_->setHashedResettableDeviceID("0123456789abcdef0123456789abcdef");
    setConsent("denied", "granted");
    auto identity = makeIdentity();
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    EXPECT_EQ(platform->calls(), 0);
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_EQ(identity->hashedResettableDeviceID(), std::nullopt);
    EXPECT_TRUE(identity->appInstanceID());
}

TEST_F(Identity, AChangedIdentifierAfterAnOlderHashGivesANewAppInstanceID) {
    installPlatform();
    config_->setAppInstanceID("INSTANCE");
    config_->setHashedResettableDeviceID(*zdm_MD5String(kOtherIdentifier));
    auto identity = makeIdentity();
    const auto appInstanceID = identity->appInstanceID();
    ASSERT_TRUE(appInstanceID);
    EXPECT_NE(*appInstanceID, "INSTANCE");
    EXPECT_EQ(appInstanceID->size(), 32u);
    EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(identity->hashedResettableDeviceID(), zdm_MD5String(kIdentifier));
    EXPECT_EQ(identity->resettableDeviceID(), kIdentifier);
}

TEST_F(Identity, TheFirstIdentifierKeepsTheAppInstanceID) {
    installPlatform();
    config_->setAppInstanceID("INSTANCE");
    auto identity = makeIdentity();
    EXPECT_EQ(identity->appInstanceID(), "INSTANCE");
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(identity->hashedResettableDeviceID(), zdm_MD5String(kIdentifier));
}

TEST_F(Identity, TheAllZeroIdentifierClearsTheInMemoryOneAndKeepsTheHash) {
    auto platform = installPlatform();
    auto identity = makeIdentity();
    EXPECT_EQ(identity->resettableDeviceID(), kIdentifier);
    platform->setIdentifier(kAllZero);
    clock_->advance(2);
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    EXPECT_EQ(identity->hashedResettableDeviceID(), zdm_MD5String(kIdentifier));
}

TEST_F(Identity, RefreshStoresTheStatusCodes) {
    struct Case {
        bool hasService;
        bool hasStatus;
        uint64_t status;
        uint64_t stored;
    } cases[] = {{false, true, 3, 6}, {true, false, 3, 5}, {true, true, 0, 4},
                 {true, true, 2, 2},  {true, true, 3, 3},  {true, true, 7, 5}};
    for (const Case& c : cases) {
        resetAllForTesting();
        ZDMMonitor::setSharedMonitorForTesting(monitor_);
        auto platform = installPlatform();
        platform->hasService = c.hasService;
        platform->hasStatus = c.hasStatus;
        platform->status = c.status;
        EXPECT_EQ(makeIdentity()->appleConsentStatus(), c.stored) << c.status;
    }
}

TEST_F(Identity, TheGateWithholdsTheIdentifierUnlessTrackingIsAuthorised) {
    auto platform = installPlatform();
    platform->status = 2;
    setSetting("measurement.attmas_gate", "1");
    auto identity = makeIdentity();
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    EXPECT_EQ(identity->hashedResettableDeviceID(), std::nullopt);
}

TEST_F(Identity, StampsBundlesWithoutAVendorIDOnThisPlatform) {
    installPlatform();
    config_->setAppInstanceID("INSTANCE");
    auto identity = makeIdentity();
    EXPECT_EQ(identity->identifierForVendor(), std::nullopt);
    struct Case {
        const char* signals;
        std::optional<std::string> resettableDeviceID;
        std::optional<std::string> appInstanceID;
    } cases[] = {{"G111", kIdentifier, "INSTANCE"},
                 {"G101", std::nullopt, "INSTANCE"},
                 {"G110", kIdentifier, std::nullopt}};
    for (const Case& c : cases) {
        auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
        ZDMStampBundleIdentifiers(*bundle, c.signals, false, *identity);
        EXPECT_EQ(ZDMPBGetString(bundle.get(), 19), c.resettableDeviceID) << c.signals;
        EXPECT_FALSE(ZDMPBHasField(bundle.get(), 20)) << c.signals;  // the vendor ID's index
        EXPECT_EQ(ZDMPBGetString(bundle.get(), 22), c.appInstanceID) << c.signals;
        EXPECT_EQ(ZDMPBGetInt32(bundle.get(), 41), 3) << c.signals;
    }
}

TEST_F(Identity, ASecondRefreshWithinTheCacheTimeIsSkipped) {
    auto platform = installPlatform();
    setSetting("measurement.ad_id_cache_time", "60000");
    auto identity = makeIdentity();
    identity->updateIdentifiersAndWait();
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(platform->calls(), 2);  // the refresh's limited-ad-tracking read and its identifier
    clock_->advance(59);
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(platform->calls(), 2);
    clock_->advance(1);
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(platform->calls(), 4);
}

TEST_F(Identity, SessionStitchingTokensFollowTheSessionNumbers) {
    auto identity = makeIdentity();
    const auto first = identity->sessionStitchingTokenWithSessionNumber(7, true, false);
    ASSERT_TRUE(first);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(8, false, false), first);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(8, false, false), first);
    identity->sessionStitchingTokenWithSessionNumber(7, true, false);
    EXPECT_NE(identity->sessionStitchingTokenWithSessionNumber(9, false, false), first);
}

TEST_F(Identity, ATokenLapsesAfterADayOnlyWithoutAUserID) {
    auto identity = makeIdentity();
    const auto lapsing = identity->sessionStitchingTokenWithSessionNumber(1, false, false);
    clock_->advance(86399);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, false), lapsing);
    clock_->advance(1);
    EXPECT_NE(identity->sessionStitchingTokenWithSessionNumber(1, false, false), lapsing);

    identity->resetSessionStitchingToken();
    const auto lasting = identity->sessionStitchingTokenWithSessionNumber(1, false, true);
    clock_->advance(10 * 86400);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, true), lasting);
    setConsent("granted", "denied");
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, true), std::nullopt);
}

TEST_F(Identity, AFourCharacterDiversionKeyIsReplaced) {
    config_->setDiversionKey("ABCD");
    auto identity = makeIdentity();
    const std::string key = identity->diversionKey();
    EXPECT_EQ(key.size(), 5u);
    EXPECT_EQ(config_->diversionKey(), key);
    EXPECT_EQ(identity->diversionKey(), key);
}

TEST_F(Identity, VersionFieldsAreReadFromTheBundleVersion) {
    EXPECT_EQ(ZDMIdentity::numericFieldsFromAppVersionNumeric("1.2b3.4"), (std::vector<int64_t>{1, 23, 4}));
    EXPECT_EQ(lastSampledMessage(), "W:app version numeric has non-numeric characters");
    Dictionary info;
    info.set("CFBundleIdentifier", Value("com.example.app"));
    info.set("CFBundleShortVersionString", Value("2.0 beta"));
    info.set("CFBundleVersion", Value("2.0"));
    Bundle::setMainBundle(std::make_shared<Bundle>(info));
    auto identity = makeIdentity();
    EXPECT_EQ(identity->appID(), "com.example.app");
    EXPECT_EQ(identity->appVersion(), "2.0 beta");
    EXPECT_EQ(identity->appVersionMajor(), 2);
    EXPECT_EQ(identity->appVersionMinor(), 0);
    EXPECT_EQ(identity->appVersionRelease(), std::nullopt);
    EXPECT_EQ(ZDMIdentity::didAdirezaridoLibraryVersion(), 101300);
}

TEST_F(Identity, ConstructionWithoutConfigurationIsRefusedAndConsentClearsIdentifiers) {
    config_->setAppInstanceID("INSTANCE");
    setConsent("granted", "denied");
    makeIdentity();
    EXPECT_EQ(config_->appInstanceID(), std::nullopt);
    EXPECT_EQ(ZDMIdentity::initWithPersistedConfig(nullptr), nullptr);
    EXPECT_EQ(lastSampledMessage(),
              "E:Unable to create measurement identity, missing a valid persisted config instance");
}

TEST_F(Identity, AppIDsAreSetOnceAndNeverEmpty) {
    auto identity = makeIdentity();
    identity->setAppIDFromZOR("");
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set empty Zizoda App ID");
    identity->setAppIDFromZOR("1:111:ios:aaa");
    identity->setAppIDFromZOR("1:222:ios:bbb");
    identity->setAppIDFromAdSdk("");
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set empty AdSdk App ID");
    EXPECT_EQ(identity->appIDFromZOR(), "1:111:ios:aaa");
    EXPECT_EQ(identity->appIDFromAdSdk(), std::nullopt);
}

TEST_F(Identity, AdEventIDsAreDistinctAndConsecutiveAcrossThreads) {
    const auto identifiers = ZDMIdentifiers::sharedInstance();
    std::vector<std::vector<int64_t>> taken(8);
    std::vector<std::thread> threads;
    for (auto& ids : taken) {
        threads.emplace_back([&ids, identifiers] {
            for (int i = 0; i < 1000; ++i) ids.push_back(std::stoll(identifiers->adEventID()));
        });
    }
    for (auto& thread : threads) thread.join();
    std::vector<uint64_t> all;
    for (const auto& ids : taken) all.insert(all.end(), ids.begin(), ids.end());
    // Offsets from the smallest, so a start near the top of the range that wraps still counts.
    const uint64_t first = *std::min_element(all.begin(), all.end(), [&](uint64_t a, uint64_t b) {
        return a - all.front() + 8000 < b - all.front() + 8000;
    });
    std::set<uint64_t> offsets;
    for (uint64_t id : all) offsets.insert(id - first);
    EXPECT_EQ(offsets.size(), 8000u);
    EXPECT_EQ(*offsets.rbegin(), 7999u);
    EXPECT_EQ(identifiers->libraryVersion(), "101300");
}

TEST_F(Identity, IdentifiersLogWhatIsMissing) {
    const auto identifiers = ZDMIdentifiers::sharedInstance();
    identifiers->setOrigin("am");
    identifiers->setOrigin("");
    EXPECT_EQ(identifiers->origin(), "am");
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set the data collection origin. Origin cannot be empty");
    EXPECT_FALSE(ZDMMeasurement::hasSharedInstance());
    EXPECT_EQ(identifiers->zizodaAppID(), std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "E:Unable to fetch Zizoda App ID from default options");
    EXPECT_EQ(identifiers->analyticsAppID(), std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "E:Unable to fetch effective App ID from identity");
    EXPECT_TRUE(identifiers->appInstanceID());
}

}  // namespace
