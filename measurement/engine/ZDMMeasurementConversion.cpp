// On-device conversion measurement: the engine drives the optional client component through a
// query, its retries and its answer; the component alone knows how the value is encoded.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMPrivateSetMembershipClient.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Runtime.h"

using zdm_engine::log;

namespace {
constexpr const char* kValueName = "_psmvalue";
constexpr const char* kEmailCountName = "_psmcount";
constexpr const char* kPhoneCountName = "_psmcountph";
constexpr const char* kDebugArgument = "-DebugOnDeviceConversionMeasurement";

std::string decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%0.f", value);
    return text;
}
}  // namespace

std::shared_ptr<const ZDMPrivateSetMembershipClientClass> ZDMMeasurement::PSMClientClass() const {
    return std::dynamic_pointer_cast<const ZDMPrivateSetMembershipClientClass>(
        Runtime::classNamed(ZDMPrivateSetMembershipClientClass::kClassName));
}

void ZDMMeasurement::checkPSMDependencyOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("checkPSMDependencyOnWorkerQueue");
    if (PSMClientClass()) {
        log(7, 23253,
            "ZizodaDidAdirezaridoOnDeviceConversion dependency is linked. On-device conversion measurement "
            "is "
            "ready to initiate.");
        return;
    }
    const auto db = database();
    if (!db) return;
    if (db->containsUserAttributeWithName(kEmailCountName).value_or(false) ||
        db->containsUserAttributeWithName(kPhoneCountName).value_or(false))
        log(4, 23254,
            "ZizodaDidAdirezaridoOnDeviceConversion dependency is not currently linked. On-device conversion "
            "measurement will fail to initiate.");
}

void ZDMMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("maybeDeleteExpiredPSMValueOnWorkerQueue");
    const auto db = database();
    if (!db) return;
    const auto match = db->userAttributeWithName(kValueName);
    if (!match || std::fabs(Clock::current().now() - match->lastSetTimestamp()) < kPSMValueLifetime) return;
    removeUserAttributeOnWorkerQueue(match);
    for (const char* name : {kEmailCountName, kPhoneCountName})
        if (const auto count = db->userAttributeWithName(name)) removeUserAttributeOnWorkerQueue(count);
}

bool ZDMMeasurement::shouldRetrievePSMResponse() {
    if (!PSMClientClass()) {
        log(1, 23233,
            "Failed to initiate on-device conversion measurement. ZizodaDidAdirezaridoOnDeviceConversion "
            "dependency not linked in.");
        return false;
    }
    const auto config = remoteConfigInstance();
    if (!config || !config->PSMFeatureEnabled()) return false;
    if (isPSMRequestInProgress_) {
        log(1, 23235,
            "Failed to initiate on-device conversion measurement. Request to query data set for on-device "
            "conversion measurement already in progress.");
        return false;
    }
    if (PSMStartCount_ >= config->maxPSMStartCount()) {
        log(1, 23236, "Failed to initiate on-device conversion measurement. Exceeded limit per app run.");
        return false;
    }
    const auto db = database();
    if (db && db->containsUserAttributeWithName(kValueName).value_or(false)) {
        log(1, 23237, "Failed to initiate on-device conversion measurement. Found existing match.");
        return false;
    }
    if (PSMRetryCount_ >= config->maxPSMRetryCount()) {
        log(1, 23238, "Failed to initiate on-device conversion measurement. Exceeded retry limit.");
        return false;
    }
    return true;
}

