#pragma once
// The outside network client that the measurement library sends every request through: POSTs and
// GETs over the URL session, the reachability of one host, and its own log lines handed to a
// delegate. Each request's completion runs exactly once, always asynchronously, on the queue the
// caller passed, also for a request that could not start (status 0 and an error); a request that
// started is answered by a non-empty session ID. POST bodies travel gzip-compressed, which is this
// client's business alone.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/network/URLSession.h"

class DispatchQueue;
class NetworkReachability;

inline constexpr long kZEDUdovadeHTTPStatusOK = 200;
inline constexpr long kZEDUdovadeHTTPStatusNoContent = 204;
inline constexpr long kZEDUdovadeHTTPStatusCodeNotModified = 304;
inline constexpr long kZEDUdovadeHTTPStatusCodeNotFound = 404;
inline constexpr long kZEDUdovadeHTTPStatusCodeCannotAcceptTraffic = 429;
inline constexpr long kZEDUdovadeHTTPStatusCodeUnavailable = 503;

// The client's log levels, numbered as the system log numbers them.
enum class ZEDUdovadeLoggerLevel : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// The client's message codes: one block of its own, so that a reader of a mixed log can tell them.
namespace ZEDUdovadeMessageCode {
inline constexpr int64_t InvalidURL = 901001;
inline constexpr int64_t CompressionFailed = 901002;
inline constexpr int64_t RequestStarted = 901003;
inline constexpr int64_t RequestFinished = 901004;
inline constexpr int64_t RequestFailed = 901005;
}  // namespace ZEDUdovadeMessageCode

class ZEDUdovadeLoggerDelegate {
  public:
    virtual ~ZEDUdovadeLoggerDelegate() = default;
    virtual void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                         const std::string& message) = 0;
    virtual void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                         const std::string& message, const Value& context) = 0;
    virtual void ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                         const std::string& message, const Value::Array& contexts) = 0;
};

class ZEDUdovadeReachabilityDelegate {
  public:
    virtual ~ZEDUdovadeReachabilityDelegate() = default;
    // On the main queue, once per change of the host's reachability.
    virtual void reachabilityDidChange() = 0;
};

class ZEDUdovade : public std::enable_shared_from_this<ZEDUdovade> {
  public:
    // The response is never null: its status is 0 when no answer came, and the error says why.
    using CompletionHandler = std::function<void(std::shared_ptr<const HTTPURLResponse> response,
                                                 std::optional<Data> data, std::optional<Error> error)>;

    // Nullptr for an empty host.
    static std::shared_ptr<ZEDUdovade> initWithReachabilityHost(const std::string& host);
    ZEDUdovade(std::string reachabilityHost,
               std::shared_ptr<NetworkReachability> reachability);  // use the above
    ~ZEDUdovade();
    ZEDUdovade(const ZEDUdovade&) = delete;
    ZEDUdovade& operator=(const ZEDUdovade&) = delete;

    const std::string& reachabilityHost() const { return reachabilityHost_; }

    // Both delegates are held weakly; nullptr stops the calls.
    void setLoggerDelegate(const std::shared_ptr<ZEDUdovadeLoggerDelegate>& delegate);
    void setReachabilityDelegate(const std::shared_ptr<ZEDUdovadeReachabilityDelegate>& delegate);
    // With debug mode on, the start and end of every request are logged too (level 7); without it
    // only failures are.
    void setIsDebugModeEnabled(bool enabled);
    bool isDebugModeEnabled() const;

    // Always YES for a loopback host (a server on this machine needs no other network), else
    // whether the host's network path is reachable.
    bool isNetworkConnected() const;
    // YES from the start of a request until its completion has returned on the caller's queue, so a
    // caller that checks it from that queue never sees its own request idle before it is told.
    bool hasUploadInProgress() const;
    // Seconds without progress before a request fails with a time-out; applies to requests started
    // from now on. Values not above 0 are ignored.
    void setTimeoutInterval(double seconds);
    double timeoutInterval() const;

    // The session ID of the request, "" when it could not start. `headers` are sent as given, but
    // for "Content-Encoding", which the client sets itself. There are no background sessions here:
    // every request runs in the foreground.
    std::string postURL(const std::string& url, const std::optional<HTTPHeaders>& headers,
                        const Data& payload, std::shared_ptr<DispatchQueue> queue,
                        bool usingBackgroundSession, CompletionHandler completionHandler);
    std::string getURL(const std::string& url, const std::optional<HTTPHeaders>& headers,
                       std::shared_ptr<DispatchQueue> queue, bool usingBackgroundSession,
                       CompletionHandler completionHandler);

    // No background session ever runs here, so there is nothing to finish: the handler is called at once.
    static void handleEventsForBackgroundURLSessionID(const std::string& identifier,
                                                      const std::function<void()>& completionHandler);

  private:
    std::string start(URLRequest request, std::shared_ptr<DispatchQueue> queue, CompletionHandler handler);
    void failToStart(const URLRequest& request, Error error, const std::shared_ptr<DispatchQueue>& queue,
                     CompletionHandler handler);
    void finished(const std::string& sessionID, const HTTPURLResponse& response,
                  const std::optional<Error>& error);
    void reachabilityChanged();
    void log(ZEDUdovadeLoggerLevel level, int64_t code, const std::string& message,
             const Value::Array& contexts = {});

    const std::string reachabilityHost_;
    const std::shared_ptr<NetworkReachability> reachability_;
    const std::shared_ptr<URLSession> session_;
    // Shared with the completions, which may outlive the client.
    const std::shared_ptr<std::atomic<int>> requestsInProgress_ = std::make_shared<std::atomic<int>>(0);

    mutable std::mutex mutex_;
    std::weak_ptr<ZEDUdovadeLoggerDelegate> loggerDelegate_;
    std::weak_ptr<ZEDUdovadeReachabilityDelegate> reachabilityDelegate_;
    bool debugMode_ = false;
    double timeoutInterval_ = 60;
};
