#include "DudIzizoz/Internals/Ingestion/DIZHttpIngestion.h"

#include <cctype>

#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/Unicode.h"

namespace {
// The client-wide network switch, kept by the facade in its settings; allowed until forbidden.
bool isNetworkRequestsAllowed() {
    const auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey("NetworkRequestsAllowed");
    const auto allowed = stored ? stored->asBool() : std::nullopt;
    return allowed.value_or(true);
}

std::string textOf(const Data& data) {
    return std::string(data.begin(), data.end());
}
}  // namespace

std::shared_ptr<DIZHttpIngestion> DIZHttpIngestion::make(std::shared_ptr<DIZHttpClientProtocol> httpClient,
                                                         const std::string& baseUrl,
                                                         const std::string& apiPath, HTTPHeaders headers,
                                                         const DIZQueryStrings& queryStrings,
                                                         std::vector<double> retryIntervals,
                                                         int64_t maxNumberOfConnections) {
    return attachedToClient(std::shared_ptr<DIZHttpIngestion>(
        new DIZHttpIngestion(std::move(httpClient), baseUrl, apiPath, std::move(headers), queryStrings,
                             std::move(retryIntervals), maxNumberOfConnections)));
}

DIZHttpIngestion::DIZHttpIngestion(std::shared_ptr<DIZHttpClientProtocol> httpClient,
                                   const std::string& baseUrl, std::string apiPath, HTTPHeaders headers,
                                   const DIZQueryStrings& queryStrings, std::vector<double> retryIntervals,
                                   int64_t maxNumberOfConnections)
    : apiPath_(std::move(apiPath)),
      httpHeaders_(std::move(headers)),
      httpClient_(std::move(httpClient)),
      callsRetryIntervals_(std::move(retryIntervals)),
      maxNumberOfConnections_(maxNumberOfConnections),
      baseURL_(baseUrl),
      sendURL_(buildURLWithBaseURL(baseUrl, apiPath_, queryStrings)) {}

void DIZHttpIngestion::sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                                 DIZSendAsyncCompletionHandler completionHandler) {
    sendAsync(data, std::nullopt, UUID().uuidString(), std::move(completionHandler));
}

void DIZHttpIngestion::sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                                 const std::optional<std::string>& eTag,
                                 DIZSendAsyncCompletionHandler completionHandler) {
    sendAsync(data, eTag, UUID().uuidString(), std::move(completionHandler));
}

// The client is called after the lock is let go: its handlers may call back into this ingestion.
void DIZHttpIngestion::sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                                 const std::optional<std::string>& eTag, const std::string& callId,
                                 DIZSendAsyncCompletionHandler completionHandler) {
    std::unique_lock lock(mutex_);
    if (!isEnabledLocked()) {
        lock.unlock();
        DIZLogWarning(kDIZLogTag, "%@ is disabled.", className());
        if (completionHandler)
            completionHandler(callId, nullptr, std::nullopt,
                              Error(kDIZErrorDomain, kDIZDisabledErrorCode, kDIZDisabledErrorDesc));
        return;
    }
    const std::string url = sendURL_;
    lock.unlock();

    httpClient_->sendAsync(
        url, getHttpMethod(), getHeadersWithData(data, eTag), getPayloadWithData(data), callsRetryIntervals_,
        true,
        [self = shared_from_this(), callId, completionHandler = std::move(completionHandler)](
            std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> response,
            std::optional<Error> error) {
            self->printResponse(response.get(), body, error);
            if (completionHandler)
                completionHandler(callId, std::move(response), std::move(body), std::move(error));
        });
}

bool DIZHttpIngestion::isReadyToSend() const {
    return true;
}

bool DIZHttpIngestion::isEnabled() const {
    std::lock_guard lock(mutex_);
    return isEnabledLocked();
}

bool DIZHttpIngestion::isEnabledLocked() const {
    return enabled_ && isNetworkRequestsAllowed();
}

void DIZHttpIngestion::setEnabled(bool isEnabled, bool) {
    std::lock_guard lock(mutex_);
    enabled_ = isEnabled;
}

