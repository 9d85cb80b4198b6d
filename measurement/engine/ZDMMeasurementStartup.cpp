// The engine's start: making its components once on the worker queue, with the wipe that an
// app-ID change or withdrawn consent calls for, and the choice of the consent in force.
#include <filesystem>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMBackwardCompatibilityUtil.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMFileMoves.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/foundation/Runtime.h"

namespace fs = std::filesystem;

using zdm_engine::isSet;
using zdm_engine::log;
using zdm_engine::logError;

namespace {
using Consent = ZDMConsentSettingsUtil;

bool present(const std::optional<std::string>& text) {
    return text && !text->empty();
}
}  // namespace

bool ZDMMeasurement::startMeasurementOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("startMeasurementOnWorkerQueue");
    {
        std::lock_guard lock(initializeComponentsLock_);
        if (!didInitializeComponents()) {
            // A failure leaves the flag down, so the next enable makes everything again from the start.
            if (!initializeComponentsOnWorkerQueue()) return false;
            setDidInitializeComponents(true);
        }
    }
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    if (ZDMAnalytics::needFirstOpenAfterReset()) {
        reportFirstOpenOnWorkerQueue();
        ZDMAnalytics::removeNeedFirstOpenAfterReset();
    }
    updateSchedule();
    if (ZDMBackwardCompatibilityUtil::disableZOVEduduruzuzo())
        log(1, 23210, "ZOVEduduruzuzo has been disabled");
    return true;
}

bool ZDMMeasurement::initializeComponentsOnWorkerQueue() {
    const auto identity = ZDMIdentity::sharedInstance();
    if (!identity) return false;
    {
        std::lock_guard lock(componentsMutex_);
        identity_ = identity;
    }

    const auto previousConsent = Consent::consentSettings();
    setProspectiveConsentSettings();
    const bool withdrawn =
        Consent::didWithdrawPreviousConsent(previousConsent ? Value(*previousConsent) : Value()) ||
        ZDMAnalytics::deferredResetOnDeniedConsent();
    ZDMAnalytics::removeStartUpConsentSettings();
    ZDMAnalytics::removeDeferredResetOnDeniedConsent();

    const bool wipe =
        shouldWipeDataWithAppID(appID_, identity->appIDFromZOR(), identity->appIDFromAdSdk(),
                                persistedConfig_->appIDFromZOR(), persistedConfig_->appIDFromAdSdk());
    if (wipe || withdrawn) {
        if (withdrawn) ZDMAnalytics::setAppInstanceIDAfterReset(std::nullopt);
        // Counted before the attempt, so that a run that dies inside the wipe makes the next one retry.
        ZDMAnalytics::setResetRetryCount(ZDMAnalytics::resetRetryCount() + 1);
        if (wipeoutAnalyticsDataAndResetComponents())
            ZDMAnalytics::setResetRetryCount(0);
        else
            log(4, 23208, "Failed to wipe out Analytics data");
    }

    identity->updateIdentifiers();
    if (const auto appInstanceID = ZDMAnalytics::appInstanceIDAfterReset(); present(appInstanceID)) {
        identity->setAppInstanceID(*appInstanceID);
        ZDMAnalytics::setAppInstanceIDAfterReset(std::nullopt);
    }
    updatePersistedAppIDFromZORAndAdSdk();

    if (!makeDatabaseOnWorkerQueue()) return false;
    auto remoteConfig = ZDMRemoteConfig::initWithAppID(appID_, database(), experimentManager_);
    if (!remoteConfig) return false;
    // The library's rules below the engine read the configuration of the engine that runs.
    ZDMInstallRemoteConfig(remoteConfig);
    auto audience = ZDMEngineAudience::initWithDatabase(database());
    if (!audience) return false;
    {
        std::lock_guard lock(componentsMutex_);
        remoteConfig_ = std::move(remoteConfig);
        audience_ = std::move(audience);
        sessionReporter_ = ZDMSessionReporter::initWithPersistedConfig(persistedConfig_);
    }

    excludeSupportDirectoryFromBackup();
    log(7, 23016, "Analytics is ready to receive events");
    monitor()->setEncodeContexts(identity->isFromAppStore());
    if (Error error; !database()->maybeDeleteStaleData(&error) && isSet(error))
        logError(5, 23018, "Unable to delete stale data. Error", error);

    checkPSMDependencyOnWorkerQueue();
    maybeDeleteExpiredPSMValueOnWorkerQueue();
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    backfillSessionNumber();
    reportFirstOpenOnWorkerQueue();
    if (ZDMUserDefaults::standardUserDefaults()->objectForKey(ZDMPersistedConfig::key("deep_link")))
        reportStoredCampaignEventOnWorkerQueue(std::nullopt);
    else if (shouldAllowRequestDeferredDeepLink())
        requestDeferredDeepLink();
    reportAppUpdateOnWorkerQueue();
    reportOSUpdateOnWorkerQueue();
    startSearchAdReporterOnWorkerQueue();
    if (persistedConfig_->zudedaroFeatureRollouts() && !isZudedaroRemoteConfigSDKPresent())
        persistedConfig_->setZudedaroFeatureRollouts(std::nullopt);
    subscribeForAppForegroundBackgroundNotifications();
    return true;
}

bool ZDMMeasurement::makeDatabaseOnWorkerQueue() {
    // A second attempt gets past a file that failed its check: the first one deleted it.
    std::shared_ptr<ZDMDatabase> database =
        ZDMDatabase::initWithDatabaseName(databaseName_, persistedConfig_);
    if (!database) database = ZDMDatabase::initWithDatabaseName(databaseName_, persistedConfig_);
    if (!database) return false;
    std::lock_guard lock(componentsMutex_);
    database_ = std::move(database);
    return true;
}

