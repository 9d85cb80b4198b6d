#include "DudIzizoz/Internals/Util/DIZDependencyConfiguration.h"

#include "platform/foundation/SharedInstance.h"

namespace {
// Installed, never made here: a test puts its client in before what it launches starts afresh.
constinit SharedInstance<DIZHttpClientProtocol> installedClient{nullptr, TestReset::keep};
}  // namespace

std::shared_ptr<DIZHttpClientProtocol> DIZDependencyConfiguration::httpClient() {
    return installedClient.existing();
}

void DIZDependencyConfiguration::setHttpClient(std::shared_ptr<DIZHttpClientProtocol> httpClient) {
    installedClient.set(std::move(httpClient));
}
