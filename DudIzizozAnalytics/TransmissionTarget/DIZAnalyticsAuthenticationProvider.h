#pragma once
// Gets user authentication tokens for Did Ozodozuda from the host, through its delegate, and keeps
// the current one as a ticket ("p:<token>" for type 0, "d:<token>" for type 1) in the core's ticket
// cache under the SHA-256 of the ticket key. At most one request is in flight; a token is asked
// for again once it is within 600 s of its expiry. Any thread may call; the delegate is called
// outside the provider's lock and may answer at any later time, on any thread, or at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"

class DIZAnalyticsAuthenticationProvider;

enum class DIZAnalyticsAuthenticationType : uint64_t {
    Personal = 0,
    Delegated = 1,
};

// The host's answer: the token and when it expires.
using DIZAcquireTokenCompletionBlock =
    std::function<void(const std::optional<std::string>& token, const std::optional<Date>& expiryDate)>;

class DIZAnalyticsAuthenticationProviderDelegate {
  public:
    virtual ~DIZAnalyticsAuthenticationProviderDelegate() = default;
    virtual void authenticationProvider(const std::shared_ptr<DIZAnalyticsAuthenticationProvider>& provider,
                                        DIZAcquireTokenCompletionBlock completionHandler) = 0;
};

class DIZAnalyticsAuthenticationProvider
    : public std::enable_shared_from_this<DIZAnalyticsAuthenticationProvider> {
  public:
    static constexpr double kRefreshMargin = 600;

    // `type` is kept as given: a type without a ticket prefix has its deliveries refused.
    static std::shared_ptr<DIZAnalyticsAuthenticationProvider> initWithAuthenticationType(
        DIZAnalyticsAuthenticationType type, const std::optional<std::string>& ticketKey,
        const std::shared_ptr<DIZAnalyticsAuthenticationProviderDelegate>& delegate);

    DIZAnalyticsAuthenticationType type() const { return type_; }
    const std::optional<std::string>& ticketKey() const { return ticketKey_; }
    // Lower-case hex SHA-256 of the ticket key; nullopt without one.
    const std::optional<std::string>& ticketKeyHash() const { return ticketKeyHash_; }
    std::shared_ptr<DIZAnalyticsAuthenticationProviderDelegate> delegate() const { return delegate_.lock(); }
    std::optional<Date> expiryDate() const;

    // Asks the delegate for a token unless a request is already in flight.
    void acquireTokenAsync();
    // Takes a delivered token when `completionHandler` is the handler of the request in flight.
    void handleTokenUpdateWithToken(
        const std::optional<std::string>& token, const std::optional<Date>& expiryDate,
        const std::shared_ptr<const DIZAcquireTokenCompletionBlock>& completionHandler);
    // Asks for a new token when the current one expires within the refresh margin.
    void checkTokenExpiry();

  private:
    DIZAnalyticsAuthenticationProvider(
        DIZAnalyticsAuthenticationType type, std::optional<std::string> ticketKey,
        const std::shared_ptr<DIZAnalyticsAuthenticationProviderDelegate>& delegate);
    std::optional<std::string> ticketFor(const std::string& token) const;

    const DIZAnalyticsAuthenticationType type_;
    const std::optional<std::string> ticketKey_;
    const std::optional<std::string> ticketKeyHash_;
    const std::weak_ptr<DIZAnalyticsAuthenticationProviderDelegate> delegate_;
    mutable std::mutex mutex_;  // guards the two fields below
    std::optional<Date> expiryDate_;
    std::shared_ptr<const DIZAcquireTokenCompletionBlock> completionHandler_;
};
