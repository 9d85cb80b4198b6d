#include "quorvane/FloatingMenu.h"

#include "platform/appkit/NSStackView.h"
#include "quorvane/Extensions.h"

namespace {

std::shared_ptr<Button> roundButton(const char* image, CGFloat size, CGFloat corner) {
    auto button = std::make_shared<Button>();
    button->setImage(NSImage::imageNamed(image));
    button->setImagePosition(NSCellImagePosition::ImageOnly);
    button->setWantsLayer(true);
    button->layer()->setCornerRadius(corner);
    NSLayoutConstraint::activateConstraints({button->widthAnchor().constraintEqualToConstant(size),
                                             button->heightAnchor().constraintEqualToConstant(size)});
    return button;
}

}  // namespace

FloatingMenu::FloatingMenu(CGRect frame)
    : NSView(frame),
      tooltipTextField_(std::make_shared<NSTextField>()),
      tooltipView_(std::make_shared<NSView>()),
      doneButton_(std::make_shared<Button>()),
      cancelButton_(roundButton("cancel", 24, 12)),
      selectionModeButton_(roundButton("mouse", 24, 12)),
      deleteButton_(roundButton("trash", 24, 12)),
      firstDivider_(std::make_shared<DividerView>()),
      secondDivider_(std::make_shared<DividerView>()) {
    tooltipTextField_->setBackgroundColor(hexColor("#272727", 1.0));
    tooltipTextField_->setFont(NSFont::systemFontOfSize(14, NSFontWeightRegular));
    tooltipTextField_->setAlignment(NSTextAlignment::Center);
    tooltipTextField_->setTextColor(NSColor::whiteColor());
    tooltipTextField_->setBezeled(false);
    tooltipTextField_->setEditable(false);
    tooltipTextField_->setSelectable(false);
    tooltipView_->setWantsLayer(true);
    tooltipView_->layer()->setZPosition(3);
    tooltipView_->layer()->setBackgroundColor(hexColor("#272727", 1.0));
    tooltipView_->layer()->setCornerRadius(5);
    tooltipView_->layer()->setBorderWidth(1);
    tooltipView_->layer()->setBorderColor(hexColor("#484848", 1.0));
    tooltipView_->addSubview(tooltipTextField_);
    tooltipTextField_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        tooltipTextField_->centerXAnchor().constraintEqualToAnchor(tooltipView_->centerXAnchor()),
        tooltipTextField_->centerYAnchor().constraintEqualToAnchor(tooltipView_->centerYAnchor()),
    });

    doneButton_->setTitle("Done");
    doneButton_->setWantsLayer(true);
    doneButton_->layer()->setBackgroundColor(hexColor("#1585FF", 1.0));
    doneButton_->setFont(NSFont::systemFontOfSize(13, NSFontWeightMedium));
    doneButton_->layer()->setCornerRadius(5);
    doneButton_->setContentTintColor(NSColor::whiteColor());
    NSLayoutConstraint::activateConstraints({doneButton_->widthAnchor().constraintEqualToConstant(83),
                                             doneButton_->heightAnchor().constraintEqualToConstant(28)});
    cancelButton_->layer()->setBackgroundColor(hexColor("#94A3B8", 1.0));
    cancelButton_->setFont(NSFont::systemFontOfSize(13, NSFontWeightMedium));
    cancelButton_->setContentTintColor(NSColor::whiteColor());

    // The bar and its row of buttons are built once.
    setWantsLayer(true);
    layer()->setMasksToBounds(false);
    layer()->setBackgroundColor(NSColor::whiteColor());
    layer()->setZPosition(9999);
    layer()->setCornerRadius(12);
    for (const auto& divider : {firstDivider_, secondDivider_})
        NSLayoutConstraint::activateConstraints({divider->widthAnchor().constraintEqualToConstant(3),
                                                 divider->heightAnchor().constraintEqualToConstant(20)});
    auto stack = NSStackView::stackViewWithViews(
        {cancelButton_, firstDivider_, deleteButton_, selectionModeButton_, secondDivider_, doneButton_});
    stack->setAlignment(NSLayoutAttribute::CenterX);
    stack->setDistribution(NSStackViewDistribution::EqualSpacing);
    stack->setOrientation(NSUserInterfaceLayoutOrientation::Horizontal);
    addSubview(stack);
    pinEdges(*stack, {.top = topAnchor(),
                      .left = leftAnchor(),
                      .bottom = bottomAnchor(),
                      .right = rightAnchor(),
                      .paddingTop = 8,
                      .paddingLeft = 12,
                      .paddingBottom = 8,
                      .paddingRight = 12});
}

void FloatingMenu::drawRect(const CGRect& dirty) {
    NSView::drawRect(dirty);
    addButtonTrackingAreas();
}

void FloatingMenu::addButtonTrackingAreas() {
    // Once: the menu must own the areas, and it is shared only once it is drawn.
    if (tracking_) return;
    auto self = sharedAs<FloatingMenu>();
    if (!self) return;
    tracking_ = true;
    for (const auto& button : {doneButton_, deleteButton_, cancelButton_, selectionModeButton_}) {
        button->addTrackingArea(std::make_shared<NSTrackingArea>(
            button->bounds(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways, self,
            NSTrackingArea::UserInfo{{"button", button}}));
    }
}

void FloatingMenu::mouseEntered(const NSEvent& event) {
    auto area = event.trackingArea();
    auto button = area ? std::dynamic_pointer_cast<NSButton>(area->userInfoObject("button")) : nullptr;
    if (!button) return;
    std::string text;
    if (button == doneButton_)
        text = kDoneTooltip;
    else if (button == deleteButton_)
        text = kDeleteTooltip;
    else if (button == cancelButton_)
        text = kCancelTooltip;
    else if (button == selectionModeButton_)
        text = isGrid_ ? kCustomModeTooltip : kGridModeTooltip;
    showTooltip(*button, text);
}

void FloatingMenu::showTooltip(const NSButton& button, const std::string& text) {
    tooltipView_->removeFromSuperview();
    tooltipTextField_->setStringValue(text);
    addSubview(tooltipView_);
    CGSize size = tooltipTextField_->intrinsicContentSize();
    tooltipView_->setFrame({button.frame().midX() - size.width / 2, frame().size.height + 10, size.width + 20,
                            size.height + 10});
}

void FloatingMenu::mouseExited(const NSEvent&) {
    tooltipView_->removeFromSuperview();
}

void FloatingMenu::toggleSelectionModeImage() {
    selectionModeButton_->setImage(NSImage::imageNamed(isGrid_ ? "grid" : "mouse"));
    isGrid_ = !isGrid_;
}