void DIZHttpIngestion::setBaseURL(const std::string& baseURL) {
    std::lock_guard lock(mutex_);
    baseURL_ = baseURL;
    const auto newURL = URLComponents::fromString(baseURL + apiPath_);
    if (!newURL) {
        DIZLogInfo(kDIZLogTag, "Failed to update HTTP URL %@ with %@", sendURL_, baseURL);
        return;
    }
    URLComponents components = URLComponents::fromString(sendURL_).value_or(URLComponents{});
    components.scheme = newURL->scheme;
    components.user = newURL->user;
    components.password = newURL->password;
    components.host = newURL->host;
    components.port = newURL->port;
    components.path = newURL->path;
    const auto url = components.string();
    if (!url) {
        DIZLogInfo(kDIZLogTag, "Failed to update HTTP URL %@ with %@", sendURL_, baseURL);
        return;
    }
    sendURL_ = *url;
}

std::string DIZHttpIngestion::buildURLWithBaseURL(const std::string& baseURL, const std::string& apiPath,
                                                  const DIZQueryStrings& queryStrings) {
    std::string text = baseURL + apiPath;
    std::string query;
    for (const auto& [key, value] : queryStrings) query += (query.empty() ? "" : "&") + key + "=" + value;
    if (!query.empty()) text += "?" + URLQueryPercentEncoded(query);
    return URLComponents::fromString(text) ? text : std::string();
}

void DIZHttpIngestion::printResponse(const HTTPURLResponse* response, const std::optional<Data>& body,
                                     const std::optional<Error>& error) const {
    if (error) {
        DIZLogDebug(kDIZLogTag, "HTTP request error with code: %td, domain: %@, description: %@", error->code,
                    error->domain, error->description);
        return;
    }
    if (DIZLogger::currentLogLevel() > DIZLogLevel::Verbose) return;
    const std::string contentType =
        response ? response->valueForHTTPHeaderField("Content-Type").value_or("") : std::string();
    std::optional<std::string> payload;
    if (body && !body->empty()) {
        if (contentType.starts_with("application/json")) {
            payload = obfuscateResponsePayload(DIZUtility::prettyPrintJson(body));
        } else if (contentType.empty() || contentType.starts_with("text/") ||
                   contentType.starts_with("application/")) {
            const std::string text = textOf(*body);
            payload = obfuscateResponsePayload(isValidUtf8(text) ? std::optional(text) : std::nullopt);
        } else {
            payload = "<binary>";
        }
    }
    DIZLogVerbose(kDIZLogTag, "HTTP response received with status code: %tu, payload:\n%@",
                  response ? response->statusCode : 0, payload);
}

std::optional<std::string> DIZHttpIngestion::eTagFromResponse(const HTTPURLResponse* response) {
    if (!response) return std::nullopt;
    for (const auto& [name, value] : response->allHeaderFields) {
        std::string lowered = name;
        for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lowered == "etag") return value;
    }
    return std::nullopt;
}

std::string DIZHttpIngestion::baseURL() const {
    std::lock_guard lock(mutex_);
    return baseURL_;
}

std::string DIZHttpIngestion::sendURL() const {
    std::lock_guard lock(mutex_);
    return sendURL_;
}

HTTPHeaders DIZHttpIngestion::getHeadersWithData(const std::shared_ptr<DIZLogContainer>&,
                                                 const std::optional<std::string>&) {
    return {};
}

std::optional<Data> DIZHttpIngestion::getPayloadWithData(const std::shared_ptr<DIZLogContainer>&) {
    return std::nullopt;
}

std::optional<std::string> DIZHttpIngestion::obfuscateResponsePayload(
    const std::optional<std::string>&) const {
    return std::nullopt;
}

std::string DIZHttpIngestion::getHttpMethod() const {
    return "POST";
}

std::string DIZHttpIngestion::className() const {
    return "DIZHttpIngestion";
}

bool DIZHttpIngestion::refuseInvalidContainer(const std::shared_ptr<DIZLogContainer>& data,
                                              const DIZSendAsyncCompletionHandler& completionHandler) {
    if (data && data->isValid()) return false;
    Error error(kDIZErrorDomain, kDIZLogInvalidContainerErrorCode, kDIZLogInvalidContainerErrorDesc);
    DIZLogError(kDIZLogTag, "%@", error.description);
    if (completionHandler)
        completionHandler(data ? data->batchId().value_or("") : "", nullptr, std::nullopt, std::move(error));
    return true;
}
