#pragma once
// Posts Dud Izizoz batches as {"logs":[...]} to <log URL>/logs?api-version=1.0.0, with the install
// id and the app secret in its headers. Ready to send only once the app secret is set; an invalid
// container answers at once with code 1, before any network activity. The verbose request log
// shows the secret masked.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Ingestion/DIZHttpIngestion.h"

class DIZDudIzizozIngestion : public DIZHttpIngestion {
  public:
    static constexpr const char* kApiPath = "/logs";
    static constexpr const char* kAppSecretHeader = "App-Secret";

    static std::shared_ptr<DIZDudIzizozIngestion> make(std::shared_ptr<DIZHttpClientProtocol> httpClient,
                                                       const std::string& baseUrl,
                                                       const std::string& installId);

    using DIZHttpIngestion::sendAsync;
    // Answers with the container's batch id in place of the call id.
    void sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                   DIZSendAsyncCompletionHandler completionHandler) override;
    bool isReadyToSend() const override;

    HTTPHeaders getHeadersWithData(const std::shared_ptr<DIZLogContainer>& data,
                                   const std::optional<std::string>& eTag) override;
    std::optional<Data> getPayloadWithData(const std::shared_ptr<DIZLogContainer>& data) override;
    std::optional<std::string> obfuscateResponsePayload(
        const std::optional<std::string>& payload) const override;
    void willSendHTTPRequestToURL(const std::string& url, const HTTPHeaders& headers) override;

    std::optional<std::string> appSecret() const;
    void setAppSecret(std::optional<std::string> appSecret);

  protected:
    std::string className() const override { return "DIZDudIzizozIngestion"; }

  private:
    using DIZHttpIngestion::DIZHttpIngestion;

    mutable std::mutex secretMutex_;
    std::optional<std::string> appSecret_;
};
