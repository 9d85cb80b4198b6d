// URL sessions on libcurl: one worker thread per session drives a curl multi handle; completions go
// to the session's serial delegate queue. Time-outs run on the process clock, so they follow a
// manual clock in tests. At process exit every worker is stopped and joined, and transfers still
// running are dropped without calling their handlers.
#include <curl/curl.h>
#include <netinet/in.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/network/Reachability.h"
#include "platform/network/URLSession.h"

namespace {

class Engine;

Error urlError(int64_t code, std::string description, const std::string& url) {
    Dictionary info{{"NSErrorFailingURLStringKey", Value(url)}};
    return Error(kURLErrorDomain, code, std::move(description), Value(std::move(info)));
}

bool networkPathReachable() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto reachability = NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&zero));
    NetworkReachabilityFlags flags = 0;
    return reachability && reachability->getFlags(&flags) && (flags & NetworkReachabilityFlag::Reachable);
}

int64_t urlErrorCode(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return URLError::CannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return URLError::CannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return URLError::TimedOut;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return URLError::NetworkConnectionLost;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
            return URLError::SecureConnectionFailed;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return URLError::ServerCertificateUntrusted;
        case CURLE_SSL_CERTPROBLEM:
            return URLError::ClientCertificateRejected;
        case CURLE_URL_MALFORMAT:
            return URLError::BadURL;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return URLError::UnsupportedURL;
        case CURLE_TOO_MANY_REDIRECTS:
            return URLError::HTTPTooManyRedirects;
        case CURLE_WEIRD_SERVER_REPLY:
            return URLError::BadServerResponse;
        default:
            return URLError::Unknown;
    }
}

bool safeHeaderText(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos && text.find('\0') == std::string::npos;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return std::string(text);
}

class CurlTask : public URLSessionDataTask, public std::enable_shared_from_this<CurlTask> {
  public:
    CurlTask(std::weak_ptr<Engine> engine, std::shared_ptr<DispatchQueue> delegateQueue, URLRequest request,
             double timeout, size_t maximumBodyLength, URLSession::CompletionHandler handler)
        : engine_(std::move(engine)),
          delegateQueue_(std::move(delegateQueue)),
          request_(std::move(request)),
          timeout_(timeout),
          maximumBodyLength_(maximumBodyLength),
          handler_(std::move(handler)) {}
    ~CurlTask() override { releaseHandle(); }

    void resume() override;
    void cancel() override;

    // Worker thread only, from here on.
    CURL* makeHandle();
    void releaseHandle();
    CURL* handle() const { return easy_; }
    // Hands the outcome to the delegate queue; false when the task had completed already.
    bool complete(std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> response,
                  std::optional<Error> error);
    void completeWithCurlResult(CURLcode result);
    void completeWithError(int64_t code, std::string description) {
        complete(std::nullopt, nullptr, urlError(code, std::move(description), request_.url));
    }
    bool completed() const { return completed_.load(); }
    void dropHandler() {
        std::lock_guard lock(mutex_);
        handler_ = nullptr;
    }

  private:
    static size_t onBody(char* bytes, size_t size, size_t count, void* self);
    static size_t onHeader(char* bytes, size_t size, size_t count, void* self);
    static size_t onUpload(char* buffer, size_t size, size_t count, void* self);
    static int onUploadSeek(void* self, curl_off_t offset, int origin);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    void armTimeout(double delay);
    void timeoutFired();

    // Weak, and never locked on the worker thread, so the engine is never freed by its own worker.
    std::weak_ptr<Engine> engine_;
    const std::shared_ptr<DispatchQueue> delegateQueue_;
    URLRequest request_;
    const double timeout_;
    const size_t maximumBodyLength_;
    std::mutex mutex_;
    URLSession::CompletionHandler handler_;
    std::atomic<bool> resumed_{false};
    std::atomic<bool> completed_{false};
    bool holdsActivity_ = false;  // under mutex_

    std::shared_ptr<Clock> clock_;
    Clock::TimerId timer_ = 0;
    std::atomic<double> lastActivity_{0};
    curl_off_t seenDown_ = 0;
    size_t uploaded_ = 0;  // bytes of the request body handed to curl

    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    Data body_;
    bool bodyTooLong_ = false;
    HTTPHeaders responseHeaders_;
};

