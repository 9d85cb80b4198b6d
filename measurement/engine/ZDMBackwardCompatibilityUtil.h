#pragma once
// Switches off an older measurement library found in the process, so that two libraries do not
// measure the same app.
#include <memory>

class ZDMBackwardCompatibilityUtil {
  public:
    static constexpr const char* kOlderLibraryClassName = "ZOVEduduruzuzo";

    // Sends setIsEnabled: NO to the shared instance of a registered "ZOVEduduruzuzo" whose class
    // answers sharedInstance and whose instance answers setIsEnabled:; true when there was one.
    static bool disableZOVEduduruzuzo();
    // The class's own versions of the two selectors: no instance, and nothing to switch.
    static std::shared_ptr<ZDMBackwardCompatibilityUtil> sharedInstance() { return nullptr; }
    void setIsEnabled(bool) {}
};
