#pragma once
// The shortcut field of a space preview: larger, darker text; an editable field starts in a light
// placeholder colour until it is clicked; a read-only one ignores clicks and has no clear button.
#include "quorvane/ShortcutView.h"

class SpaceShortcutView : public ShortcutView {
  public:
    static std::shared_ptr<SpaceShortcutView> make(CGRect frame = {});

    bool initial() const { return initial_; }
    const TextAttributes& attrs() const { return attrs_; }

    void drawRect(const CGRect& dirtyRect) override;
    void mouseDown(const NSEvent& event) override;
    void drawFocusRingMask() override {}

  private:
    explicit SpaceShortcutView(CGRect frame);

    bool initial_ = true;
    TextAttributes attrs_;
};