class Engine {
  public:
    explicit Engine(const URLSessionConfiguration& configuration);
    ~Engine() { shutdown(); }

    void start();
    // False when the session no longer takes tasks.
    bool add(std::shared_ptr<CurlTask> task);
    void end(std::shared_ptr<CurlTask> task, int64_t code, std::string description);
    void invalidate(bool cancelRunning);
    // Stops the worker at once; tasks still running are dropped without their handlers.
    void shutdown();
    bool finished() const { return workerDone_.load(); }
    const std::shared_ptr<DispatchQueue>& delegateQueue() const { return delegateQueue_; }

  private:
    void wake();
    bool invalidated() {
        std::lock_guard lock(mutex_);
        return invalidated_;
    }
    void run();
    bool takeWork();
    void finishTransfers();
    void startTransfer(const std::shared_ptr<CurlTask>& task);
    void stopTransfer(const std::shared_ptr<CurlTask>& task);

    CURLM* multi_;
    std::shared_ptr<DispatchQueue> delegateQueue_;
    const pid_t process_ = getpid();  // the one that has the worker
    std::thread worker_;
    std::mutex joinMutex_;
    std::atomic<bool> workerDone_{false};

    std::mutex mutex_;
    std::vector<std::shared_ptr<CurlTask>> incoming_;
    struct Ending {
        std::shared_ptr<CurlTask> task;
        int64_t code;
        std::string description;
    };
    std::vector<Ending> ending_;
    bool invalidated_ = false;
    bool cancelAll_ = false;
    bool exiting_ = false;

    std::map<CURL*, std::shared_ptr<CurlTask>> running_;  // worker thread only
};

// Every engine of the process, so that none is left running while the process exits, and the
// engines of sessions dropped while finishing their tasks. Never destroyed, so that a session freed
// while the process exits still finds it; the workers are stopped at exit instead.
class Engines {
  public:
    static Engines& shared() {
        static constinit SharedInstance<Engines> engines{[] {
                                                             auto made = std::make_shared<Engines>();
                                                             std::atexit([] { shared().stopAll(); });
                                                             return made;
                                                         },
                                                         TestReset::keep};
        // Looked up once: later calls, the one at exit in a forked child among them, take no lock.
        static Engines& instance = *engines.get();
        return instance;
    }
    void stopAll() {
        // A forked child exits with copies of the engines but none of their workers, and maybe
        // with this lock held by a thread it does not have: the workers are the parent's to stop.
        if (getpid() != process_) return;
        std::vector<std::shared_ptr<Engine>> live;
        {
            std::lock_guard lock(mutex_);
            for (auto& weak : all_) {
                if (auto engine = weak.lock()) live.push_back(std::move(engine));
            }
            orphans_.clear();
        }
        for (auto& engine : live) engine->shutdown();
    }
    void add(const std::shared_ptr<Engine>& engine) {
        std::lock_guard lock(mutex_);
        std::erase_if(all_, [](const auto& weak) { return weak.expired(); });
        std::erase_if(orphans_, [](const auto& engine) { return engine->finished(); });
        all_.push_back(engine);
    }
    void adopt(std::shared_ptr<Engine> engine) {
        std::lock_guard lock(mutex_);
        orphans_.push_back(std::move(engine));
    }

  private:
    const pid_t process_ = getpid();
    std::mutex mutex_;
    std::vector<std::weak_ptr<Engine>> all_;
    std::vector<std::shared_ptr<Engine>> orphans_;
};

class CurlSession : public URLSession {
  public:
    explicit CurlSession(const URLSessionConfiguration& configuration)
        : URLSession(configuration), engine_(std::make_shared<Engine>(configuration)) {
        engine_->start();
        Engines::shared().add(engine_);
    }
    // The engine outlives the session until its worker has ended the tasks it still runs.
    ~CurlSession() override {
        std::lock_guard lock(mutex_);
        if (!invalidated_) engine_->invalidate(true);
        if (!engine_->finished()) Engines::shared().adopt(std::move(engine_));
    }

