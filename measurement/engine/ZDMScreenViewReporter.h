#pragma once
// What the engine needs to know of the app's screens: whether the app is active and the parameters
// of the screen in view. Nothing reports screens yet, so the app counts as inactive and no screen is
// in view.
#include <memory>

#include "platform/foundation/Value.h"

class ZDMScreenViewReporter {
  public:
    static std::shared_ptr<ZDMScreenViewReporter> sharedInstance();
    bool isAppActive() const { return false; }
    Dictionary screenParameters() const { return {}; }
    // A "screen_view" logged by the app, on the caller's thread.
    void trackScreenWithParameters(const Dictionary& /*parameters*/, double /*timestamp*/) {}
};

bool ZDMIsAppActive();
