#include "platform/appkit/NSTextField.h"

#include <algorithm>

#include "platform/appkit/NSGraphicsContext.h"
#include "platform/foundation/Unicode.h"

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

std::shared_ptr<NSTextField> NSTextField::wrappingLabelWithString(std::string text) {
    auto label = labelWithString(std::move(text));
    label->setSelectable(true);
    return label;
}

std::vector<std::string> NSTextField::lines() const {
    const std::string& shown = stringValue_.empty() ? placeholder_ : stringValue_;
    std::vector<std::string> out;
    TextAttributes attributes{font(), {}};
    std::string line;
    size_t start = 0;
    // Greedy wrapping at spaces and line feeds.
    while (start <= shown.size()) {
        size_t end = shown.find_first_of(" \n", start);
        std::string word = shown.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && preferredMaxLayoutWidth_ > 0 &&
            NSStringSize(candidate, attributes).width > preferredMaxLayoutWidth_) {
            out.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
        if (end == std::string::npos) break;
        if (shown[end] == '\n') {
            out.push_back(line);
            line.clear();
        }
        start = end + 1;
    }
    out.push_back(line);
    return out;
}

CGSize NSTextField::intrinsicContentSize() const {
    CGSize text{0, 0};
    for (const auto& line : lines()) {
        CGSize size = NSStringSize(line, {font(), {}});
        text.width = std::max(text.width, size.width);
        text.height += size.height;
    }
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
        endEditing();
        return;
    }
    std::string value = stringValue_;
    if (event.keyCode() == kDeleteKey) {
        value.resize(lastCharacterStart(value));
    } else {
        value += event.characters();
    }
    setStringValue(std::move(value));
}

bool NSTextField::becomeFirstResponder() {
    if (editable_) editing_ = true;
    return true;
}

bool NSTextField::resignFirstResponder() {
    return endEditing();
}

bool NSTextField::endEditing() {
    if (!editing_) return true;
    if (!textShouldEndEditing()) return false;
    editing_ = false;
    if (auto delegate = delegate_.lock()) delegate->controlTextDidEndEditing(*this);
    return true;
}

void NSTextField::mouseDown(const NSEvent& event) {
    if (!editable_ && !selectable_) NSControl::mouseDown(event);
}