    std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(URLRequest request,
                                                            CompletionHandler completionHandler) override {
        const double timeout =
            request.timeoutInterval > 0 ? request.timeoutInterval : configuration().timeoutIntervalForRequest;
        return std::make_shared<CurlTask>(engine_, engine_->delegateQueue(), std::move(request), timeout,
                                          configuration().maximumResponseBodyLength,
                                          std::move(completionHandler));
    }
    void finishTasksAndInvalidate() override { invalidate(false); }
    void invalidateAndCancel() override { invalidate(true); }

  private:
    void invalidate(bool cancelRunning) {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
        engine_->invalidate(cancelRunning);
    }

    std::mutex mutex_;
    bool invalidated_ = false;
    std::shared_ptr<Engine> engine_;
};

// --- CurlTask ---

void CurlTask::resume() {
    if (resumed_.exchange(true)) return;
    {
        std::lock_guard lock(mutex_);
        if (!completed_.load()) {
            BackgroundActivity::begin();
            holdsActivity_ = true;
        }
        clock_ = Clock::shared();
        lastActivity_ = clock_->monotonic();
    }
    auto engine = engine_.lock();
    if (!engine || !engine->add(shared_from_this())) {
        completeWithError(URLError::Cancelled, "cancelled");
        return;
    }
    std::lock_guard lock(mutex_);
    if (timeout_ > 0 && !completed_.load()) armTimeout(timeout_);
}

void CurlTask::cancel() {
    if (completed_.load()) return;
    auto engine = engine_.lock();
    if (engine && resumed_.load()) {
        engine->end(shared_from_this(), URLError::Cancelled, "cancelled");
    } else {
        completeWithError(URLError::Cancelled, "cancelled");
    }
}

void CurlTask::armTimeout(double delay) {
    timer_ = clock_->schedule(delay, delegateQueue_, [weak = weak_from_this()] {
        if (auto task = weak.lock()) task->timeoutFired();
    });
}

void CurlTask::timeoutFired() {
    if (completed_.load()) return;
    std::unique_lock lock(mutex_);
    const double remaining = timeout_ - (clock_->monotonic() - lastActivity_.load());
    if (remaining > 0) {
        armTimeout(remaining);
        return;
    }
    lock.unlock();
    if (auto engine = engine_.lock())
        engine->end(shared_from_this(), URLError::TimedOut, "The request timed out.");
}

bool CurlTask::complete(std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> response,
                        std::optional<Error> error) {
    if (completed_.exchange(true)) return false;
    URLSession::CompletionHandler handler;
    bool heldActivity = false;
    {
        std::lock_guard lock(mutex_);
        handler = std::move(handler_);
        handler_ = nullptr;
        if (clock_ && timer_) clock_->cancel(timer_);
        std::swap(heldActivity, holdsActivity_);
    }
    if (handler) {
        delegateQueue_->async(
            [handler = std::move(handler), body = std::move(body), response = std::move(response),
             error = std::move(error)]() mutable { handler(std::move(body), response, std::move(error)); });
    }
    // Only after the outcome is queued, so a waiter never sees a gap between the two.
    if (heldActivity) BackgroundActivity::end();
    return true;
}

void CurlTask::completeWithCurlResult(CURLcode result) {
    if (bodyTooLong_) {
        completeWithError(URLError::DataLengthExceedsMaximum,
                          "The answer body is longer than " + std::to_string(maximumBodyLength_) + " bytes.");
        return;
    }
    if (result != CURLE_OK) {
        int64_t code = urlErrorCode(result);
        const bool couldNotReach = code == URLError::CannotFindHost || code == URLError::CannotConnectToHost;
        if (couldNotReach && !networkPathReachable()) code = URLError::NotConnectedToInternet;
        completeWithError(code, errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(result));
        return;
    }
    auto response = std::make_shared<HTTPURLResponse>();
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    response->url = effectiveUrl ? effectiveUrl : request_.url;
    response->statusCode = status;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
        response->expectedContentLength = length;
    response->allHeaderFields = std::move(responseHeaders_);
    complete(std::move(body_), std::move(response), std::nullopt);
}

