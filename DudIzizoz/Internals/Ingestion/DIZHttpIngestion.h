#pragma once
// The shared base of the ingestions: one endpoint (base URL + API path + query), fixed headers,
// retry intervals and the HTTP client every batch goes through as one POST. It is enabled only
// while its own flag is on and network requests are allowed; a send while not enabled never
// reaches the client and answers at once with code 3. Subclasses supply the headers, the body and
// the masking of what the verbose log shows. Created through `make`, it is its client's delegate.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/HttpClient/DIZHttpClientProtocol.h"
#include "DudIzizoz/Internals/Ingestion/DIZIngestionProtocol.h"

// Query pairs, written in key order.
using DIZQueryStrings = std::map<std::string, std::string>;

class DIZHttpIngestion : public DIZIngestionProtocol,
                         public DIZHttpClientDelegate,
                         public std::enable_shared_from_this<DIZHttpIngestion> {
  public:
    static inline const std::vector<double> kDefaultRetryIntervals = {10, 300, 1200};
    static constexpr int64_t kDefaultMaxNumberOfConnections = 4;

    static std::shared_ptr<DIZHttpIngestion> make(
        std::shared_ptr<DIZHttpClientProtocol> httpClient, const std::string& baseUrl,
        const std::string& apiPath, HTTPHeaders headers, const DIZQueryStrings& queryStrings,
        std::vector<double> retryIntervals = kDefaultRetryIntervals,
        int64_t maxNumberOfConnections = kDefaultMaxNumberOfConnections);

    // A new UUID string as the call id.
    void sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                   DIZSendAsyncCompletionHandler completionHandler) override;
    void sendAsync(const std::shared_ptr<DIZLogContainer>& data, const std::optional<std::string>& eTag,
                   DIZSendAsyncCompletionHandler completionHandler) override;
    void sendAsync(const std::shared_ptr<DIZLogContainer>& data, const std::optional<std::string>& eTag,
                   const std::string& callId, DIZSendAsyncCompletionHandler completionHandler);
    bool isReadyToSend() const override;
    bool isEnabled() const override;
    // Stores the flag only: an ingestion holds no data of its own.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;

    // Moves the endpoint to a new scheme, user, password, host, port and path, keeping the query;
    // text that forms no URL leaves the endpoint as it was.
    void setBaseURL(const std::string& baseURL);
    // Empty when base and path form no URL.
    static std::string buildURLWithBaseURL(const std::string& baseURL, const std::string& apiPath,
                                           const DIZQueryStrings& queryStrings);
    // Only at verbose level, and only what `obfuscateResponsePayload` lets through.
    void printResponse(const HTTPURLResponse* response, const std::optional<Data>& body,
                       const std::optional<Error>& error) const;
    static std::optional<std::string> eTagFromResponse(const HTTPURLResponse* response);

    std::string baseURL() const;
    const std::string& apiPath() const { return apiPath_; }
    // The endpoint actually posted to.
    std::string sendURL() const;
    const HTTPHeaders& httpHeaders() const { return httpHeaders_; }
    const std::shared_ptr<DIZHttpClientProtocol>& httpClient() const { return httpClient_; }
    const std::vector<double>& callsRetryIntervals() const { return callsRetryIntervals_; }
    // Kept for whoever sizes the client; the ingestion does not apply it.
    int64_t maxNumberOfConnections() const { return maxNumberOfConnections_; }

    // What subclasses supply: nothing here.
    virtual HTTPHeaders getHeadersWithData(const std::shared_ptr<DIZLogContainer>& data,
                                           const std::optional<std::string>& eTag);
    virtual std::optional<Data> getPayloadWithData(const std::shared_ptr<DIZLogContainer>& data);
    virtual std::optional<std::string> obfuscateResponsePayload(
        const std::optional<std::string>& payload) const;
    virtual std::string getHttpMethod() const;

  protected:
    DIZHttpIngestion(std::shared_ptr<DIZHttpClientProtocol> httpClient, const std::string& baseUrl,
                     std::string apiPath, HTTPHeaders headers, const DIZQueryStrings& queryStrings,
                     std::vector<double> retryIntervals, int64_t maxNumberOfConnections);

    // Makes the new ingestion its client's delegate, replacing any earlier one.
    template <class Ingestion>
    static std::shared_ptr<Ingestion> attachedToClient(std::shared_ptr<Ingestion> ingestion) {
        ingestion->httpClient_->setDelegate(ingestion);
        return ingestion;
    }

    // Names the ingestion in its messages.
    virtual std::string className() const;

    // A missing or invalid container is answered at once with the invalid-container error, before
    // any network activity. True when it was refused.
    static bool refuseInvalidContainer(const std::shared_ptr<DIZLogContainer>& data,
                                       const DIZSendAsyncCompletionHandler& completionHandler);

  private:
    const std::string apiPath_;
    const HTTPHeaders httpHeaders_;
    const std::shared_ptr<DIZHttpClientProtocol> httpClient_;
    const std::vector<double> callsRetryIntervals_;
    const int64_t maxNumberOfConnections_;

    bool isEnabledLocked() const;

    mutable std::mutex mutex_;
    std::string baseURL_;
    std::string sendURL_;
    bool enabled_ = true;
};
