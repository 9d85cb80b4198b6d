#include "quorvane/CubeButton.h"

#include "quorvane/Extensions.h"

CubeButton::CubeButton(CGRect frame) : NSView(frame), button_(std::make_shared<NSButton>()) {
    setWantsLayer(true);
    button_->setButtonType(NSButtonType::MomentaryChange);
    button_->setBezelStyle(NSBezelStyle::SmallSquare);
    button_->setWantsLayer(true);
    button_->layer()->setCornerRadius(5.6);
    button_->setBordered(false);

    // Built once: redrawing must not stack further containers around the same button.
    auto container = std::make_shared<NSView>(CGRect{0, 0, SIZE, SIZE});
    button_->setFrame({0, 0, SIZE, SIZE});
    container->addSubview(button_);
    addSubview(container);
    pinEdges(*container, {.top = topAnchor(),
                          .left = leftAnchor(),
                          .bottom = bottomAnchor(),
                          .right = rightAnchor(),
                          .width = SIZE,
                          .height = SIZE});
}

void CubeButton::enable() {
    layer()->setOpacity(1.0f);
    button_->setEnabled(true);
    button_->layer()->setBackgroundColor(hexColor("#EAF2FF", 1.0));
}

void CubeButton::disable() {
    layer()->setOpacity(0.5f);
    button_->setEnabled(false);
    button_->layer()->setBackgroundColor(std::nullopt);
}
