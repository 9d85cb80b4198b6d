#include "platform/appkit/NSPerformRequest.h"

#include <map>
#include <set>

#include "platform/dispatch/DispatchQueue.h"

namespace {
// Requests still to run, by target. Touched on the main thread only.
std::map<const void*, std::set<uint64_t>>& pending() {
    static auto* requests = new std::map<const void*, std::set<uint64_t>>;
    return *requests;
}
uint64_t gNextRequest = 1;

void runIfPending(const void* target, uint64_t request, const std::function<void()>& block) {
    auto it = pending().find(target);
    if (it == pending().end() || !it->second.erase(request)) return;
    if (it->second.empty()) pending().erase(it);
    block();
}
}  // namespace

void NSPerformAfterDelay(const void* target, double delay, std::function<void()> block) {
    uint64_t request = gNextRequest++;
    pending()[target].insert(request);
    auto run = [target, request, block = std::move(block)] { runIfPending(target, request, block); };
    if (delay <= 0)
        DispatchQueue::main()->async(std::move(run));
    else
        DispatchQueue::main()->after(delay, std::move(run));
}

void NSCancelPreviousPerformRequests(const void* target) {
    pending().erase(target);
}
