#pragma once
// Which session id was current when: one entry per process run (the last session of that run and
// the time it began), persisted under "SessionIdHistory" so that a crash found at the next launch
// still gets the session it happened in.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Context/DIZSessionHistoryInfo.h"

class DIZSessionContext {
  public:
    // The first call reads the stored history and adds this run's entry to it.
    static std::shared_ptr<DIZSessionContext> sharedInstance();
    static void resetSharedInstance();

    std::optional<std::string> sessionId() const;
    // Replaces this run's entry: the new id (or none), stamped now.
    void setSessionId(std::optional<std::string> sessionId);
    // The id of the newest entry strictly earlier than `date`.
    std::optional<std::string> sessionIdAt(const Date& date) const;
    // The same, this run's entry left out: for what happened in an earlier run, such as its crash.
    std::optional<std::string> sessionIdOfEarlierRunAt(const Date& date) const;
    void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);

    // A copy of the history, oldest first.
    std::vector<DIZSessionHistoryInfo> sessionHistory() const;

    DIZSessionContext();  // use sharedInstance()

  private:
    void save() const;

    mutable std::mutex lock_;
    std::shared_ptr<DIZSessionHistoryInfo> currentSessionInfo_;
    std::vector<std::shared_ptr<DIZSessionHistoryInfo>> sessionHistory_;
};
