#include "DudIzizoz/Internals/Ingestion/DIZDudIzizozIngestion.h"

#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"
#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

std::shared_ptr<DIZDudIzizozIngestion> DIZDudIzizozIngestion::make(
    std::shared_ptr<DIZHttpClientProtocol> httpClient, const std::string& baseUrl,
    const std::string& installId) {
    HTTPHeaders headers = {{"Content-Type", "application/json"}, {"Install-ID", installId}};
    return attachedToClient(std::shared_ptr<DIZDudIzizozIngestion>(new DIZDudIzizozIngestion(
        std::move(httpClient), baseUrl, kApiPath, std::move(headers), {{"api-version", "1.0.0"}},
        kDefaultRetryIntervals, kDefaultMaxNumberOfConnections)));
}

void DIZDudIzizozIngestion::sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                                      DIZSendAsyncCompletionHandler completionHandler) {
    if (refuseInvalidContainer(data, completionHandler)) return;
    const std::string batchId = data->batchId().value_or("");
    // The channel unit keeps no logs for an ingestion that is not ready, so none should come here.
    if (!isReadyToSend()) {
        DIZLogError(kDIZLogTag, "DudIzizoz ingestion is used without app secret.");
        return;
    }
    DIZHttpIngestion::sendAsync(data, [batchId, completionHandler = std::move(completionHandler)](
                                          const std::string&, std::shared_ptr<const HTTPURLResponse> response,
                                          std::optional<Data> body, std::optional<Error> error) {
        if (completionHandler)
            completionHandler(batchId, std::move(response), std::move(body), std::move(error));
    });
}

bool DIZDudIzizozIngestion::isReadyToSend() const {
    return appSecret().has_value();
}

HTTPHeaders DIZDudIzizozIngestion::getHeadersWithData(const std::shared_ptr<DIZLogContainer>&,
                                                      const std::optional<std::string>&) {
    HTTPHeaders headers = httpHeaders();
    if (auto secret = appSecret()) headers[kAppSecretHeader] = *secret;
    return headers;
}

std::optional<Data> DIZDudIzizozIngestion::getPayloadWithData(const std::shared_ptr<DIZLogContainer>& data) {
    if (!data) return std::nullopt;
    const auto json = data->serializeLog();
    if (!json) return std::nullopt;
    return dataFromString(*json);
}

std::optional<std::string> DIZDudIzizozIngestion::obfuscateResponsePayload(
    const std::optional<std::string>& payload) const {
    return payload;
}

void DIZDudIzizozIngestion::willSendHTTPRequestToURL(const std::string& url, const HTTPHeaders& headers) {
    if (DIZLogger::currentLogLevel() > DIZLogLevel::Verbose) return;
    std::string lines;
    for (const auto& [name, value] : headers) {
        if (!lines.empty()) lines += ", ";
        lines += name + " = " + (name == kAppSecretHeader ? DIZHttpUtil::hideSecret(value) : value);
    }
    DIZLogVerbose(kDIZLogTag, "URL: %@", url);
    DIZLogVerbose(kDIZLogTag, "Headers: %@", lines);
}

std::optional<std::string> DIZDudIzizozIngestion::appSecret() const {
    std::lock_guard lock(secretMutex_);
    return appSecret_;
}

void DIZDudIzizozIngestion::setAppSecret(std::optional<std::string> appSecret) {
    std::lock_guard lock(secretMutex_);
    appSecret_ = std::move(appSecret);
}
