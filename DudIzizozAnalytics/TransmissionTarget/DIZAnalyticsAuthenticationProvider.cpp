#include "DudIzizozAnalytics/TransmissionTarget/DIZAnalyticsAuthenticationProvider.h"

#include <cmath>

#include "DudIzizoz/Internals/Ingestion/DIZTicketCache.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

namespace {

constexpr const char* kLogTag = "DudIzizozAnalytics";

int64_t wholeSecondsSince1970(const Date& date) {
    return static_cast<int64_t>(std::trunc(date.timeIntervalSince1970()));
}

}  // namespace

std::shared_ptr<DIZAnalyticsAuthenticationProvider>
DIZAnalyticsAuthenticationProvider::initWithAuthenticationType(
    DIZAnalyticsAuthenticationType type, const std::optional<std::string>& ticketKey,
    const std::shared_ptr<DIZAnalyticsAuthenticationProviderDelegate>& delegate) {
    return std::shared_ptr<DIZAnalyticsAuthenticationProvider>(
        new DIZAnalyticsAuthenticationProvider(type, ticketKey, delegate));
}

DIZAnalyticsAuthenticationProvider::DIZAnalyticsAuthenticationProvider(
    DIZAnalyticsAuthenticationType type, std::optional<std::string> ticketKey,
    const std::shared_ptr<DIZAnalyticsAuthenticationProviderDelegate>& delegate)
    : type_(type),
      ticketKey_(std::move(ticketKey)),
      ticketKeyHash_(ticketKey_ ? std::optional(DIZUtility::sha256(*ticketKey_)) : std::nullopt),
      delegate_(delegate) {}

std::optional<Date> DIZAnalyticsAuthenticationProvider::expiryDate() const {
    std::lock_guard lock(mutex_);
    return expiryDate_;
}

void DIZAnalyticsAuthenticationProvider::acquireTokenAsync() {
    auto delegate = delegate_.lock();
    if (!delegate) {
        DIZLogError(kLogTag, "No completionhandler to acquire token has been set.");
        return;
    }
    auto handler = std::make_shared<DIZAcquireTokenCompletionBlock>();
    {
        std::lock_guard lock(mutex_);
        if (completionHandler_) return;
        completionHandler_ = handler;
    }
    // The block the host holds names its request only weakly: once that request is answered, a
    // second call of the same block matches no request and changes nothing.
    std::weak_ptr<DIZAnalyticsAuthenticationProvider> weakSelf = weak_from_this();
    std::weak_ptr<const DIZAcquireTokenCompletionBlock> request = handler;
    *handler = [weakSelf, request](const std::optional<std::string>& token,
                                   const std::optional<Date>& expiryDate) {
        if (auto self = weakSelf.lock()) self->handleTokenUpdateWithToken(token, expiryDate, request.lock());
    };
    delegate->authenticationProvider(shared_from_this(), *handler);
}

void DIZAnalyticsAuthenticationProvider::handleTokenUpdateWithToken(
    const std::optional<std::string>& token, const std::optional<Date>& expiryDate,
    const std::shared_ptr<const DIZAcquireTokenCompletionBlock>& completionHandler) {
    std::lock_guard lock(mutex_);
    if (!completionHandler || completionHandler != completionHandler_) return;
    completionHandler_.reset();
    DIZLogDebug(kLogTag, "Got result back from DZAcquireTokenCompletionBlock.");
    if (!token) {
        DIZLogError(kLogTag, "Token must not be null");
        return;
    }
    if (!expiryDate) {
        DIZLogError(kLogTag, "Date must not be null");
        return;
    }
    auto ticket = ticketFor(*token);
    if (!ticket) {
        DIZLogError(kLogTag, "Authentication type %llu has no ticket prefix; the token is not stored.",
                    static_cast<unsigned long long>(type_));
        return;
    }
    if (!ticketKeyHash_) {
        DIZLogError(kLogTag, "Ticket key must not be null; the token is not stored.");
        return;
    }
    DIZTicketCache::sharedInstance()->setTicket(*ticket, *ticketKeyHash_);
    expiryDate_ = expiryDate;
}

void DIZAnalyticsAuthenticationProvider::checkTokenExpiry() {
    {
        std::lock_guard lock(mutex_);
        if (!expiryDate_) return;
        int64_t now = wholeSecondsSince1970(Date::now());
        if (now + static_cast<int64_t>(kRefreshMargin) < wholeSecondsSince1970(*expiryDate_)) return;
    }
    // Outside the lock: a delegate that answers at once re-enters through the completion handler.
    acquireTokenAsync();
}

std::optional<std::string> DIZAnalyticsAuthenticationProvider::ticketFor(const std::string& token) const {
    switch (type_) {
        case DIZAnalyticsAuthenticationType::Personal:
            return "p:" + token;
        case DIZAnalyticsAuthenticationType::Delegated:
            return "d:" + token;
    }
    return std::nullopt;
}
