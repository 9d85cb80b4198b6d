#pragma once
// Sends the client's requests. Every call stays pending until it has a final outcome: recoverable
// statuses, and lost connections and TLS failures while the network is up, are retried on a
// per-call timer; those failures wait for the network while it is down; a call that used up its
// retries pauses the client until the last retry interval has passed again; and a status that
// retrying cannot mend disables the client and cancels everything else.
// Handlers and the delegate are called outside the client's lock, so they may call the client
// again, from their own thread or another.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "DudIzizoz/Internals/HttpClient/DIZHttpClientProtocol.h"
#include "platform/foundation/NotificationCenter.h"

class DIZHttpCall;
class DIZ_Reachability;
class DispatchTimer;

class DIZHttpClient : public DIZHttpClientProtocol, public std::enable_shared_from_this<DIZHttpClient> {
  public:
    static inline const std::vector<double> kDefaultRetryIntervals = {10, 300, 1200};
    static constexpr const char* kRetryAfterHeader = "x-dz-retry-after-ms";
    // Seconds a request may stall before it fails, so it cannot hold a batch slot for ever.
    static constexpr double kRequestTimeout = 60;

    // No per-host limit by default; the reachability of the internet connection unless one is given.
    static std::shared_ptr<DIZHttpClient> make(std::optional<long> maxHttpConnectionsPerHost = std::nullopt,
                                               std::shared_ptr<DIZ_Reachability> reachability = nullptr);
    ~DIZHttpClient() override;

    void sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                   std::optional<Data> data, DIZHttpRequestCompletionHandler completionHandler) override;
    void sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                   std::optional<Data> data, std::vector<double> retryIntervals, bool compressionEnabled,
                   DIZHttpRequestCompletionHandler completionHandler) override;
    void pause() override;
    void resume() override;
    // Only stores the flag; setEnabled(isEnabled, deleteData) is what acts.
    void setEnabled(bool isEnabled) override;
    // Enabling makes a new session and resumes; disabling pauses and, with `deleteData`, cancels
    // the session and completes every pending call with the "canceled" error.
    void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled);
    std::shared_ptr<DIZHttpClientDelegate> delegate() const override;
    void setDelegate(std::weak_ptr<DIZHttpClientDelegate> delegate) override;

    void sendCallAsync(const std::shared_ptr<DIZHttpCall>& call);
    void requestCompletedWithHttpCall(const std::shared_ptr<DIZHttpCall>& call, std::optional<Data> data,
                                      std::shared_ptr<const HTTPURLResponse> response,
                                      std::optional<Error> error);
    void networkStateChanged(const Notification& notification);

    bool isPaused() const;
    bool isEnabled() const;
    std::vector<std::shared_ptr<DIZHttpCall>> pendingCalls() const;
    std::shared_ptr<URLSession> session() const;
    const URLSessionConfiguration& sessionConfiguration() const { return sessionConfiguration_; }
    const std::shared_ptr<DIZ_Reachability>& reachability() const { return reachability_; }

  private:
    // What leaves the client (handlers, the delegate, transfers to start): gathered while the lock
    // is held, run in order once it is released.
    using Callouts = std::vector<std::function<void()>>;

    DIZHttpClient(std::optional<long> maxHttpConnectionsPerHost,
                  std::shared_ptr<DIZ_Reachability> reachability);
    void retryFired(const std::shared_ptr<DIZHttpCall>& call);
    void resumeAfterRetries();
    static void run(const Callouts& callouts);
    // These expect the lock to be held.
    void sendLocked(const std::shared_ptr<DIZHttpCall>& call, Callouts& callouts);
    void pauseLocked();
    void resumeLocked(Callouts& callouts);
    bool isPending(const DIZHttpCall& call) const;
    void removePending(const DIZHttpCall& call);
    void pauseUntilRetriedAgain(const DIZHttpCall& call);
    bool isNetworkDown() const;

    mutable std::mutex mutex_;
    URLSessionConfiguration sessionConfiguration_;
    std::shared_ptr<URLSession> session_;
    std::shared_ptr<DIZ_Reachability> reachability_;
    std::vector<std::shared_ptr<DIZHttpCall>> pendingCalls_;
    bool paused_ = false;
    bool enabled_ = true;
    std::weak_ptr<DIZHttpClientDelegate> delegate_;
    NotificationCenter::Token observer_;
    std::shared_ptr<DispatchTimer> resumeTimer_;
};
