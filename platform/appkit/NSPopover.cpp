#include "platform/appkit/NSPopover.h"

void NSPopover::showRelativeToRect(const CGRect& rect, NSView* view, NSRectEdge preferredEdge) {
    if (!content_ || !view) return;
    content_->view();
    positioningRect_ = rect;
    positioningView_ = view->sharedAs<NSView>();
    preferredEdge_ = preferredEdge;
    shown_ = true;
}
