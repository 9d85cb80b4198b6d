#pragma once
// The screens of the desktop, in the platform's order; the first holds the menu bar. Frames are in
// the view kit's screen coordinates: origin at the bottom-left of the first screen, y growing upwards.
#include <memory>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/Value.h"

class NSScreen {
  public:
    static std::vector<std::shared_ptr<NSScreen>> screens();
    // The first screen; null when no screen is attached.
    static std::shared_ptr<NSScreen> mainScreen();

    CGRect frame() const { return frame_; }
    // The frame less the menu bar and the dock.
    CGRect visibleFrame() const { return visibleFrame_; }
    // "NSScreenNumber": the display id.
    const Dictionary& deviceDescription() const { return deviceDescription_; }

    NSScreen(CGRect frame, CGRect visibleFrame, Dictionary deviceDescription)
        : frame_(frame), visibleFrame_(visibleFrame), deviceDescription_(std::move(deviceDescription)) {}

  private:
    CGRect frame_;
    CGRect visibleFrame_;
    Dictionary deviceDescription_;
};
