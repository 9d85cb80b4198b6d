#pragma once
// The default app's components by protocol name. An instance is made on its first request and, if
// cacheable, kept; callers cast it to the protocol they asked for.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/zudedaro/ZUDComponent.h"

class ZUDComponentContainer {
  public:
    // A later component for the same protocol replaces an earlier one.
    explicit ZUDComponentContainer(const std::vector<std::shared_ptr<ZUDComponent>>& components);

    // Nullptr when no component offers the protocol or its block made nothing. The block runs
    // outside the container's lock, so it may ask the container for what it depends on.
    std::shared_ptr<Object> instanceForProtocol(const std::string& protocol);

  private:
    std::map<std::string, std::shared_ptr<ZUDComponent>> components_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Object>> instances_;
};
