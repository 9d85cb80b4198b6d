#include "DudIzizoz/Internals/Util/DIZDependencyConfiguration.h"

#include <mutex>

namespace {
std::mutex& slotLock() {
    static std::mutex lock;
    return lock;
}
std::shared_ptr<DIZHttpClientProtocol>& slot() {
    static std::shared_ptr<DIZHttpClientProtocol> client;
    return client;
}
}  // namespace

std::shared_ptr<DIZHttpClientProtocol> DIZDependencyConfiguration::httpClient() {
    std::lock_guard guard(slotLock());
    return slot();
}

void DIZDependencyConfiguration::setHttpClient(std::shared_ptr<DIZHttpClientProtocol> httpClient) {
    std::lock_guard guard(slotLock());
    slot() = std::move(httpClient);
}
