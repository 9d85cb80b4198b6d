#include "platform/sparkle/SUUpdater.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<SUUpdater> sharedUpdaterInstance;
}  // namespace

std::shared_ptr<SUUpdater> SUUpdater::sharedUpdater() {
    return sharedUpdaterInstance.get();
}

void SUUpdater::checkForUpdates(const void*) {
    ++checks_;
}
