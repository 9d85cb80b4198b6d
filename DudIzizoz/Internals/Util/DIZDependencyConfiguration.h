#pragma once
// The one HTTP client that an embedder may inject for the channel group; none by default.
#include <memory>

class DIZHttpClientProtocol;

class DIZDependencyConfiguration {
  public:
    static std::shared_ptr<DIZHttpClientProtocol> httpClient();
    static void setHttpClient(std::shared_ptr<DIZHttpClientProtocol> httpClient);
};