CURL* CurlTask::makeHandle() {
    easy_ = curl_easy_init();
    if (!easy_) return nullptr;
    curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 16L);
    // A POST answered with 301, 302 or 303 would otherwise be followed by a GET without its body,
    // and the GET's 2xx would read as if the server had taken the body.
    curl_easy_setopt(easy_, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTask::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTask::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTask::onProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);

    const std::string& method = request_.httpMethod;
    const bool hasBody = request_.httpBody.has_value();
    if (method == "HEAD") {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else if (method != "GET" || hasBody) {
        // The body is handed over piece by piece, so that each piece counts as activity before it
        // goes out: noted only once curl reports it sent, it could be noted after the server has
        // read it and the clock has moved on, and a stalled request would wait longer than its
        // time-out.
        uploaded_ = 0;
        curl_easy_setopt(easy_, CURLOPT_POST, 1L);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(hasBody ? request_.httpBody->size() : 0));
        curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlTask::onUpload);
        curl_easy_setopt(easy_, CURLOPT_READDATA, this);
        curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &CurlTask::onUploadSeek);  // a redirect sends it again
        curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
        if (method != "POST") curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    bool expectGiven = false;
    for (const auto& [name, value] : request_.allHTTPHeaderFields) {
        // A line break in a field would let it smuggle further fields or a second request.
        if (name.empty() || !safeHeaderText(name) || !safeHeaderText(value)) continue;
        if (strcasecmp(name.c_str(), "Expect") == 0) expectGiven = true;
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headerList_ = curl_slist_append(headerList_, line.c_str());
    }
    // Waiting for "100 Continue" would only delay bodies; servers read them anyway.
    if (!expectGiven) headerList_ = curl_slist_append(headerList_, "Expect:");
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
    return easy_;
}

void CurlTask::releaseHandle() {
    if (easy_) curl_easy_cleanup(easy_);
    if (headerList_) curl_slist_free_all(headerList_);
    easy_ = nullptr;
    headerList_ = nullptr;
}

size_t CurlTask::onBody(char* bytes, size_t size, size_t count, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    if (size * count > task->maximumBodyLength_ - task->body_.size()) {
        task->bodyTooLong_ = true;
        return 0;  // curl ends the transfer
    }
    task->body_.insert(task->body_.end(), bytes, bytes + size * count);
    return size * count;
}

size_t CurlTask::onHeader(char* bytes, size_t size, size_t count, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    const std::string_view line(bytes, size * count);
    if (line.starts_with("HTTP/")) {
        task->responseHeaders_.clear();  // a new response: an interim one or a redirect came before
        return size * count;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return size * count;
    std::string name = trimmed(line.substr(0, colon));
    std::string value = trimmed(line.substr(colon + 1));
    auto [it, inserted] = task->responseHeaders_.try_emplace(name, value);
    if (!inserted) it->second += ", " + value;
    return size * count;
}

size_t CurlTask::onUpload(char* buffer, size_t size, size_t count, void* self) {
    auto* task = static_cast<CurlTask*>(self);
    if (task->clock_) task->lastActivity_ = task->clock_->monotonic();
    if (!task->request_.httpBody) return 0;
    const Data& body = *task->request_.httpBody;
    const size_t length = std::min(size * count, body.size() - task->uploaded_);
    std::memcpy(buffer, body.data() + task->uploaded_, length);
    task->uploaded_ += length;
    return length;
}

int CurlTask::onUploadSeek(void* self, curl_off_t offset, int origin) {
    auto* task = static_cast<CurlTask*>(self);
    const size_t length = task->request_.httpBody ? task->request_.httpBody->size() : 0;
    if (origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > length) return CURL_SEEKFUNC_FAIL;
    task->uploaded_ = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

// Upload activity is noted as the body is handed over (onUpload); answers are noted as they come.
int CurlTask::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t) {
    auto* task = static_cast<CurlTask*>(self);
    if (dlNow != task->seenDown_) {
        task->seenDown_ = dlNow;
        if (task->clock_) task->lastActivity_ = task->clock_->monotonic();
    }
    return 0;
}

// --- Engine ---

Engine::Engine(const URLSessionConfiguration& configuration)
    : delegateQueue_(DispatchQueue::serial("URLSession.delegateQueue")) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    multi_ = curl_multi_init();
    if (configuration.httpMaximumConnectionsPerHost) {
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS,
                          *configuration.httpMaximumConnectionsPerHost);
    }
}

