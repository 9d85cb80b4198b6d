#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "DudIzizoz/Internals/HttpClient/DIZHttpCall.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"
#include "DudIzizoz/Internals/HttpClient/DIZ_Reachability.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/dispatch/DispatchSource.h"

namespace {
Error sdkError(int64_t code, const char* description) {
    return Error(kDIZErrorDomain, code, description);
}

// The server's wait in milliseconds. Text that is no number, or a negative number (which would
// wrap around to a wait of some 49 days), counts as no hint at all.
std::optional<uint32_t> retryAfterMilliseconds(const HTTPURLResponse* response) {
    if (!response) return std::nullopt;
    auto header = response->valueForHTTPHeaderField(DIZHttpClient::kRetryAfterHeader);
    if (!header) return std::nullopt;
    std::string_view text = *header;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    double value = 0;
    auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
        return std::nullopt;
    return static_cast<uint32_t>(std::min<double>(value, std::numeric_limits<uint32_t>::max()));
}
}  // namespace

std::shared_ptr<DIZHttpClient> DIZHttpClient::make(std::optional<long> maxHttpConnectionsPerHost,
                                                   std::shared_ptr<DIZ_Reachability> reachability) {
    if (!reachability) reachability = DIZ_Reachability::reachabilityForInternetConnection();
    std::shared_ptr<DIZHttpClient> client(
        new DIZHttpClient(maxHttpConnectionsPerHost, std::move(reachability)));
    client->observer_ = NotificationCenter::defaultCenter().addObserver(
        kDZNetworkReachabilityChangedNotification,
        [weak = std::weak_ptr<DIZHttpClient>(client)](const Notification& notification) {
            if (auto self = weak.lock()) self->networkStateChanged(notification);
        });
    if (client->reachability_) client->reachability_->startNotifier();
    return client;
}

DIZHttpClient::DIZHttpClient(std::optional<long> maxHttpConnectionsPerHost,
                             std::shared_ptr<DIZ_Reachability> reachability)
    : sessionConfiguration_(URLSessionConfiguration::defaultSessionConfiguration()),
      reachability_(std::move(reachability)) {
    if (maxHttpConnectionsPerHost)
        sessionConfiguration_.httpMaximumConnectionsPerHost = maxHttpConnectionsPerHost;
    session_ = URLSession::sessionWithConfiguration(sessionConfiguration_);
}

DIZHttpClient::~DIZHttpClient() {
    if (resumeTimer_) resumeTimer_->cancel();
    if (reachability_) reachability_->stopNotifier();
    if (session_) session_->finishTasksAndInvalidate();
}

void DIZHttpClient::sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                              std::optional<Data> data, DIZHttpRequestCompletionHandler completionHandler) {
    sendAsync(url, method, headers, std::move(data), kDefaultRetryIntervals, true,
              std::move(completionHandler));
}

void DIZHttpClient::sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                              std::optional<Data> data, std::vector<double> retryIntervals,
                              bool compressionEnabled, DIZHttpRequestCompletionHandler completionHandler) {
    std::unique_lock lock(mutex_);
    if (!enabled_) {
        lock.unlock();
        if (completionHandler)
            completionHandler(std::nullopt, nullptr, sdkError(kDIZDisabledErrorCode, kDIZDisabledErrorDesc));
        return;
    }
    Callouts callouts;
    sendLocked(std::make_shared<DIZHttpCall>(url, method, headers, std::move(data), std::move(retryIntervals),
                                             compressionEnabled, std::move(completionHandler)),
               callouts);
    lock.unlock();
    run(callouts);
}

void DIZHttpClient::sendCallAsync(const std::shared_ptr<DIZHttpCall>& call) {
    Callouts callouts;
    {
        std::lock_guard lock(mutex_);
        sendLocked(call, callouts);
    }
    run(callouts);
}