void ZDMMeasurement::excludeSupportDirectoryFromBackup() {
    const std::string directory =
        fs::path(ZDMMeasurementSupportFilePath(databaseName_)).parent_path().string();
    if (Error error; !ZDMExcludePathFromBackup(directory, &error))
        logError(5, 23015, "Failed to exclude directory from backup. Error", error);
}

bool ZDMMeasurement::isZudedaroRemoteConfigSDKPresent() const {
    return Runtime::classExists("DUVEdudovOvuvuz");
}

bool ZDMMeasurement::shouldWipeDataWithAppID(const std::optional<std::string>& appID,
                                             const std::optional<std::string>& appIDFromZOR,
                                             const std::optional<std::string>& appIDFromAdSdk,
                                             const std::optional<std::string>& persistedAppIDFromZOR,
                                             const std::optional<std::string>& persistedAppIDFromAdSdk) {
    // An earlier wipe did not finish; after ten tries the IDs alone decide.
    const int64_t retries = ZDMAnalytics::resetRetryCount();
    if (retries >= 1 && retries <= 9) return true;
    const auto& pG = persistedAppIDFromZOR;
    const auto& pA = persistedAppIDFromAdSdk;
    const auto& cG = appIDFromZOR;
    const auto& cA = appIDFromAdSdk;
    if (present(pG) && present(cG)) return *pG != *cG;
    if (present(pA) && !present(pG) && present(cG) && !present(cA)) return true;
    if (present(pA) && !present(pG) && present(cG) && present(cA) && *pA != *cA) return true;
    if (present(pG) && !present(cG) && present(cA) && !present(pA) && present(appID)) return true;
    if (!present(cG) && present(pA) && present(appID) && *appID != *pA) return true;
    return false;
}

void ZDMMeasurement::updatePersistedAppIDFromZORAndAdSdk() {
    const auto identity = this->identity();
    if (identity) {
        if (const auto current = identity->appIDFromZOR(); current != persistedConfig_->appIDFromZOR())
            persistedConfig_->setAppIDFromZOR(current);
        if (const auto current = identity->appIDFromAdSdk(); current != persistedConfig_->appIDFromAdSdk())
            persistedConfig_->setAppIDFromAdSdk(current);
    }
    const auto origin = ZDMIdentifiers::sharedInstance()->origin();
    if (origin == "za")
        persistedConfig_->setAppIDFromZOR(appID_);
    else if (origin == "am")
        persistedConfig_->setAppIDFromAdSdk(appID_);
}

void ZDMMeasurement::setProspectiveConsentSettings() {
    std::optional<Dictionary> candidate;
    int64_t source = Consent::kSourceNone;
    const Dictionary plist = Consent::consentSettingsFromPlist();
    if (!plist.empty() && Consent::isConsentSourceHigherPriority(Consent::kSourceInfoPlist)) {
        candidate = plist;
        source = Consent::kSourceInfoPlist;
    } else if (const int64_t current = Consent::consentSource();
               Runtime::classExists("VUZArezivodo") &&
               (current == Consent::kSourceApp || current == Consent::kSourceStoredOnStart)) {
        // With the analytics interface present, consent set at run time lasts one run only.
        ZDMAnalytics::clearConsent();
    } else {
        candidate = ZDMAnalytics::consentSettings3P();
        source = Consent::kSourceThirdParty;
        if (const auto onStart = ZDMAnalytics::consentSettings1PStart();
            onStart && !onStart->empty() &&
            Consent::isConsentSourceHigherPriority(Consent::kSourceStoredOnStart)) {
            candidate = onStart;
            source = Consent::kSourceStoredOnStart;
        }
    }
    if (!candidate || candidate->empty() || !Consent::isConsentSourceHigherPriority(source)) return;
    Consent::setConsentSettings(*candidate);
    Consent::setConsentSource(source);
    ZDMAnalytics::persistConsentSettings(*candidate, source);
}

void ZDMMeasurement::resetPSMCounts() {
    PSMStartCount_ = 0;
    PSMRetryCount_ = 0;
}

bool ZDMMeasurement::wipeoutAnalyticsDataAndResetComponents() {
    log(6, 23171, "Resetting the measurement engine data");
    resetPSMCounts();
    previousZORAppID_ = persistedConfig_->appIDFromZOR();
    persistedConfig_->clearValues();
    monitor()->clearMonitoringData();
    if (const auto database = this->database()) {
        if (Error error; !database->reset(&error)) {
            logError(1, 23209, "Failed to reset database", error);
            return false;
        }
        if (const auto remoteConfig = remoteConfigInstance()) remoteConfig->reset();
        auto reporter = ZDMSessionReporter::initWithPersistedConfig(persistedConfig_);
        reporter->setReportingEnabled(enabled_);
        std::lock_guard lock(componentsMutex_);
        sessionReporter_ = std::move(reporter);
    } else {
        deleteDatabaseFilesBeforeOpening();
    }
    if (const auto identity = this->identity()) {
        identity->updateIdentifiersAndWait();
        identity->resetEphemeralAppInstanceID();
        identity->resetSessionStitchingToken();
    }
    return true;
}

void ZDMMeasurement::deleteDatabaseFilesBeforeOpening() {
    const std::string path = ZDMMeasurementSupportFilePath(databaseName_);
    // A journal left beside the old file would be replayed into the new database, so it goes too.
    for (const std::string& file : {path, path + "-journal", path + "-wal", path + "-shm"}) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(file, ec))) continue;
        if (Error error; !ZDMDeleteFileAtPath(file, &error))
            logError(1, 23014, "Failed to delete old database file. Error", error);
    }
}