bool ZDMMeasurement::shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress) {
    if (emailAddress.empty()) {
        log(1, 23234, "Failed to initiate on-device conversion measurement. Email address was empty.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool ZDMMeasurement::shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber) {
    if (phoneNumber.empty()) {
        log(1, 23239, "Failed to initiate on-device conversion measurement. Phone number was empty.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

std::shared_ptr<ZDMPrivateSetMembershipClient> ZDMMeasurement::PSMClientWithEmailAddress(
    const std::string& emailAddress) {
    const auto clientClass = PSMClientClass();
    const auto id = identity();
    return clientClass ? clientClass->initWithEmailAddress(emailAddress, id ? id->appID() : appID_) : nullptr;
}

std::shared_ptr<ZDMPrivateSetMembershipClient> ZDMMeasurement::PSMClientWithPhoneNumber(
    const std::string& phoneNumber) {
    const auto clientClass = PSMClientClass();
    const auto id = identity();
    return clientClass ? clientClass->initWithPhoneNumber(phoneNumber, id ? id->appID() : appID_) : nullptr;
}

void ZDMMeasurement::setUserDataOnWorkerQueue(const Dictionary& userData) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("setUserDataOnWorkerQueue:");
    const auto text = [&userData](const char* key) -> std::optional<std::string> {
        const Value* value = userData.find(key);
        if (!value || !value->asString()) return std::nullopt;
        return *value->asString();
    };
    if (const auto emailAddress = text("email_address");
        emailAddress && shouldRetrievePSMResponseWithEmailAddress(*emailAddress))
        privateSetMembershipClient_ = PSMClientWithEmailAddress(*emailAddress);
    if (!privateSetMembershipClient_) {
        if (const auto phoneNumber = text("phone_number");
            phoneNumber && shouldRetrievePSMResponseWithPhoneNumber(*phoneNumber))
            privateSetMembershipClient_ = PSMClientWithPhoneNumber(*phoneNumber);
    }
    if (!privateSetMembershipClient_) return;
    PSMRetryCount_ = 0;
    ++PSMStartCount_;
    retrievePSMResponse();
    log(7, 23225, "Initiated on-device conversion measurement");
}

void ZDMMeasurement::retrievePSMResponse() {
    const auto client = privateSetMembershipClient_;
    if (!client) return;
    const auto requestURL = client->PSMRequestURLWithRetryCount(PSMRetryCount_);
    if (!requestURL || requestURL->empty()) {
        log(1, 23227, "URL to query data set for on-device conversion measurement is invalid");
        return;
    }
    const bool isPhone = client->inputType() == ZDMPrivateSetMembershipClient::kInputTypePhoneNumber;
    const std::string countName = isPhone ? kPhoneCountName : kEmailCountName;
    std::string url = *requestURL;
    int64_t storedCount = 0;
    if (const auto db = database())
        if (const auto count = db->userAttributeWithName(countName); count && count->value())
            storedCount = count->value()->int64Value();
    url += std::string("&") + (isPhone ? "psm_phone_count" : "psm_count") + "=" + std::to_string(storedCount);

    const double firstOpenSeconds =
        static_cast<double>(persistedConfig_->firstOpenTimestampMilliseconds()) / 1000;
    if (firstOpenSeconds > 0) {
        const double wholeMinute = std::floor(std::floor(firstOpenSeconds) / 60) * 60;
        url += "&timestamp_first_open=" + decimal(wholeMinute + 60);
    }

    const auto monitor = ZDMMeasurement::monitor();
    if ((monitor->isDebugModeEnabled() || monitor->isVerboseLoggingEnabled()) && !ZDMAEU::isFAS()) {
        const auto arguments = ProcessInfo::arguments();
        const auto debugKey = client->debugKey();
        if (debugKey && std::find(arguments.begin(), arguments.end(), kDebugArgument) != arguments.end())
            url += "&debug_psm_key=" + *debugKey;
    }

    if (!isNetworkReadyForRequest()) {
        log(7, 23232,
            "Network operation is pending. Request to query data set for on-device conversion measurement "
            "postponed.");
        isPSMRequestPostponed_ = true;
        return;
    }
    if (PSMRetryAlarm_) PSMRetryAlarm_->cancel();
    isPSMRequestInProgress_ = true;
    setIsNetworkRequestPending(true);
    if (!network_) {
        handlePSMResponseOnWorkerQueue(countName, 0, std::nullopt,
                                       Error{"ZDMMeasurement", 0, "No network component"});
        return;
    }
    network_->setTimeoutInterval(remoteConfigInstance()->networkTimeout());
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    network_->getURL(url, std::nullopt, scheduler_->workerQueue(), shouldUseBackgroundSession(),
                     [weakSelf, countName](std::shared_ptr<const HTTPURLResponse> response,
                                           std::optional<Data> data, std::optional<Error> error) {
                         if (const auto self = weakSelf.lock())
                             self->handlePSMResponseOnWorkerQueue(
                                 countName, response ? response->statusCode : 0, data, error);
                     });
}

void ZDMMeasurement::handlePSMResponseOnWorkerQueue(const std::string& countName, long statusCode,
                                                    const std::optional<Data>& body,
                                                    const std::optional<Error>& error) {
    setIsNetworkRequestPending(false);
    incrementPSMCountOnWorkerQueueWithName(countName);
    const bool succeeded = !error && (statusCode == 200 || statusCode == 204 || statusCode == 304);
    if (!succeeded) {
        monitor()->logWithLevel(
            1, 23228,
            "Failed to query data set for on-device conversion measurement. Will retry later. Code, error",
            Value(static_cast<int64_t>(statusCode)), error ? ErrorObject::value(*error) : Value());
        isPSMRequestInProgress_ = false;
        maybeSchedulePSMRetry();
        updateSchedule();
        return;
    }
    const auto value = privateSetMembershipClient_
                           ? privateSetMembershipClient_->parsedPSMValueFromResponse(body.value_or(Data{}))
                           : std::nullopt;
    if (value && !value->empty()) {
        log(7, 23229, "On-device conversion measurement found a match");
        handlePSMValueOnWorkerQueue(*value);
    } else {
        log(7, 23230,
            "On-device conversion measurement did not find a match. Will try again given new user data.");
    }
    isPSMRequestInProgress_ = false;
    privateSetMembershipClient_.reset();
    updateSchedule();
}

void ZDMMeasurement::maybeSchedulePSMRetry() {
    const int32_t attempt = PSMRetryCount_;
    PSMRetryCount_ = attempt + 1;
    const auto config = remoteConfigInstance();
    if (!config || PSMRetryCount_ >= config->maxPSMRetryCount()) {
        log(4, 23231, "On-device conversion measurement failed to find a match. Reached retry limit.");
        return;
    }
    if (!PSMRetryAlarm_) PSMRetryAlarm_ = ZDMAlarm::make(scheduler_->workerQueue(), kPSMRetryAlarmName);
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    PSMRetryAlarm_->runAfterDelay(
        [weakSelf] {
            if (const auto self = weakSelf.lock()) self->retrievePSMResponse();
        },
        config->PSMRetryInterval() * std::pow(2.0, attempt));
}

void ZDMMeasurement::handlePSMValueOnWorkerQueue(const std::string& value) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("handlePSMValueOnWorkerQueue:");
    if (value.empty()) return;
    const double now = Clock::current().now();
    setUserAttributeOnWorkerQueue(
        ZDMUserAttribute::initWithOrigin("auto", kValueName, ZDMValue::initWithString(Value(value)), now));
    const auto event = ZDMEvent::initWithOrigin(
        "auto", false, "_fx", now, 0, Dictionary{{"_fxs", Value(ZDMValue::initWithString(Value("psm")))}});
    if (!event) return;
    event->setRealtime(true);
    writeEventOnWorkerQueue(event);
}

void ZDMMeasurement::incrementPSMCountOnWorkerQueueWithName(const std::string& name) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("incrementPSMCountOnWorkerQueueWithName:");
    const auto db = database();
    int64_t count = 0;
    if (db)
        if (const auto stored = db->userAttributeWithName(name); stored && stored->value())
            count = stored->value()->int64Value();
    setUserAttributeOnWorkerQueue(ZDMUserAttribute::initWithOrigin(
        "auto", name, ZDMValue::initWithInt64(count + 1), Clock::current().now()));
}
