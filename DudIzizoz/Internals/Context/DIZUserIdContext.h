#pragma once
// Which user id was current when, persisted under "UserIdHistory", and the user-id rules of the two
// back ends. Delegates hear of every change to a different id.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Context/DIZUserIdHistoryInfo.h"
#include "DudIzizoz/Internals/Model/DIZUserIdPrefix.h"

class DIZUserIdContext;

class DIZUserIdContextDelegate {
  public:
    virtual ~DIZUserIdContextDelegate() = default;
    // The user id changed to `userId`.
    virtual void userIdContext(DIZUserIdContext& /*context*/, const std::optional<std::string>& /*userId*/) {}
};

inline constexpr size_t kDIZUserIdMaxLength = 256;  // UTF-16 units

class DIZUserIdContext {
  public:
    // The first call reads the stored history, adds this run's entry and stores it at once.
    static std::shared_ptr<DIZUserIdContext> sharedInstance();
    static void resetSharedInstance();

    std::optional<std::string> userId() const;
    // An id equal to the current one changes nothing and tells no delegate.
    void setUserId(std::optional<std::string> userId);
    // The id of the newest entry strictly earlier than `date`.
    std::optional<std::string> userIdAt(const Date& date) const;
    // The same, this run's entry left out: for what happened in an earlier run, such as its crash.
    std::optional<std::string> userIdOfEarlierRunAt(const Date& date) const;
    // Keeps only this run's entry.
    void clearUserIdHistory();

    // Held weakly; called on the thread that set the id, after the context's lock is released.
    void addDelegate(const std::shared_ptr<DIZUserIdContextDelegate>& delegate);
    void removeDelegate(const std::shared_ptr<DIZUserIdContextDelegate>& delegate);

    // A copy of the history, oldest first.
    std::vector<DIZUserIdHistoryInfo> userIdHistory() const;

    // Each logs its reason at error level when it answers false.
    static bool isUserIdValidForDudIzizoz(const std::optional<std::string>& userId);
    static bool isUserIdValidForDidOzodozuda(const std::optional<std::string>& userId);
    // "c:" in front of an id that holds no ":".
    static std::optional<std::string> prefixedUserIdFromUserId(const std::optional<std::string>& userId);

    DIZUserIdContext();  // use sharedInstance()

  private:
    void save() const;

    mutable std::mutex lock_;
    std::shared_ptr<DIZUserIdHistoryInfo> currentUserIdInfo_;
    std::vector<std::shared_ptr<DIZUserIdHistoryInfo>> userIdHistory_;
    std::vector<std::weak_ptr<DIZUserIdContextDelegate>> delegates_;
};
