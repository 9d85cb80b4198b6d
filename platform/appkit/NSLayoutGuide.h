#pragma once
// A rectangle of a view that constraints place like a view, without drawing, events or a place
// among the subviews. Its frame is in the owning view's coordinates.
#include "platform/appkit/NSView.h"

class NSLayoutGuide : public NSView {
  public:
    NSLayoutGuide() = default;

    // Null until added to a view.
    NSView* owningView() const { return superview(); }
    NSView* hitTest(CGPoint) override { return nullptr; }
};
