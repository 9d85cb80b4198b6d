#pragma once
// Posts batches of Core Schema logs to <base URL>/DidOzodozuda/1.0 as a stream of JSON lines, one
// compact object per log, each ending in a line feed. The headers carry the distinct target tokens
// of the batch ("apikey"), the upload time and, when the ticket cache holds any of the logs' ticket
// keys, their tickets. An invalid container answers at once with code 1, before any network
// activity. The verbose logs show tokens, tickets and tokens in answers masked.
#include <memory>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Ingestion/DIZHttpIngestion.h"

class DIZDidOzodozudaIngestion : public DIZHttpIngestion {
  public:
    static constexpr int64_t kMaxNumberOfConnections = 2;

    static std::shared_ptr<DIZDidOzodozudaIngestion> make(std::shared_ptr<DIZHttpClientProtocol> httpClient,
                                                          const std::string& baseUrl);

    using DIZHttpIngestion::sendAsync;
    // Answers with the container's batch id in place of the call id.
    void sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                   DIZSendAsyncCompletionHandler completionHandler) override;

    HTTPHeaders getHeadersWithData(const std::shared_ptr<DIZLogContainer>& data,
                                   const std::optional<std::string>& eTag) override;
    std::optional<Data> getPayloadWithData(const std::shared_ptr<DIZLogContainer>& data) override;
    // The value of every "token" key becomes "***".
    std::optional<std::string> obfuscateResponsePayload(
        const std::optional<std::string>& payload) const override;
    // Each comma-separated token shows only its last 8 characters.
    static std::string obfuscateTargetTokens(const std::string& tokens);
    // Inside each ticket value, everything from its first ":" on becomes ":***".
    static std::string obfuscateTickets(const std::string& tickets);
    void willSendHTTPRequestToURL(const std::string& url, const HTTPHeaders& headers) override;

  protected:
    std::string className() const override { return "DIZDidOzodozudaIngestion"; }

  private:
    using DIZHttpIngestion::DIZHttpIngestion;
};
