#pragma once
// The translucent blue box laid over the window under the pointer in window-click mode.
#include "platform/appkit/NSView.h"

class HoverView : public NSView {
  public:
    explicit HoverView(CGRect frame = {});
    void resetCursorRects() override;
};
