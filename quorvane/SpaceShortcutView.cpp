#include "quorvane/SpaceShortcutView.h"

#include "quorvane/Extensions.h"

std::shared_ptr<SpaceShortcutView> SpaceShortcutView::make(CGRect frame) {
    std::shared_ptr<SpaceShortcutView> view(new SpaceShortcutView(frame));
    view->wireClearButton();
    return view;
}

SpaceShortcutView::SpaceShortcutView(CGRect frame)
    : ShortcutView(frame),
      attrs_{NSFont::systemFontOfSize(15, NSFontWeightSemibold), hexColor("#22262D", 1.0)} {}

void SpaceShortcutView::drawRect(const CGRect& dirty) {
    if (isEditable() && initial_) {
        attrs_.foregroundColor = hexColor("#BAC2CC", 1.0);
        initial_ = false;
    }
    setTextAttributes(attrs_);
    ShortcutView::drawRect(dirty);
    if (!isEditable()) clearButton()->setHidden(true);
    layer()->setBorderColor(hexColor("#E2E8F0", 1.0));
    layer()->setBorderWidth(1);
}

void SpaceShortcutView::mouseDown(const NSEvent& event) {
    if (!isEditable()) return;
    ShortcutView::mouseDown(event);
    attrs_.foregroundColor = hexColor("#22262D", 1.0);
    setNeedsDisplay(true);
}