void DIZHttpClient::sendLocked(const std::shared_ptr<DIZHttpCall>& call, Callouts& callouts) {
    if (!isPending(*call)) pendingCalls_.push_back(call);
    if (paused_ || !session_) return;

    URLRequest request;
    request.url = call->url();
    request.httpMethod = call->method();
    request.allHTTPHeaderFields = call->headers();
    request.httpBody = call->data();
    request.timeoutInterval = kRequestTimeout;
    call->setInProgress(true);
    auto task = session_->dataTaskWithRequest(
        std::move(request), [weak = weak_from_this(), call](std::optional<Data> data,
                                                            std::shared_ptr<const HTTPURLResponse> response,
                                                            std::optional<Error> error) {
            if (auto self = weak.lock())
                self->requestCompletedWithHttpCall(call, std::move(data), std::move(response),
                                                   std::move(error));
        });
    // Made under the lock, the task belongs to the session of this moment: should that session be
    // cancelled before the task starts, the task ends as cancelled and its call is no longer pending.
    callouts.push_back([delegate = delegate_.lock(), call, task] {
        if (delegate) delegate->willSendHTTPRequestToURL(call->url(), call->headers());
        task->resume();
    });
}

void DIZHttpClient::requestCompletedWithHttpCall(const std::shared_ptr<DIZHttpCall>& call,
                                                 std::optional<Data> data,
                                                 std::shared_ptr<const HTTPURLResponse> response,
                                                 std::optional<Error> error) {
    std::unique_lock lock(mutex_);
    call->setInProgress(false);
    if (!isPending(*call)) {
        DIZLogDebug(kDIZLogTag, "HTTP call was canceled; do not process further.");
        return;
    }
    auto finish = [&](std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> answer,
                      std::optional<Error> failure) {
        removePending(*call);
        lock.unlock();
        if (call->completionHandler())
            call->completionHandler()(std::move(body), std::move(answer), std::move(failure));
    };

    if (error) {
        const bool offline = DIZHttpUtil::isNoInternetConnectionError(*error);
        if (!offline && !DIZHttpUtil::isSSLConnectionError(*error)) {
            DIZLogError(kDIZLogTag, "HTTP request error with code: %td, domain: %@, description: %@",
                        error->code, error->domain, error->description);
            finish(std::move(data), nullptr, std::move(error));
            return;
        }
        // A connection lost or refused by TLS while the network is up (a server that closes without
        // answering, a bad certificate) would wait for a network change that never comes: only a
        // network that is really down parks the call; otherwise it is retried like a 5xx.
        if (isNetworkDown()) {
            call->resetRetry();
            DIZLogInfo(kDIZLogTag, "HTTP call failed with error: %@",
                       offline ? "Internet connection is down." : "Could not establish secure connection.");
            return;
        }
        DIZLogWarning(kDIZLogTag, "HTTP call failed with error: %@", error->description);
    }

    const long statusCode = response ? response->statusCode : 0;
    if (DIZHttpUtil::isRecoverableError(statusCode)) {
        if (call->hasReachedMaxRetries()) {
            pauseUntilRetriedAgain(*call);
            finish(std::move(data), std::move(response), std::move(error));
        } else {
            call->startRetryTimerWithStatusCode(statusCode, retryAfterMilliseconds(response.get()),
                                                // Weak both ways: the call owns this timer.
                                                [weak = weak_from_this(), weakCall = std::weak_ptr(call)] {
                                                    auto self = weak.lock();
                                                    auto retried = weakCall.lock();
                                                    if (self && retried) self->retryFired(retried);
                                                });
        }
        return;
    }
    finish(std::move(data), std::move(response), std::nullopt);
    // A status that retrying cannot mend disables the client, after the call's handler has heard it.
    if (!DIZHttpUtil::isSuccessStatusCode(statusCode)) setEnabled(false, true);
}

// Paused for good, a client on a network that never changes would send nothing more in this
// process: it tries again once the call's last retry interval has passed once more.
void DIZHttpClient::pauseUntilRetriedAgain(const DIZHttpCall& call) {
    pauseLocked();
    const auto& intervals = call.retryIntervals();
    const double wait = intervals.empty() ? kDefaultRetryIntervals.back() : intervals.back();
    if (resumeTimer_) resumeTimer_->cancel();
    resumeTimer_ = DispatchTimer::make(DispatchQueue::global());
    resumeTimer_->setTimer(wait, 0);
    resumeTimer_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->resumeAfterRetries();
    });
    resumeTimer_->resume();
}

// A network that went down meanwhile keeps the client paused until it comes back.
void DIZHttpClient::resumeAfterRetries() {
    Callouts callouts;
    {
        std::lock_guard lock(mutex_);
        if (!isNetworkDown()) resumeLocked(callouts);
    }
    run(callouts);
}

