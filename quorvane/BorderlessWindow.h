#pragma once
// The overlays' window: borderless, floating above ordinary windows, transparent, not moved by
// dragging its background and kept after closing. It may become key and main only when allowed.
#include "platform/appkit/NSWindow.h"

class BorderlessWindow : public NSWindow {
  public:
    BorderlessWindow(CGRect contentRect, bool allowMainAndKey);

    bool allowMainAndKey() const { return allowMainAndKey_; }
    bool canBecomeKeyWindow() const override { return allowMainAndKey_; }
    bool canBecomeMainWindow() const override { return allowMainAndKey_; }

  private:
    bool allowMainAndKey_ = false;
};
