#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"

#include "DudIzizoz/Internals/Context/DIZHistory.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/Unicode.h"

namespace {
constexpr const char* kDIZUserIdHistoryKey = "UserIdHistory";

constinit SharedInstance<DIZUserIdContext> sharedContext;
}  // namespace

std::shared_ptr<DIZUserIdContext> DIZUserIdContext::sharedInstance() {
    return sharedContext.get();
}

void DIZUserIdContext::resetSharedInstance() {
    sharedContext.reset();
}

DIZUserIdContext::DIZUserIdContext()
    : userIdHistory_(DIZLoadHistory<DIZUserIdHistoryInfo>(kDIZUserIdHistoryKey)) {
    DIZLogDebug(kDIZLogTag, "%tu userId(s) in the history.", userIdHistory_.size());
    currentUserIdInfo_ = std::make_shared<DIZUserIdHistoryInfo>(Date::now(), std::nullopt);
    userIdHistory_.push_back(currentUserIdInfo_);
    save();
}

std::optional<std::string> DIZUserIdContext::userId() const {
    std::lock_guard guard(lock_);
    return currentUserIdInfo_->userId();
}

void DIZUserIdContext::setUserId(std::optional<std::string> userId) {
    std::vector<std::shared_ptr<DIZUserIdContextDelegate>> delegates;
    {
        std::lock_guard guard(lock_);
        if (userId == currentUserIdInfo_->userId()) return;
        currentUserIdInfo_->setTimestamp(Date::now());
        currentUserIdInfo_->setUserId(userId);
        if (!userIdHistory_.empty()) userIdHistory_.pop_back();
        userIdHistory_.push_back(currentUserIdInfo_);
        save();
        DIZLogVerbose(kDIZLogTag, "Stored new userId:%@ and timestamp: %@.", userId,
                      currentUserIdInfo_->timestamp());
        for (const auto& held : delegates_) {
            if (auto delegate = held.lock()) delegates.push_back(std::move(delegate));
        }
    }
    for (const auto& delegate : delegates) delegate->userIdContext(*this, userId);
}

std::optional<std::string> DIZUserIdContext::userIdAt(const Date& date) const {
    std::lock_guard guard(lock_);
    auto entry = DIZEntryBefore(userIdHistory_, date);
    return entry ? entry->userId() : std::nullopt;
}

// A crash time is known to the second only, so a run started within the crash's second would
// otherwise answer for the run that crashed.
std::optional<std::string> DIZUserIdContext::userIdOfEarlierRunAt(const Date& date) const {
    std::lock_guard guard(lock_);
    auto entry = DIZEntryBefore(userIdHistory_, date, currentUserIdInfo_);
    return entry ? entry->userId() : std::nullopt;
}

void DIZUserIdContext::clearUserIdHistory() {
    std::lock_guard guard(lock_);
    userIdHistory_.assign({currentUserIdInfo_});
    save();
    DIZLogVerbose(kDIZLogTag, "Cleared old userIds while keeping current userId.");
}

void DIZUserIdContext::addDelegate(const std::shared_ptr<DIZUserIdContextDelegate>& delegate) {
    std::lock_guard guard(lock_);
    if (!delegate) return;
    for (const auto& held : delegates_) {
        if (held.lock() == delegate) return;
    }
    delegates_.push_back(delegate);
}

void DIZUserIdContext::removeDelegate(const std::shared_ptr<DIZUserIdContextDelegate>& delegate) {
    std::lock_guard guard(lock_);
    std::erase_if(delegates_, [&](const auto& held) {
        auto live = held.lock();
        return !live || live == delegate;
    });
}

std::vector<DIZUserIdHistoryInfo> DIZUserIdContext::userIdHistory() const {
    std::lock_guard guard(lock_);
    std::vector<DIZUserIdHistoryInfo> copy;
    for (const auto& entry : userIdHistory_) copy.push_back(*entry);
    return copy;
}

void DIZUserIdContext::save() const {
    DIZSaveHistory(userIdHistory_, kDIZUserIdHistoryKey);
}

bool DIZUserIdContext::isUserIdValidForDudIzizoz(const std::optional<std::string>& userId) {
    if (userId && utf16Length(*userId) > kDIZUserIdMaxLength) {
        DIZLogError(kDIZLogTag, "userId is limited to %d characters.", kDIZUserIdMaxLength);
        return false;
    }
    return true;
}

bool DIZUserIdContext::isUserIdValidForDidOzodozuda(const std::optional<std::string>& userId) {
    if (!userId) return true;
    if (userId->empty()) {
        DIZLogError(kDIZLogTag, "userId must not be empty.");
        return false;
    }
    size_t separator = userId->find(':');
    if (separator == std::string::npos) return true;
    std::string prefix = userId->substr(0, separator);
    if (prefix != kDIZUserIdPrefix) {
        DIZLogError(kDIZLogTag, "userId prefix must be '%@', '%@' is not supported.", kDIZUserIdPrefix,
                    prefix);
        return false;
    }
    if (separator == userId->size() - 1) {
        DIZLogError(kDIZLogTag, "userId must not be empty.");
        return false;
    }
    return true;
}

std::optional<std::string> DIZUserIdContext::prefixedUserIdFromUserId(
    const std::optional<std::string>& userId) {
    return DIZPrefixedUserId(userId);
}
