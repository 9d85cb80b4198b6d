#include "platform/appkit/NSButton.h"

std::shared_ptr<NSButton> NSButton::buttonWithTitle(std::string title, std::shared_ptr<NSObject> target,
                                                    std::string action) {
    auto button = std::make_shared<NSButton>();
    button->setTitle(std::move(title));
    button->setTarget(target);
    button->setAction(std::move(action));
    return button;
}

void NSButton::setTitle(std::string title) {
    title_ = std::move(title);
    titleAttributes_.reset();
}

void NSButton::setAttributedTitle(std::string title, TextAttributes attributes) {
    title_ = std::move(title);
    titleAttributes_ = std::move(attributes);
}

void NSButton::performClick(NSObject*) {
    if (!isEnabled()) return;
    if (buttonType_ == NSButtonType::PushOnPushOff || buttonType_ == NSButtonType::Toggle ||
        buttonType_ == NSButtonType::Switch || buttonType_ == NSButtonType::OnOff)
        state_ = state_ ? 0 : 1;
    sendAction();
}

void NSButton::mouseDown(const NSEvent&) { pressed_ = isEnabled(); }

void NSButton::mouseUp(const NSEvent& event) {
    bool wasPressed = pressed_;
    pressed_ = false;
    CGPoint local = convertPointFromView(event.locationInWindow(), nullptr);
    if (wasPressed && CGRectContainsPoint(bounds(), local)) performClick(this);
}

CGSize NSButton::intrinsicContentSize() const {
    CGSize text = title_.empty() ? CGSize{0, 0} : NSStringSize(title_, {titleAttributes_ ? titleAttributes_->font : font(), {}});
    CGSize picture = image_ && imagePosition_ != NSCellImagePosition::NoImage ? image_->size() : CGSize{0, 0};
    CGFloat padding = bordered_ ? 12 : 0;
    return {text.width + picture.width + 2 * padding, std::max(text.height, picture.height) + (bordered_ ? 8 : 0)};
}

void NSButton::drawRect(const CGRect&) {
    if (title_.empty()) return;
    TextAttributes attributes = titleAttributes_.value_or(TextAttributes{font(), contentTintColor_});
    CGSize size = NSStringSize(title_, attributes);
    CGRect b = bounds();
    NSStringDraw(title_, {(b.width() - size.width) / 2, (b.height() - size.height) / 2, size.width, size.height},
                 NSStringDrawingUsesLineFragmentOrigin, attributes);
}