bool DIZHttpClient::isNetworkDown() const {
    return reachability_ && reachability_->currentReachabilityStatus() == NotReachable;
}

// A timer that fired while the call was being cancelled must not bring the call back.
void DIZHttpClient::retryFired(const std::shared_ptr<DIZHttpCall>& call) {
    Callouts callouts;
    {
        std::lock_guard lock(mutex_);
        if (isPending(*call)) sendLocked(call, callouts);
    }
    run(callouts);
}

// Every reference posts the same notification, so it only says that some path changed: the client
// reads its own, which may lead elsewhere (to this machine) than the path that changed.
void DIZHttpClient::networkStateChanged(const Notification& notification) {
    auto* reachability =
        reachability_ ? reachability_.get() : static_cast<const DIZ_Reachability*>(notification.object);
    if (!reachability) return;
    if (reachability->currentReachabilityStatus() == NotReachable) {
        DIZLogInfo(kDIZLogTag, "Internet connection is down.");
        pause();
    } else {
        DIZLogInfo(kDIZLogTag, "Internet connection is up.");
        resume();
    }
}

void DIZHttpClient::pause() {
    std::lock_guard lock(mutex_);
    pauseLocked();
}

void DIZHttpClient::pauseLocked() {
    if (paused_) return;
    DIZLogInfo(kDIZLogTag, "Pause HTTP client.");
    paused_ = true;
    for (const auto& call : pendingCalls_) call->resetRetry();
}

void DIZHttpClient::resume() {
    Callouts callouts;
    {
        std::lock_guard lock(mutex_);
        resumeLocked(callouts);
    }
    run(callouts);
}

void DIZHttpClient::resumeLocked(Callouts& callouts) {
    if (!paused_ || !enabled_) return;
    DIZLogInfo(kDIZLogTag, "Resume HTTP client.");
    paused_ = false;
    if (resumeTimer_) resumeTimer_->cancel();
    const auto calls = pendingCalls_;
    for (const auto& call : calls) {
        if (!call->isInProgress()) sendLocked(call, callouts);
    }
}

void DIZHttpClient::setEnabled(bool isEnabled) {
    std::lock_guard lock(mutex_);
    enabled_ = isEnabled;
}

void DIZHttpClient::setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) {
    std::unique_lock lock(mutex_);
    if (enabled_ == isEnabled) return;
    enabled_ = isEnabled;
    if (isEnabled) {
        session_ = URLSession::sessionWithConfiguration(sessionConfiguration_);
        lock.unlock();
        // Started on the main thread, the notifier reports the network at once, and the report
        // pauses or resumes this client.
        if (reachability_) reachability_->startNotifier();
        resume();
        return;
    }
    if (reachability_) reachability_->stopNotifier();
    pauseLocked();
    if (!andDeleteDataOnDisabled) return;
    if (session_) session_->invalidateAndCancel();
    session_ = nullptr;
    const auto calls = std::exchange(pendingCalls_, {});
    lock.unlock();
    for (const auto& call : calls) {
        if (call->completionHandler())
            call->completionHandler()(std::nullopt, nullptr,
                                      sdkError(kDIZCanceledErrorCode, kDIZCanceledErrorDesc));
    }
}

std::shared_ptr<DIZHttpClientDelegate> DIZHttpClient::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void DIZHttpClient::setDelegate(std::weak_ptr<DIZHttpClientDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

bool DIZHttpClient::isPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

bool DIZHttpClient::isEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

std::vector<std::shared_ptr<DIZHttpCall>> DIZHttpClient::pendingCalls() const {
    std::lock_guard lock(mutex_);
    return pendingCalls_;
}

std::shared_ptr<URLSession> DIZHttpClient::session() const {
    std::lock_guard lock(mutex_);
    return session_;
}

bool DIZHttpClient::isPending(const DIZHttpCall& call) const {
    return std::any_of(pendingCalls_.begin(), pendingCalls_.end(),
                       [&](const std::shared_ptr<DIZHttpCall>& pending) { return pending.get() == &call; });
}

void DIZHttpClient::removePending(const DIZHttpCall& call) {
    std::erase_if(pendingCalls_,
                  [&](const std::shared_ptr<DIZHttpCall>& pending) { return pending.get() == &call; });
}

void DIZHttpClient::run(const Callouts& callouts) {
    for (const auto& callout : callouts) callout();
}
