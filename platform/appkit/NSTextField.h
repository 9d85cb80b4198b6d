#pragma once
// A one-line text field or label: its text, placeholder and look. The drawn text is the string
// value, or the placeholder (in the placeholder colour) while the value is empty.
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSControl.h"

enum class NSFocusRingType { Default = 0, None = 1, Exterior = 2 };

class NSTextField;

// Hears when the user ends editing a field (it resigned the focus, or Return was pressed).
class NSTextFieldDelegate {
  public:
    virtual ~NSTextFieldDelegate() = default;
    virtual void controlTextDidEndEditing(NSTextField& field) = 0;
};

class NSTextField : public NSControl {
  public:
    explicit NSTextField(CGRect frame = {}) : NSControl(frame) {}
    // A label: not editable, not selectable, no border or background.
    static std::shared_ptr<NSTextField> labelWithString(std::string text);
    // A label whose text wraps onto further lines at its preferred maximum width.
    static std::shared_ptr<NSTextField> wrappingLabelWithString(std::string text);

    const std::string& stringValue() const { return stringValue_; }
    void setStringValue(std::string value) {
        stringValue_ = std::move(value);
        setNeedsDisplay(true);
    }
    const std::string& placeholderString() const { return placeholder_; }
    void setPlaceholderString(std::string placeholder) { placeholder_ = std::move(placeholder); }
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }
    bool isBezeled() const { return bezeled_; }
    void setBezeled(bool bezeled) { bezeled_ = bezeled; }
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered) { bordered_ = bordered; }
    bool drawsBackground() const { return drawsBackground_; }
    void setDrawsBackground(bool draws) { drawsBackground_ = draws; }
    const std::optional<NSColor>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<NSColor> color) { backgroundColor_ = color; }
    const NSColor& textColor() const { return textColor_; }
    void setTextColor(const NSColor& color) { textColor_ = color; }
    NSFocusRingType focusRingType() const { return focusRingType_; }
    void setFocusRingType(NSFocusRingType type) { focusRingType_ = type; }

    // Wider text wraps at word boundaries (0: never).
    CGFloat preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
    void setPreferredMaxLayoutWidth(CGFloat width) { preferredMaxLayoutWidth_ = width; }
    // The lines the text is drawn on.
    std::vector<std::string> lines() const;

    // Held weakly.
    void setDelegate(const std::shared_ptr<NSTextFieldDelegate>& delegate) { delegate_ = delegate; }
    bool isEditing() const { return editing_; }
    // Asked before an edit ends; an edit that may not end keeps the focus.
    virtual bool textShouldEndEditing() { return true; }

    // The colour the placeholder is drawn in.
    static NSColor placeholderTextColor() { return NSColor::colorWithWhite(0, 0.25); }

    bool acceptsFirstResponder() const override { return editable_ || selectable_; }
    // Taking the focus starts an edit of an editable field; giving it up ends the edit.
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    // A click into an editable or selectable field stays with it.
    void mouseDown(const NSEvent& event) override;
    // While editable: typed characters are appended, Delete removes the last one, Return ends the
    // entry by sending the action.
    void keyDown(const NSEvent& event) override;
    CGSize intrinsicContentSize() const override;
    void drawRect(const CGRect& dirtyRect) override;

  private:
    bool endEditing();

    std::string stringValue_, placeholder_;
    CGFloat preferredMaxLayoutWidth_ = 0;
    std::weak_ptr<NSTextFieldDelegate> delegate_;
    bool editing_ = false;
    bool editable_ = true, selectable_ = true, bezeled_ = true, bordered_ = false, drawsBackground_ = true;
    std::optional<NSColor> backgroundColor_;
    NSColor textColor_ = NSColor::blackColor();
    NSFocusRingType focusRingType_ = NSFocusRingType::Default;
};