void Engine::start() {
    worker_ = std::thread([this] { run(); });
}

bool Engine::add(std::shared_ptr<CurlTask> task) {
    std::lock_guard lock(mutex_);
    if (invalidated_ || exiting_) return false;
    incoming_.push_back(std::move(task));
    wake();
    return true;
}

void Engine::end(std::shared_ptr<CurlTask> task, int64_t code, std::string description) {
    std::lock_guard lock(mutex_);
    ending_.push_back({std::move(task), code, std::move(description)});
    wake();
}

void Engine::invalidate(bool cancelRunning) {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
    cancelAll_ = cancelAll_ || cancelRunning;
    wake();
}

void Engine::shutdown() {
    if (getpid() != process_) return;  // forked: the worker runs in the parent only
    {
        std::lock_guard lock(mutex_);
        exiting_ = true;
        wake();
    }
    std::lock_guard lock(joinMutex_);
    if (worker_.joinable()) worker_.join();
}

// Called with mutex_ held: the worker frees the multi handle under it when it stops.
void Engine::wake() {
    if (multi_) curl_multi_wakeup(multi_);
}

void Engine::run() {
    while (takeWork()) {
        int stillRunning = 0;
        curl_multi_perform(multi_, &stillRunning);
        finishTransfers();
        if (running_.empty() && invalidated()) continue;  // the last transfer just ended: stop now
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
    for (auto& [easy, task] : running_) {
        curl_multi_remove_handle(multi_, easy);
        task->releaseHandle();
    }
    running_.clear();
    // Freeing the multi handle closes its cached connections now, not when the engine goes.
    std::lock_guard lock(mutex_);
    curl_multi_cleanup(multi_);
    multi_ = nullptr;
    workerDone_ = true;
}

// Starts new transfers and ends cancelled ones; false once the worker is to stop.
bool Engine::takeWork() {
    std::vector<std::shared_ptr<CurlTask>> incoming;
    std::vector<Ending> ending;
    bool cancelAll, exiting, invalidated;
    {
        std::lock_guard lock(mutex_);
        incoming.swap(incoming_);
        ending.swap(ending_);
        cancelAll = cancelAll_;
        exiting = exiting_;
        invalidated = invalidated_;
    }
    if (exiting) {
        for (auto& task : incoming) task->dropHandler();
        for (auto& [easy, task] : running_) task->dropHandler();
        return false;
    }
    for (auto& task : incoming) startTransfer(task);
    for (auto& item : ending) {
        stopTransfer(item.task);
        item.task->completeWithError(item.code, std::move(item.description));
    }
    if (cancelAll) {
        auto running = std::move(running_);
        running_.clear();
        for (auto& [easy, task] : running) {
            curl_multi_remove_handle(multi_, easy);
            task->releaseHandle();
            task->completeWithError(URLError::Cancelled, "cancelled");
        }
    }
    return !(invalidated && running_.empty());
}

void Engine::startTransfer(const std::shared_ptr<CurlTask>& task) {
    if (task->completed()) return;
    CURL* easy = task->makeHandle();
    if (!easy || curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        task->releaseHandle();
        task->completeWithError(URLError::Unknown, "The transfer could not be started.");
        return;
    }
    running_[easy] = task;
}

void Engine::stopTransfer(const std::shared_ptr<CurlTask>& task) {
    CURL* easy = task->handle();
    if (!easy || !running_.erase(easy)) return;
    curl_multi_remove_handle(multi_, easy);
    task->releaseHandle();
}

void Engine::finishTransfers() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        auto found = running_.find(easy);
        if (found == running_.end()) continue;
        auto task = found->second;
        running_.erase(found);
        curl_multi_remove_handle(multi_, easy);
        task->completeWithCurlResult(result);
        task->releaseHandle();
    }
}

}  // namespace

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(
    const URLSessionConfiguration& configuration) {
    return std::make_shared<CurlSession>(configuration);
}
