#pragma once
// Authentication tickets by the SHA-256 hex of their ticket key, filled by the analytics
// authentication provider and read when the Did Ozodozuda ingestion builds its "Tickets" header.
// Safe to use from any thread.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class DIZTicketCache {
  public:
    static std::shared_ptr<DIZTicketCache> sharedInstance();

    std::optional<std::string> ticketFor(const std::string& key) const;
    // No ticket removes the entry.
    void setTicket(const std::optional<std::string>& ticket, const std::string& key);
    void clearCache();

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> tickets_;
};
