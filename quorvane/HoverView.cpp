#include "quorvane/HoverView.h"

#include "quorvane/Extensions.h"

HoverView::HoverView(CGRect frame) : NSView(frame) {
    setWantsLayer(true);
    layer()->setBackgroundColor(hexColor("#83B2FF", 1.0).colorWithAlphaComponent(0.5));
    layer()->setCornerRadius(8);
}

void HoverView::resetCursorRects() {
    addCursorRect(bounds(), NSCursor::openHandCursor());
}
