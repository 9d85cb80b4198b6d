#include "platform/zed/ZEDUdovade.h"

#include <strings.h>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"
#include "platform/network/Reachability.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"

namespace {

using Level = ZEDUdovadeLoggerLevel;
namespace Code = ZEDUdovadeMessageCode;

// Only http and https with a host: anything else would reach no server, or one nobody meant.
bool isRequestURL(const std::string& url) {
    const auto components = URLComponents::fromString(url);
    if (!components || !components->scheme || !components->host || components->host->empty()) return false;
    return strcasecmp(components->scheme->c_str(), "http") == 0 ||
           strcasecmp(components->scheme->c_str(), "https") == 0;
}

void eraseField(HTTPHeaders& headers, const char* name) {
    std::erase_if(headers, [name](const auto& field) { return strcasecmp(field.first.c_str(), name) == 0; });
}

bool hasField(const HTTPHeaders& headers, const char* name) {
    for (const auto& [field, value] : headers)
        if (strcasecmp(field.c_str(), name) == 0) return true;
    return false;
}

std::shared_ptr<const HTTPURLResponse> noAnswer(const std::string& url) {
    auto response = std::make_shared<HTTPURLResponse>();
    response->url = url;
    return response;
}

}  // namespace

std::shared_ptr<ZEDUdovade> ZEDUdovade::initWithReachabilityHost(const std::string& host) {
    auto reachability = NetworkReachability::createWithName(host);
    if (host.empty() || !reachability) return nullptr;
    return std::make_shared<ZEDUdovade>(host, std::move(reachability));
}

ZEDUdovade::ZEDUdovade(std::string reachabilityHost, std::shared_ptr<NetworkReachability> reachability)
    : reachabilityHost_(std::move(reachabilityHost)),
      reachability_(std::move(reachability)),
      session_(URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration())) {
}

ZEDUdovade::~ZEDUdovade() {
    reachability_->unscheduleFromMainRunLoop();
    // Requests still running finish and are answered: every caller is told once.
    session_->finishTasksAndInvalidate();
}

void ZEDUdovade::setLoggerDelegate(const std::shared_ptr<ZEDUdovadeLoggerDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    loggerDelegate_ = delegate;
}

void ZEDUdovade::setReachabilityDelegate(const std::shared_ptr<ZEDUdovadeReachabilityDelegate>& delegate) {
    {
        std::lock_guard lock(mutex_);
        reachabilityDelegate_ = delegate;
    }
    if (!delegate) {
        reachability_->unscheduleFromMainRunLoop();
        return;
    }
    reachability_->setCallback([weak = weak_from_this()](NetworkReachabilityFlags) {
        if (auto self = weak.lock()) self->reachabilityChanged();
    });
    reachability_->scheduleWithMainRunLoop();
}

void ZEDUdovade::setIsDebugModeEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    debugMode_ = enabled;
}

bool ZEDUdovade::isDebugModeEnabled() const {
    std::lock_guard lock(mutex_);
    return debugMode_;
}

bool ZEDUdovade::isNetworkConnected() const {
    if (reachability_->isLoopback()) return true;
    NetworkReachabilityFlags flags = 0;
    if (!reachability_->getFlags(&flags)) return false;
    return (flags & NetworkReachabilityFlag::Reachable) &&
           !(flags & NetworkReachabilityFlag::ConnectionRequired);
}

bool ZEDUdovade::hasUploadInProgress() const {
    return requestsInProgress_->load() > 0;
}

void ZEDUdovade::setTimeoutInterval(double seconds) {
    if (!(seconds > 0)) return;
    std::lock_guard lock(mutex_);
    timeoutInterval_ = seconds;
}

double ZEDUdovade::timeoutInterval() const {
    std::lock_guard lock(mutex_);
    return timeoutInterval_;
}

std::string ZEDUdovade::postURL(const std::string& url, const std::optional<HTTPHeaders>& headers,
                                const Data& payload, std::shared_ptr<DispatchQueue> queue, bool,
                                CompletionHandler completionHandler) {
    URLRequest request;
    request.url = url;
    request.httpMethod = "POST";
    request.allHTTPHeaderFields = headers.value_or(HTTPHeaders{});
    Error error;
    auto compressed = ziz_dataByGzippingData(payload, &error);
    if (!compressed) {
        log(Level::Error, Code::CompressionFailed, "Cannot compress the request body. Error",
            {ErrorObject::value(error)});
        failToStart(request, std::move(error), queue, std::move(completionHandler));
        return "";
    }
    request.httpBody = std::move(*compressed);
    eraseField(request.allHTTPHeaderFields, "Content-Encoding");
    request.allHTTPHeaderFields["Content-Encoding"] = "gzip";
    if (!hasField(request.allHTTPHeaderFields, "Content-Type"))
        request.allHTTPHeaderFields["Content-Type"] = "application/x-protobuf";
    return start(std::move(request), std::move(queue), std::move(completionHandler));
}

