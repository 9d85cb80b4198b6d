#include "platform/masshortcut/MASShortcutView.h"

#include "platform/appkit/NSGraphicsContext.h"
#include "platform/appkit/NSStringDrawing.h"

namespace {
constexpr uint16_t kEscapeKey = 53;
constexpr uint16_t kDeleteKey = 51;
constexpr uint16_t kForwardDeleteKey = 117;
constexpr NSEventModifierFlags kShortcutModifiers = NSEventModifierFlagControl | NSEventModifierFlagOption |
                                                    NSEventModifierFlagShift | NSEventModifierFlagCommand;
}  // namespace

MASShortcutView::MASShortcutView(CGRect frame) : NSView(frame) {}

void MASShortcutView::setShortcutValue(std::shared_ptr<MASShortcut> shortcut) {
    shortcutValue_ = std::move(shortcut);
    setNeedsDisplay(true);
    if (shortcutValueChange_) {
        // A copy, so the block may replace itself while it runs.
        ValueChange change = shortcutValueChange_;
        change(*this);
    }
}

void MASShortcutView::setRecording(bool recording) {
    recording_ = recording && enabled_;
    setNeedsDisplay(true);
}

void MASShortcutView::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) setRecording(false);
}

void MASShortcutView::mouseDown(const NSEvent&) {
    if (enabled_) setRecording(true);
}

void MASShortcutView::keyDown(const NSEvent& event) {
    if (!recording_) {
        NSView::keyDown(event);
        return;
    }
    NSEventModifierFlags flags = event.modifierFlags() & kShortcutModifiers;
    if (flags == 0 && event.keyCode() == kEscapeKey) {
        setRecording(false);
        return;
    }
    // The value changes while the recording is still on, so the change block can tell a recorded
    // value from one set by code; the recording ends after it.
    if (flags == 0 && (event.keyCode() == kDeleteKey || event.keyCode() == kForwardDeleteKey)) {
        setShortcutValue(nullptr);
        setRecording(false);
        return;
    }
    auto shortcut = MASShortcut::shortcutWithKeyCode(event.keyCode(), flags);
    if (!shortcutValidator_->isShortcutValid(*shortcut)) return;
    setShortcutValue(std::move(shortcut));
    setRecording(false);
}

void MASShortcutView::drawRect(const CGRect&) {
    std::string text = recording_       ? "Type Shortcut"
                       : shortcutValue_ ? shortcutValue_->description()
                                        : "Record Shortcut";
    NSStringDraw(text, bounds(), NSStringDrawingUsesLineFragmentOrigin, TextAttributes{});
}
