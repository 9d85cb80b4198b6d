#include "platform/appkit/NSTextField.h"

#include "platform/appkit/NSGraphicsContext.h"

std::shared_ptr<NSTextField> NSTextField::labelWithString(std::string text) {
    auto label = std::make_shared<NSTextField>();
    label->setStringValue(std::move(text));
    label->setEditable(false);
    label->setSelectable(false);
    label->setBezeled(false);
    label->setBordered(false);
    label->setDrawsBackground(false);
    return label;
}

CGSize NSTextField::intrinsicContentSize() const {
    const std::string& shown = stringValue_.empty() ? placeholder_ : stringValue_;
    CGSize text = NSStringSize(shown, {font(), {}});
    // The cell keeps two points of padding at each side, and a frame adds three more all round.
    CGFloat frame = (bezeled_ || bordered_) ? 3 : 0;
    return {text.width + 4 + 2 * frame, text.height + 2 * frame};
}

void NSTextField::drawRect(const CGRect&) {
    CGRect b = bounds();
    if (drawsBackground_ && backgroundColor_) {
        backgroundColor_->setFill();
        NSRectFill(b);
    }
    bool placeholder = stringValue_.empty();
    const std::string& shown = placeholder ? placeholder_ : stringValue_;
    if (shown.empty()) return;
    TextAttributes attributes{font(), placeholder ? placeholderTextColor() : textColor_};
    CGSize size = NSStringSize(shown, attributes);
    CGFloat x = 2;
    if (alignment() == NSTextAlignment::Center)
        x = (b.width() - size.width) / 2;
    else if (alignment() == NSTextAlignment::Right)
        x = b.width() - size.width - 2;
    NSStringDraw(shown, {x, (b.height() - size.height) / 2, size.width, size.height},
                 NSStringDrawingUsesLineFragmentOrigin, attributes);
}

void NSTextField::keyDown(const NSEvent& event) {
    if (!editable_) {
        NSControl::keyDown(event);
        return;
    }
    constexpr uint16_t kReturnKey = 36, kDeleteKey = 51;
    if (event.keyCode() == kReturnKey) {
        sendAction();
        return;
    }
    std::string value = stringValue_;
    if (event.keyCode() == kDeleteKey) {
        // Back over one UTF-8 sequence.
        while (!value.empty() && (static_cast<unsigned char>(value.back()) & 0xC0) == 0x80) value.pop_back();
        if (!value.empty()) value.pop_back();
    } else {
        value += event.characters();
    }
    setStringValue(std::move(value));
}
