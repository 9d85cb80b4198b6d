#pragma once
// Decides when a usage session begins, announces each new one with a start-session log to its
// delegate, and stamps the current session id on every other log that a channel of the client
// enqueues. A new session needs both 20 s without a stamped log and a stay of 20 s or more out of
// the active state (current or just ended). In manual mode sessions change only on request.
// Every "now" comes from the process clock; the notification handlers run on the posting thread
// and `channelPrepareLog` on the enqueuing one, all under the tracker's own lock, which is
// recursive because a new session's log comes back through `channelPrepareLog`.
#include <memory>
#include <mutex>
#include <optional>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NotificationCenter.h"

class DIZSessionContext;
class DIZSessionTracker;
class DIZStartSessionLog;

class DIZSessionTrackerDelegate {
  public:
    virtual ~DIZSessionTrackerDelegate() = default;
    virtual void sessionTrackerProcessLog(DIZSessionTracker& tracker,
                                          const std::shared_ptr<DIZStartSessionLog>& log) = 0;
};

class DIZSessionTracker : public DIZChannelDelegate, public std::enable_shared_from_this<DIZSessionTracker> {
  public:
    static constexpr double kSessionTimeout = 20.0;  // seconds

    // Takes the shared session context and removes the legacy key "PastSessions".
    DIZSessionTracker();

    // Held weakly: the service that owns the tracker is its delegate.
    void setDelegate(std::weak_ptr<DIZSessionTrackerDelegate> delegate);
    // Begins automatic tracking: a session at once when the application is active, and the
    // application's resign-active and will-become-active notifications from then on.
    void start();
    // Ends automatic tracking and clears the current session id.
    void stop();
    bool isStarted() const;
    // Only before start.
    void enableManualSessionTracker();
    bool isManualSessionTrackerEnabled() const;
    // In manual mode, a new session now.
    void startSession();
    // A new session when none is current or the current one timed out.
    void renewSessionId();
    void sendStartSession();
    bool hasSessionTimedOut() const;

    void applicationDidEnterBackground();
    void applicationWillEnterForeground();

    void channelPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;

  private:
    mutable std::recursive_mutex lock_;
    bool started_ = false;
    bool manualSessionTrackerEnabled_ = false;
    std::weak_ptr<DIZSessionTrackerDelegate> delegate_;
    std::optional<Date> lastCreatedLogTime_;
    std::optional<Date> lastEnteredForegroundTime_;
    std::optional<Date> lastEnteredBackgroundTime_;
    std::shared_ptr<DIZSessionContext> context_;
    NotificationCenter::Token didResignActive_, willBecomeActive_;
};
