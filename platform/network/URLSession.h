#pragma once
// URL loading: sessions made from a configuration hand out data tasks; each task, once resumed,
// completes exactly once with (body, HTTP response, error) on the session's serial delegate queue.
// Failures carry kURLErrorDomain and one of the URLError codes. A request's time-out runs on the
// process clock and restarts whenever bytes move.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

namespace URLError {
inline constexpr int64_t Unknown = -1;
inline constexpr int64_t Cancelled = -999;
inline constexpr int64_t BadURL = -1000;
inline constexpr int64_t TimedOut = -1001;
inline constexpr int64_t UnsupportedURL = -1002;
inline constexpr int64_t CannotFindHost = -1003;
inline constexpr int64_t CannotConnectToHost = -1004;
inline constexpr int64_t NetworkConnectionLost = -1005;
inline constexpr int64_t HTTPTooManyRedirects = -1007;
inline constexpr int64_t NotConnectedToInternet = -1009;
inline constexpr int64_t BadServerResponse = -1011;
inline constexpr int64_t DataLengthExceedsMaximum = -1103;
inline constexpr int64_t SecureConnectionFailed = -1200;
inline constexpr int64_t ServerCertificateUntrusted = -1202;
inline constexpr int64_t ClientCertificateRejected = -1205;
}  // namespace URLError

// Header fields by name. Requests send them as given; lookups in responses ignore case.
using HTTPHeaders = std::map<std::string, std::string>;

struct URLRequest {
    std::string url;
    std::string httpMethod = "GET";
    HTTPHeaders allHTTPHeaderFields;
    std::optional<Data> httpBody;
    // Seconds without progress before the task fails with TimedOut; 0 takes the session's value.
    double timeoutInterval = 0;
};

struct HTTPURLResponse {
    std::string url;
    long statusCode = 0;
    // The body's length as the answer announced it (the bytes on the wire, compressed or not); -1
    // when it did not.
    int64_t expectedContentLength = -1;
    HTTPHeaders allHeaderFields;  // repeated fields are joined with ", "

    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
};

struct URLSessionConfiguration {
    static URLSessionConfiguration defaultSessionConfiguration() { return {}; }
    std::optional<long> httpMaximumConnectionsPerHost;  // none: no limit of ours
    double timeoutIntervalForRequest = 60;
    // The most answer-body bytes a task keeps; a longer answer fails with DataLengthExceedsMaximum,
    // so a server cannot make the process hold an answer of any size.
    size_t maximumResponseBodyLength = 4 * 1024 * 1024;
};

class URLSessionDataTask {
  public:
    virtual ~URLSessionDataTask() = default;
    // Starts the transfer; a second call does nothing.
    virtual void resume() = 0;
    // Ends the task with the Cancelled error unless it has completed already.
    virtual void cancel() = 0;
};

class URLSession {
  public:
    using CompletionHandler =
        std::function<void(std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> response,
                           std::optional<Error> error)>;

    static std::shared_ptr<URLSession> sessionWithConfiguration(const URLSessionConfiguration& configuration);
    // Dropping a session that was not invalidated cancels its tasks.
    virtual ~URLSession() = default;

    const URLSessionConfiguration& configuration() const { return configuration_; }

    // A task of an invalidated session completes with Cancelled as soon as it is resumed.
    virtual std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(URLRequest request,
                                                                    CompletionHandler completionHandler) = 0;
    // Takes no new tasks; running ones finish (or are cut off at process exit).
    virtual void finishTasksAndInvalidate() = 0;
    // Takes no new tasks and cancels the running ones.
    virtual void invalidateAndCancel() = 0;

  protected:
    explicit URLSession(URLSessionConfiguration configuration) : configuration_(std::move(configuration)) {}

  private:
    URLSessionConfiguration configuration_;
};
