#include "measurement/engine/ZDMSearchAdReporter.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMMeasurementService.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "platform/adservices/AAAttribution.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/network/URLSession.h"

using zdm_engine::log;
using zdm_engine::logError;

namespace {
// One session for the process, as the platform's shared session is; never destroyed, so an answer
// arriving during exit finds it.
const std::shared_ptr<URLSession>& sharedSession() {
    static const auto* session = new std::shared_ptr<URLSession>(
        URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration()));
    return *session;
}

// The service sends its IDs as numbers or as strings; both are read as text ("" when absent).
std::string textOf(const Value& value) {
    if (const auto* text = value.asString()) return *text;
    if (value.isBool()) return value.boolOr(false) ? "1" : "0";
    if (value.isInteger()) return std::to_string(value.integerOr(0));
    if (value.isReal()) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.realOr(0));
        return std::string(buffer, result.ptr);
    }
    return {};
}
}  // namespace

std::shared_ptr<ZDMSearchAdReporter> ZDMSearchAdReporter::initWithWorkerQueue(
    std::shared_ptr<DispatchQueue> queue, std::shared_ptr<ZDMPersistedConfig> persistedConfig) {
    if (!queue) {
        log(2, 32000, "Cannot init Search Ad reporter. Queue must be provided");
        return nullptr;
    }
    if (!persistedConfig) {
        log(2, 32001, "Cannot init Search Ad reporter. Persisted config must be provided");
        return nullptr;
    }
    if (persistedConfig->searchAdRetryCount() >= kMaxRetryCount) return nullptr;
    if (persistedConfig->searchAdCampaignValue()) {
        log(7, 32002,
            "Search Ad campaign attribution was already reported. Do not start Search Ad Reporter.");
        return nullptr;
    }
    return std::make_shared<ZDMSearchAdReporter>(std::move(queue), std::move(persistedConfig));
}

ZDMSearchAdReporter::ZDMSearchAdReporter(std::shared_ptr<DispatchQueue> queue,
                                         std::shared_ptr<ZDMPersistedConfig> persistedConfig)
    : queue_(std::move(queue)),
      persistedConfig_(std::move(persistedConfig)),
      alarm_(ZDMAlarm::make(queue_, kAlarmName)) {}

ZDMSearchAdReporter::~ZDMSearchAdReporter() {
    cancelScheduling();
}

std::shared_ptr<const AAAttribution> ZDMSearchAdReporter::adClientInstance() {
    return AAAttribution::registeredClass();
}

void ZDMSearchAdReporter::start() {
    if (!adClientInstance())
        return log(7, 32014,
                   "AdServices framework is not linked. Search Ad Attribution Reporter is disabled.");
    started_ = true;
    scheduleSearchAdReport();
}

void ZDMSearchAdReporter::setSearchAdReporterEnabled(bool enabled) {
    // Before start the flag is only kept; after it, the switch reaches the alarm.
    if (enabled_.exchange(enabled) != enabled && started_) scheduleSearchAdReport();
}

void ZDMSearchAdReporter::scheduleSearchAdReport() {
    if (!alarm_) return log(5, 32013, "Search Ad Campaign attribution alarm is already canceled");
    // The alarm stays, so that enabling again can schedule anew.
    if (!enabled_) return alarm_->cancel();
    if (persistedConfig_->searchAdCampaignValue()) {
        log(7, 32004, "Search Ad report not scheduled. Search Ad campaign attribution was already reported.");
        return cancelScheduling();
    }
    if (alarm_->scheduledTimestamp())
        return log(5, 32005, "Search Ad Campaign attribution alarm is already scheduled");
    if (persistedConfig_->searchAdRetryCount() >= kMaxRetryCount) {
        log(5, 32007,
            "Search Ad Campaign attribution exceeds the max number of retries. Do not schedule again.");
        return cancelScheduling();
    }
    log(7, 32006, "Scheduling Search Ad Report timer");
    // A day after the last attempt; a fresh install's first attempt (no last one) is long overdue.
    const double delay =
        kReportInterval - std::fabs(Clock::current().now() - persistedConfig_->lastSearchAdLookUpTimestamp());
    std::weak_ptr<ZDMSearchAdReporter> weakSelf = weak_from_this();
    alarm_->runAfterDelay(
        [weakSelf] {
            if (const auto self = weakSelf.lock()) self->maybeLogIAdCampaignEvent();
        },
        delay);
}

