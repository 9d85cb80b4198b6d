// The engine's smaller services: the reset that starts the user over, the session-ID query, user
// data for conversion measurement, purchase de-duplication and the store's first-open time.
#include <algorithm>
#include <utility>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMInstalledHook.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/storekit/SKPaymentTransaction.h"

using zdm_engine::isSet;
using zdm_engine::log;
using zdm_engine::logError;

namespace {
constexpr int64_t kSessionIDErrorCode = 13;

ZDMInstalledHook<ZDMMeasurement::PurchaseFingerprint>& fingerprintHook() {
    static auto* hook = new ZDMInstalledHook<ZDMMeasurement::PurchaseFingerprint>;
    return *hook;
}

std::optional<std::string> fingerprintOf(const SKPaymentTransaction& transaction) {
    const auto fingerprint = fingerprintHook().get();
    return fingerprint ? fingerprint(transaction) : std::nullopt;
}
}  // namespace

bool ZDMMeasurement::resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) {
    const bool empty = !appInstanceID || appInstanceID->empty();
    if (empty) {
        if (!ZDMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            log(1, 23167, "Cannot reset with an empty app instance ID");
            return false;
        }
        log(7, 23218, "Resetting with an empty app instance ID");
    }
    const double loadTimestamp = ZDMAnalytics::loadTimestamp();
    bool reset = false;
    scheduler_->dispatchSyncOnWorkerQueueBlockID("ZDMMeasurement:3384", [&] {
        if (!wipeoutAnalyticsDataAndResetComponents()) return;
        persistedConfig_->setAppInstanceID(empty ? std::nullopt : appInstanceID);
        updatePersistedAppIDFromZORAndAdSdk();
        log(6, 23168, "Analytics data has been reset");
        if (!isAnalyticsCollectionDeactivated_ && !ZDMAnalytics::deferredAnalyticsCollection())
            ZDMAnalytics::setDeferredAnalyticsCollection(Value(!enabled_));
        initTimestamp_ = loadTimestamp;
        persistedConfig_->setLoadTimestampValue(Value(loadTimestamp));
        if (enabled_) {
            setPersonalizedAdsUserPropertyOnWorkerQueue();
            reportFirstOpenOnWorkerQueue();
        }
        reset = true;
    });
    return reset;
}

void ZDMMeasurement::sessionIDWithCompletion(SessionIDCompletion completion) {
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    scheduler_->scheduleOnWorkerQueueBlockID(
        "ZDMMeasurement:2938", [weakSelf, completion = std::move(completion)] {
            auto fail = [&](const char* description) {
                completion(0, zdm_errorWithCode(kSessionIDErrorCode, description));
            };
            const auto self = weakSelf.lock();
            if (!self) return fail("Analytics deallocated");
            if (!self->isEnabled()) return fail("Analytics disabled");
            if (const auto reporter = self->sessionReporter(); reporter && reporter->isSessionExpired())
                return fail("Session expired");
            const auto database = self->database();
            const auto sessionID = database ? database->userAttributeWithName("_sid") : nullptr;
            if (!sessionID || !sessionID->value()) return fail("Session ID not found");
            completion(sessionID->value()->int64Value(), std::nullopt);
        });
}

void ZDMMeasurement::setUserData(const Dictionary& userData) {
    scheduleOnWorkerQueue("ZDMMeasurement:2945",
                          [userData](ZDMMeasurement& self) { self.setUserDataOnWorkerQueue(userData); });
}

void ZDMMeasurement::setPurchaseFingerprint(PurchaseFingerprint fingerprint) {
    fingerprintHook().set(std::move(fingerprint));
}

void ZDMMeasurement::filterPurchaseTransactions(const PurchaseTransactions& transactions,
                                                std::function<void(const PurchaseTransactions&)> callback) {
    scheduleOnWorkerQueue(
        "ZDMMeasurement:3786", [transactions, callback = std::move(callback)](ZDMMeasurement& self) {
            PurchaseTransactions kept;
            const auto database = self.database();
            for (const auto& transaction : transactions) {
                if (!transaction || transaction->transactionState() != SKPaymentTransactionState::purchased)
                    continue;
                const Value productID(transaction->payment().productIdentifier);
                const auto fingerprint = fingerprintOf(*transaction);
                if (!fingerprint || fingerprint->empty()) {
                    log(2, 23139,
                        "Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. "
                        "Product ID",
                        productID);
                    kept.push_back(transaction);
                    continue;
                }
                Error error;
                const auto isNew =
                    database ? database->insertIfNotDuplicatePurchaseFingerprint(*fingerprint, &error)
                             : std::optional<bool>();
                if (!isNew) {
                    log(1, 23140,
                        "Failed to save purchase fingerprint. Purchase will not be checked for duplicates. "
                        "Product ID, error",
                        productID, ErrorObject::value(error));
                    kept.push_back(transaction);
                } else if (*isNew) {
                    kept.push_back(transaction);
                } else {
                    log(4, 23141, "Purchase is a duplicate and will not be reported. Product ID", productID);
                }
            }
            if (callback) DispatchQueue::global()->async([callback, kept] { callback(kept); });
        });
}

bool ZDMMeasurement::shouldAllowAdNetworkRegistration() {
    const auto value = Bundle::mainBundle()->objectForInfoDictionaryKey(
        "ZIZODA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");
    return value && value->isNumber() ? value->boolOr(true) : true;
}

double ZDMMeasurement::firstOpenTimestamp() {
    const auto database = this->database();
    Error error;
    const auto properties = database ? database->userAttributesIncludingInternal(true, &error) : std::nullopt;
    if (!properties) {
        logError(1, 23123, "Unable to query current user properties. Error", error);
        return 0;
    }
    if (properties->empty()) {
        log(2, 23124, "Cannot extract first open timestamp. Empty user properties");
        return 0;
    }
    double earliest = (*properties)[0]->lastSetTimestamp();
    for (const auto& property : *properties) {
        if (property->name() == "_fot") return property->lastSetTimestamp();
        earliest = std::min(earliest, property->lastSetTimestamp());
    }
    return earliest;
}
