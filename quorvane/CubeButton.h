#pragma once
// A 26 × 26 square icon button with an enabled look (opaque, light blue background) and a
// disabled one (half transparent, no background).
#include <memory>

#include "platform/appkit/NSButton.h"

class CubeButton : public NSView {
  public:
    static constexpr CGFloat SIZE = 26;

    explicit CubeButton(CGRect frame = {});

    const std::shared_ptr<NSButton>& button() const { return button_; }
    void enable();
    void disable();

  private:
    std::shared_ptr<NSButton> button_;
};
