#pragma once
// The outside updater, used only for the update check that the user asks for. There is no update
// feed here: a check is recorded, so the request can be seen, and nothing else happens.
#include <memory>

class SUUpdater {
  public:
    static std::shared_ptr<SUUpdater> sharedUpdater();

    void checkForUpdates(const void* sender);
    int checksRequested() const { return checks_; }

  private:
    int checks_ = 0;
};