void ZDMSearchAdReporter::maybeLogIAdCampaignEvent() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("maybeLogIAdCampaignEvent");
    if (!adClientInstance()) return;
    persistedConfig_->setLastSearchAdLookUpTimestamp(Clock::current().now());
    fetchAttributionDetails();
    scheduleSearchAdReport();
}

void ZDMSearchAdReporter::fetchAttributionDetails() {
    // Counted before the attempt, so that an attempt that never answers still counts.
    persistedConfig_->setSearchAdRetryCount(persistedConfig_->searchAdRetryCount() + 1);
    const auto adClient = adClientInstance();
    if (!adClient || !ProcessInfo::isOperatingSystemAtLeastVersion({11, 1, 0})) return;
    Error error;
    const auto token = adClient->attributionTokenWithError(&error);
    if (!token)
        return logError(1, 32018, "Cannot send request for Search Ad campaign attribution. Error", error);
    if (!token->empty()) requestAttributionPayloadWithToken(*token);
}

void ZDMSearchAdReporter::requestAttributionPayloadWithToken(const std::string& token) {
    if (token.empty()) return;
    URLRequest request;
    request.url = ZDMMeasurementService::attribution().urlWithPath("/api/v1/");
    request.httpMethod = "POST";
    request.allHTTPHeaderFields = {{"cache-control", "no-cache"}, {"Content-Type", "text/plain"}};
    request.httpBody = Data(token.begin(), token.end());
    request.timeoutInterval = kRequestTimeout;
    std::weak_ptr<ZDMSearchAdReporter> weakSelf = weak_from_this();
    std::weak_ptr<DispatchQueue> weakQueue = queue_;
    auto task = sharedSession()->dataTaskWithRequest(
        std::move(request),
        [weakSelf, weakQueue](std::optional<Data> body, std::shared_ptr<const HTTPURLResponse>,
                              std::optional<Error> error) {
            // The answer arrives on the session's queue; the alarm and the reporter's state belong to
            // the worker queue, where the alarm may be firing at this moment.
            const auto queue = weakQueue.lock();
            if (!queue) return;
            queue->async([weakSelf, body = std::move(body), error = std::move(error)] {
                if (const auto self = weakSelf.lock()) self->handleAttributionAnswer(body, error);
            });
        });
    task->resume();
}

void ZDMSearchAdReporter::handleAttributionAnswer(const std::optional<Data>& data,
                                                  const std::optional<Error>& error) {
    if (error) {
        logError(1, 32015, "Cannot send request for Search Ad campaign attribution. Error", *error);
        return scheduleSearchAdReport();
    }
    Error parseError;
    const auto parsed =
        json::parse(data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size())
                         : std::string_view(),
                    &parseError);
    if (!parsed) {
        logError(1, 32017, "Search Ad Reporter failed to parse JSON data. Error", parseError);
        return scheduleSearchAdReport();
    }
    // An answer that is no object says no more than an empty one.
    const Dictionary* answer = parsed->asDictionary();
    if (!answer || answer->empty()) return scheduleSearchAdReport();
    if (textOf((*answer)["adId"]) == kTestAnswerID && textOf((*answer)["campaignId"]) == kTestAnswerID) {
        log(7, 32016, "Search Ad Reporter returned test data. Will retry next time.");
        return scheduleSearchAdReport();
    }
    logCampaignEventWithSearchAdCampaign((*answer)["attribution"].boolOr(false),
                                         textOf((*answer)["campaignId"]), textOf((*answer)["keywordId"]));
    cancelScheduling();
}

void ZDMSearchAdReporter::logCampaignEventWithSearchAdCampaign(bool attributed, const std::string& campaign,
                                                               const std::string& term) {
    {
        std::lock_guard lock(campaignValueMutex_);
        if (persistedConfig_->searchAdCampaignValue())
            return log(5, 32008, "Search Ad Campaign is already tracked");
        persistedConfig_->setSearchAdCampaignValue(Value(attributed));
    }
    if (!attributed) return;
    Dictionary parameters{{"source", Value("Apple")}, {"medium", Value("search")}};
    if (!campaign.empty()) parameters.set("campaign", Value(campaign));
    if (!term.empty()) parameters.set("term", Value(term));
    if (const int64_t firstOpen = persistedConfig_->firstOpenTimestampMilliseconds(); firstOpen >= 2)
        parameters.set("click_timestamp", Value(firstOpen - 1));
    else
        log(5, 32009, "Search Ad Campaign does not have click_timestamp.");
    ZDMAnalytics::logInternalEventWithOrigin("auto", "_cmp", parameters);
}

void ZDMSearchAdReporter::cancelScheduling() {
    if (alarm_) alarm_->cancel();
    alarm_.reset();
}
