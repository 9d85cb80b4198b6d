#include "quorvane/DividerView.h"

#include "quorvane/Extensions.h"

DividerView::DividerView(CGRect frame) : NSView(frame) {
    setWantsLayer(true);
    layer()->setBackgroundColor(hexColor("#f2f2f2", 1.0));
    layer()->setCornerRadius(2);
}
