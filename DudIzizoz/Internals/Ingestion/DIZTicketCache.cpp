#include "DudIzizoz/Internals/Ingestion/DIZTicketCache.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<DIZTicketCache> sharedCache;
}  // namespace

std::shared_ptr<DIZTicketCache> DIZTicketCache::sharedInstance() {
    return sharedCache.get();
}

std::optional<std::string> DIZTicketCache::ticketFor(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = tickets_.find(key);
    if (found == tickets_.end()) return std::nullopt;
    return found->second;
}

void DIZTicketCache::setTicket(const std::optional<std::string>& ticket, const std::string& key) {
    std::lock_guard lock(mutex_);
    if (ticket) {
        tickets_[key] = *ticket;
    } else {
        tickets_.erase(key);
    }
}

void DIZTicketCache::clearCache() {
    std::lock_guard lock(mutex_);
    tickets_.clear();
}
