#include "platform/appkit/NSButton.h"

std::shared_ptr<NSButton> NSButton::buttonWithTitle(std::string title, std::shared_ptr<NSObject> target,
                                                    std::string action) {
    auto button = std::make_shared<NSButton>();
    button->setTitle(std::move(title));
    button->setTarget(target);
    button->setAction(std::move(action));
    return button;
}

std::shared_ptr<NSButton> NSButton::checkboxWithTitle(std::string title, std::shared_ptr<NSObject> target,
                                                      std::string action) {
    auto box = buttonWithTitle(std::move(title), std::move(target), std::move(action));
    box->setButtonType(NSButtonType::Switch);
    box->setBordered(false);
    return box;
}

void NSButton::setTitle(std::string title) {
    title_ = std::move(title);
    titleAttributes_.reset();
}

void NSButton::setAttributedTitle(std::string title, TextAttributes attributes) {
    title_ = std::move(title);
    titleAttributes_ = std::move(attributes);
}

bool NSButton::isCheckable() const {
    return buttonType_ == NSButtonType::PushOnPushOff || buttonType_ == NSButtonType::Toggle ||
           buttonType_ == NSButtonType::Switch || buttonType_ == NSButtonType::OnOff;
}

void NSButton::performClick(NSObject*) {
    if (!isEnabled()) return;
    if (isCheckable()) state_ = state_ ? 0 : 1;
    if (auto object = valueBindingObject()) {
        object->setValueForKey(Value(state_ != 0), valueKeyPath_);
        showBoundValue();
    }
    sendAction();
}

void NSButton::bind(std::string_view binding, const std::shared_ptr<NSObject>& object, std::string keyPath) {
    if (binding != "value") return;
    valueObject_ = object;
    valueKeyPath_ = std::move(keyPath);
    showBoundValue();
}

// A value that is not a truth value (or none) leaves the state alone.
void NSButton::showBoundValue() {
    auto object = valueBindingObject();
    if (!object) return;
    auto value = object->valueForKey(valueKeyPath_);
    if (auto on = value ? value->asBool() : std::nullopt) state_ = *on ? 1 : 0;
}

void NSButton::mouseDown(const NSEvent&) {
    pressed_ = isEnabled();
}

void NSButton::mouseUp(const NSEvent& event) {
    bool wasPressed = pressed_;
    pressed_ = false;
    CGPoint local = convertPointFromView(event.locationInWindow(), nullptr);
    if (wasPressed && CGRectContainsPoint(bounds(), local)) performClick(this);
}

CGSize NSButton::intrinsicContentSize() const {
    if (buttonType_ == NSButtonType::Switch || buttonType_ == NSButtonType::Radio) {
        // The box, a gap, then the title.
        CGSize text = NSStringSize(title_, {font(), {}});
        return {16 + 4 + text.width, std::max<CGFloat>(16, text.height)};
    }
    CGSize text = title_.empty()
                      ? CGSize{0, 0}
                      : NSStringSize(title_, {titleAttributes_ ? titleAttributes_->font : font(), {}});
    CGSize picture = image_ && imagePosition_ != NSCellImagePosition::NoImage ? image_->size() : CGSize{0, 0};
    CGFloat padding = bordered_ ? 12 : 0;
    return {text.width + picture.width + 2 * padding,
            std::max(text.height, picture.height) + (bordered_ ? 8 : 0)};
}

void NSButton::drawRect(const CGRect&) {
    if (title_.empty()) return;
    TextAttributes attributes = titleAttributes_.value_or(TextAttributes{font(), contentTintColor_});
    CGSize size = NSStringSize(title_, attributes);
    CGRect b = bounds();
    NSStringDraw(title_,
                 {(b.width() - size.width) / 2, (b.height() - size.height) / 2, size.width, size.height},
                 NSStringDrawingUsesLineFragmentOrigin, attributes);
}
