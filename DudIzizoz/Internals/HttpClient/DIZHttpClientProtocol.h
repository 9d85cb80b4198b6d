#pragma once
// What the ingestions send through: an HTTP client with retries that can be paused and disabled.
// A call's handler receives (response body or nothing, HTTP response or null, error or nothing).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/network/URLSession.h"

using DIZHttpRequestCompletionHandler =
    std::function<void(std::optional<Data> responseBody, std::shared_ptr<const HTTPURLResponse> response,
                       std::optional<Error> error)>;

class DIZHttpClientDelegate {
  public:
    virtual ~DIZHttpClientDelegate() = default;
    // Just before a request goes out, with the headers it carries.
    virtual void willSendHTTPRequestToURL(const std::string& url, const HTTPHeaders& headers) {
        (void)url;
        (void)headers;
    }
};

class DIZHttpClientProtocol {
  public:
    virtual ~DIZHttpClientProtocol() = default;

    // Retries after 10, 300 and 1200 seconds, with compression.
    virtual void sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                           std::optional<Data> data, DIZHttpRequestCompletionHandler completionHandler) = 0;
    virtual void sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                           std::optional<Data> data, std::vector<double> retryIntervals,
                           bool compressionEnabled, DIZHttpRequestCompletionHandler completionHandler) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setEnabled(bool isEnabled) = 0;
    virtual std::shared_ptr<DIZHttpClientDelegate> delegate() const = 0;
    virtual void setDelegate(std::weak_ptr<DIZHttpClientDelegate> delegate) = 0;
};
