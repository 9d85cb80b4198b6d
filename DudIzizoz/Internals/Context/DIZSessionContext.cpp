#include "DudIzizoz/Internals/Context/DIZSessionContext.h"

#include "DudIzizoz/Internals/Context/DIZHistory.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constexpr const char* kDIZSessionIdHistoryKey = "SessionIdHistory";

constinit SharedInstance<DIZSessionContext> sharedContext;
}  // namespace

std::shared_ptr<DIZSessionContext> DIZSessionContext::sharedInstance() {
    return sharedContext.get();
}

void DIZSessionContext::resetSharedInstance() {
    sharedContext.reset();
}

DIZSessionContext::DIZSessionContext()
    : sessionHistory_(DIZLoadHistory<DIZSessionHistoryInfo>(kDIZSessionIdHistoryKey)) {
    DIZLogDebug(kDIZLogTag, "%tu session(s) in the history.", sessionHistory_.size());
    currentSessionInfo_ = std::make_shared<DIZSessionHistoryInfo>(Date::now(), std::nullopt);
    sessionHistory_.push_back(currentSessionInfo_);
}

std::optional<std::string> DIZSessionContext::sessionId() const {
    std::lock_guard guard(lock_);
    return currentSessionInfo_->sessionId();
}

void DIZSessionContext::setSessionId(std::optional<std::string> sessionId) {
    std::lock_guard guard(lock_);
    if (!sessionHistory_.empty()) sessionHistory_.pop_back();
    currentSessionInfo_->setSessionId(std::move(sessionId));
    currentSessionInfo_->setTimestamp(Date::now());
    sessionHistory_.push_back(currentSessionInfo_);
    save();
    DIZLogVerbose(kDIZLogTag, "Stored new session with id:%@ and timestamp: %@.",
                  currentSessionInfo_->sessionId(), currentSessionInfo_->timestamp());
}

std::optional<std::string> DIZSessionContext::sessionIdAt(const Date& date) const {
    std::lock_guard guard(lock_);
    auto entry = DIZEntryBefore(sessionHistory_, date);
    return entry ? entry->sessionId() : std::nullopt;
}

// A crash time is known to the second only, so a run started within the crash's second would
// otherwise answer for the run that crashed.
std::optional<std::string> DIZSessionContext::sessionIdOfEarlierRunAt(const Date& date) const {
    std::lock_guard guard(lock_);
    auto entry = DIZEntryBefore(sessionHistory_, date, currentSessionInfo_);
    return entry ? entry->sessionId() : std::nullopt;
}

void DIZSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
    std::lock_guard guard(lock_);
    sessionHistory_.clear();
    if (keepCurrentSession) sessionHistory_.push_back(currentSessionInfo_);
    save();
    DIZLogVerbose(kDIZLogTag, "Cleared old sessions.");
}

std::vector<DIZSessionHistoryInfo> DIZSessionContext::sessionHistory() const {
    std::lock_guard guard(lock_);
    std::vector<DIZSessionHistoryInfo> copy;
    for (const auto& entry : sessionHistory_) copy.push_back(*entry);
    return copy;
}

void DIZSessionContext::save() const {
    DIZSaveHistory(sessionHistory_, kDIZSessionIdHistoryKey);
}
