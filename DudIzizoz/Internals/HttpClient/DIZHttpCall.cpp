#include "DudIzizoz/Internals/HttpClient/DIZHttpCall.h"

#include <random>

#include "DudIzizoz/Internals/HttpClient/DIZCompression.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/dispatch/DispatchSource.h"

namespace {
uint32_t uniformBelow(uint32_t bound) {
    if (bound == 0) return 0;
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<uint32_t>(0, bound - 1)(generator);
}
}  // namespace

DIZHttpCall::DIZHttpCall(std::string url, std::string method, HTTPHeaders headers, std::optional<Data> data,
                         std::vector<double> retryIntervals, bool compressionEnabled,
                         DIZHttpRequestCompletionHandler completionHandler)
    : url_(std::move(url)),
      method_(std::move(method)),
      headers_(std::move(headers)),
      data_(std::move(data)),
      retryIntervals_(std::move(retryIntervals)),
      completionHandler_(std::move(completionHandler)) {
    if (compressionEnabled && data_ && data_->size() >= kMinimumCompressionLength) {
        // A body that could not be compressed goes out as it is: marking it gzip anyway would send
        // an empty body that the server accepts, and the logs would be deleted unsent.
        if (auto compressed = DIZCompression::compressData(*data_)) {
            data_ = std::move(compressed);
            headers_["Content-Encoding"] = "gzip";
        }
    }
    if (data_ && !headers_.contains("Content-Type")) headers_["Content-Type"] = "application/json";
}

DIZHttpCall::~DIZHttpCall() {
    if (timerSource_) timerSource_->cancel();
}

int32_t DIZHttpCall::retryCount() const {
    std::lock_guard lock(mutex_);
    return retryCount_;
}

std::shared_ptr<DispatchTimer> DIZHttpCall::timerSource() const {
    std::lock_guard lock(mutex_);
    return timerSource_;
}

bool DIZHttpCall::isInProgress() const {
    std::lock_guard lock(mutex_);
    return inProgress_;
}

void DIZHttpCall::setInProgress(bool inProgress) {
    std::lock_guard lock(mutex_);
    inProgress_ = inProgress;
}

bool DIZHttpCall::hasReachedMaxRetries() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(retryCount_) >= retryIntervals_.size();
}

void DIZHttpCall::resetRetry() {
    std::lock_guard lock(mutex_);
    if (timerSource_) timerSource_->cancel();
    timerSource_ = nullptr;
    retryCount_ = 0;
}

void DIZHttpCall::startRetryTimerWithStatusCode(long statusCode, std::optional<uint32_t> retryAfter,
                                                std::function<void()> event) {
    std::lock_guard lock(mutex_);
    if (timerSource_) timerSource_->cancel();
    timerSource_ = DispatchTimer::make(DispatchQueue::global());
    const uint32_t delay = retryAfter ? *retryAfter : delayForRetryCount(retryCount_);
    DIZLogWarning(kDIZLogTag, "Call attempt #%d failed with status code: %tu, it will be retried in %d ms.",
                  retryCount_, statusCode, delay);
    ++retryCount_;
    timerSource_->setTimer(delay / 1000.0, 0);
    timerSource_->setEventHandler(std::move(event));
    timerSource_->resume();
}

uint32_t DIZHttpCall::delayForRetryCount(int32_t retryCount) const {
    if (retryCount < 0 || static_cast<size_t>(retryCount) >= retryIntervals_.size()) return 0;
    const auto half =
        static_cast<uint32_t>(retryIntervals_[static_cast<size_t>(retryCount)] * 1e9 * 0.5 / 1e6);
    return half + uniformBelow(half);
}
