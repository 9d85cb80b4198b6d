#pragma once
// Finds out once per install whether it came from a search-ad campaign: posts the platform's
// attribution token to the attribution service at most once a day, at most ten times, and logs
// "_cmp" (source "Apple", medium "search") for an attributed install. Its state lives in the
// persisted configuration, so a new process resumes the daily rhythm; once an answer is stored it
// never asks again. Everything but the campaign-value write runs on the worker queue it was made
// with; the service's answer is handed to that queue before anything acts on it.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

class AAAttribution;
class DispatchQueue;
class URLSession;
class ZDMAlarm;
class ZDMPersistedConfig;
struct HTTPURLResponse;

class ZDMSearchAdReporter : public std::enable_shared_from_this<ZDMSearchAdReporter> {
  public:
    static constexpr const char* kAlarmName = "Search Ad campaign report alarm";
    static constexpr int64_t kMaxRetryCount = 10;
    static constexpr double kReportInterval = 86400;
    static constexpr double kRequestTimeout = 10;
    // The service's answer for a test campaign, in both "adId" and "campaignId".
    static constexpr const char* kTestAnswerID = "1234567890";

    // nullptr without a queue (32000) or configuration (32001), after ten attempts, or once an answer
    // was stored (32002).
    static std::shared_ptr<ZDMSearchAdReporter> initWithWorkerQueue(
        std::shared_ptr<DispatchQueue> queue, std::shared_ptr<ZDMPersistedConfig> persistedConfig);
    ~ZDMSearchAdReporter();
    ZDMSearchAdReporter(const ZDMSearchAdReporter&) = delete;
    ZDMSearchAdReporter& operator=(const ZDMSearchAdReporter&) = delete;

    // Schedules the first attempt when the platform has an attribution-token source (else 32014).
    void start();
    // The next attempt a day after the last one (at once when that is over a day ago), unless the
    // reporter is cancelled, disabled, answered, already scheduled or out of attempts.
    void scheduleSearchAdReport();
    // One attempt, counted before it is made, then the next one scheduled.
    void maybeLogIAdCampaignEvent();
    void fetchAttributionDetails();
    void requestAttributionPayloadWithToken(const std::string& token);
    // Stores the answer once (32008 for a second one); an attributed install logs "_cmp".
    void logCampaignEventWithSearchAdCampaign(bool attributed, const std::string& campaign,
                                              const std::string& term);
    // For good: the alarm is let go.
    void cancelScheduling();
    // The platform's attribution-token class; nullptr where there is none.
    static std::shared_ptr<const AAAttribution> adClientInstance();

    bool isSearchAdReporterEnabled() const { return enabled_.load(); }
    // Disabling cancels a pending attempt; enabling a started reporter schedules again.
    void setSearchAdReporterEnabled(bool enabled);
    // nullptr once scheduling was cancelled.
    const std::shared_ptr<ZDMAlarm>& searchAdReporterAlarm() const { return alarm_; }

    ZDMSearchAdReporter(std::shared_ptr<DispatchQueue> queue,
                        std::shared_ptr<ZDMPersistedConfig> persistedConfig);  // use initWithWorkerQueue

  private:
    void handleAttributionAnswer(const std::optional<Data>& data, const std::optional<Error>& error);

    const std::shared_ptr<DispatchQueue> queue_;
    const std::shared_ptr<ZDMPersistedConfig> persistedConfig_;
    std::shared_ptr<ZDMAlarm> alarm_;  // on the worker queue
    std::atomic<bool> enabled_{false};
    bool started_ = false;  // on the worker queue
    std::mutex campaignValueMutex_;
};