std::string ZEDUdovade::getURL(const std::string& url, const std::optional<HTTPHeaders>& headers,
                               std::shared_ptr<DispatchQueue> queue, bool,
                               CompletionHandler completionHandler) {
    URLRequest request;
    request.url = url;
    request.allHTTPHeaderFields = headers.value_or(HTTPHeaders{});
    return start(std::move(request), std::move(queue), std::move(completionHandler));
}

void ZEDUdovade::handleEventsForBackgroundURLSessionID(const std::string&,
                                                       const std::function<void()>& completionHandler) {
    if (completionHandler) completionHandler();
}

std::string ZEDUdovade::start(URLRequest request, std::shared_ptr<DispatchQueue> queue,
                              CompletionHandler handler) {
    // A caller without a queue is still answered, on a queue of its own.
    if (!queue) queue = DispatchQueue::global();
    if (!isRequestURL(request.url)) {
        log(Level::Error, Code::InvalidURL, "Cannot start a request with this URL", {Value(request.url)});
        failToStart(request,
                    Error(kURLErrorDomain, URLError::BadURL, "The URL cannot be used for a request."), queue,
                    std::move(handler));
        return "";
    }
    request.timeoutInterval = timeoutInterval();
    const std::string sessionID = UUID().uuidString();
    const std::string url = request.url;
    if (isDebugModeEnabled())
        log(Level::Debug, Code::RequestStarted, "Request started. Session ID, URL",
            {Value(sessionID), Value(url)});
    requestsInProgress_->fetch_add(1);
    auto task = session_->dataTaskWithRequest(
        std::move(request), [weak = weak_from_this(), inProgress = requestsInProgress_, queue, sessionID, url,
                             handler = std::move(handler)](std::optional<Data> body,
                                                           std::shared_ptr<const HTTPURLResponse> response,
                                                           std::optional<Error> error) mutable {
            if (!response) response = noAnswer(url);
            queue->async([weak, inProgress, sessionID, handler = std::move(handler), body = std::move(body),
                          response = std::move(response), error = std::move(error)] {
                if (handler) handler(response, body, error);
                inProgress->fetch_sub(1);
                if (auto self = weak.lock()) self->finished(sessionID, *response, error);
            });
        });
    task->resume();
    return sessionID;
}

void ZEDUdovade::failToStart(const URLRequest& request, Error error,
                             const std::shared_ptr<DispatchQueue>& queue, CompletionHandler handler) {
    (queue ? queue : DispatchQueue::global())
        ->async([response = noAnswer(request.url), error = std::move(error), handler = std::move(handler)] {
            if (handler) handler(response, std::nullopt, error);
        });
}

void ZEDUdovade::finished(const std::string& sessionID, const HTTPURLResponse& response,
                          const std::optional<Error>& error) {
    if (error) {
        log(Level::Warning, Code::RequestFailed, "Request failed. Session ID, error",
            {Value(sessionID), ErrorObject::value(*error)});
    } else if (isDebugModeEnabled()) {
        log(Level::Debug, Code::RequestFinished, "Request finished. Session ID, status",
            {Value(sessionID), Value(int64_t{response.statusCode})});
    }
}

void ZEDUdovade::reachabilityChanged() {
    std::shared_ptr<ZEDUdovadeReachabilityDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = reachabilityDelegate_.lock();
    }
    if (delegate) delegate->reachabilityDidChange();
}

void ZEDUdovade::log(ZEDUdovadeLoggerLevel level, int64_t code, const std::string& message,
                     const Value::Array& contexts) {
    std::shared_ptr<ZEDUdovadeLoggerDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = loggerDelegate_.lock();
    }
    if (!delegate) return;
    if (contexts.empty())
        delegate->ZEDUdovade_logWithLevel(level, code, message);
    else if (contexts.size() == 1)
        delegate->ZEDUdovade_logWithLevel(level, code, message, contexts.front());
    else
        delegate->ZEDUdovade_logWithLevel(level, code, message, contexts);
}
