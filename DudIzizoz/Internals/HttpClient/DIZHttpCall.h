#pragma once
// One request of the HTTP client, from sending until its handler has run or it was cancelled: the
// request itself (its body gzipped when large), and its retry state under a lock of its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/HttpClient/DIZHttpClientProtocol.h"

class DispatchTimer;

class DIZHttpCall {
  public:
    // Bodies from this size on are sent gzipped.
    static constexpr size_t kMinimumCompressionLength = 1400;

    DIZHttpCall(std::string url, std::string method, HTTPHeaders headers, std::optional<Data> data,
                std::vector<double> retryIntervals, bool compressionEnabled,
                DIZHttpRequestCompletionHandler completionHandler);
    ~DIZHttpCall();

    const std::optional<Data>& data() const { return data_; }
    const HTTPHeaders& headers() const { return headers_; }
    const std::string& url() const { return url_; }
    const std::string& method() const { return method_; }
    const DIZHttpRequestCompletionHandler& completionHandler() const { return completionHandler_; }
    const std::vector<double>& retryIntervals() const { return retryIntervals_; }
    int32_t retryCount() const;
    std::shared_ptr<DispatchTimer> timerSource() const;
    bool isInProgress() const;
    void setInProgress(bool inProgress);

    bool hasReachedMaxRetries() const;
    // Stops the retry timer and counts retries from 0 again.
    void resetRetry();
    // Runs `event` once, after `retryAfter` milliseconds when given, else after the jittered delay
    // of the current retry.
    void startRetryTimerWithStatusCode(long statusCode, std::optional<uint32_t> retryAfter,
                                       std::function<void()> event);
    // Half the interval in milliseconds plus a random part of up to that half again.
    uint32_t delayForRetryCount(int32_t retryCount) const;

  private:
    const std::string url_;
    const std::string method_;
    HTTPHeaders headers_;
    std::optional<Data> data_;
    const std::vector<double> retryIntervals_;
    const DIZHttpRequestCompletionHandler completionHandler_;

    mutable std::mutex mutex_;
    std::shared_ptr<DispatchTimer> timerSource_;
    int32_t retryCount_ = 0;
    bool inProgress_ = false;
};
