#include "platform/sparkle/SUUpdater.h"

std::shared_ptr<SUUpdater> SUUpdater::sharedUpdater() {
    static auto* updater = new std::shared_ptr<SUUpdater>(std::make_shared<SUUpdater>());
    return *updater;
}

void SUUpdater::checkForUpdates(const void*) {
    ++checks_;
}
