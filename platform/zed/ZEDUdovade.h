#pragma once
// The outside network layer: posts a body to a URL and hands the answer to a handler on the
// caller's queue, once. Reachability is watched on the host given at creation; how the request
// travels (compression, retries) is this layer's business.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/network/URLSession.h"

class DispatchQueue;

inline constexpr long kZEDUdovadeHTTPStatusOK = 200;
inline constexpr long kZEDUdovadeHTTPStatusNoContent = 204;
inline constexpr long kZEDUdovadeHTTPStatusCodeUnavailable = 503;
inline constexpr long kZEDUdovadeHTTPStatusCodeCannotAcceptTraffic = 429;

class ZEDUdovade {
  public:
    // The response is null when no answer came; the error then says why.
    using CompletionHandler = std::function<void(std::shared_ptr<const HTTPURLResponse> response,
                                                 std::optional<Data> data, std::optional<Error> error)>;

    explicit ZEDUdovade(std::string reachabilityHost);
    static std::shared_ptr<ZEDUdovade> initWithReachabilityHost(std::string host);
    virtual ~ZEDUdovade();

    const std::string& reachabilityHost() const { return reachabilityHost_; }
    // Runs `completionHandler` once on `queue` with the HTTP response, the answer's bytes and an
    // error. A background session is not available here; the request goes in the foreground.
    virtual void postURL(const std::string& url, const Data& payload, std::shared_ptr<DispatchQueue> queue,
                         bool usingBackgroundSession, CompletionHandler completionHandler);

  private:
    const std::string reachabilityHost_;
    const std::shared_ptr<URLSession> session_;
};
