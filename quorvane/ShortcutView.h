#pragma once
// The application's shortcut field: records like the library's recorder, but draws itself (a white
// rounded box with a thin grey border and one centred line of text) and carries a small "✕" button
// that clears the shortcut.
#include <memory>
#include <string>

#include "platform/appkit/NSButton.h"
#include "platform/appkit/NSStringDrawing.h"
#include "platform/masshortcut/MASShortcutView.h"

class ShortcutView : public MASShortcutView {
  public:
    static constexpr const char* kPlaceholder = "Record shortcut";
    static constexpr const char* kRecordingPlaceholder = " Type shortcut...";

    static std::shared_ptr<ShortcutView> make(CGRect frame = {});

    // Read by subclasses to decide whether clicks start recording.
    bool isEditable() const { return isEditable_; }
    void setEditable(bool editable) { isEditable_ = editable; }
    const TextAttributes& textAttributes() const { return textAttributes_; }
    void setTextAttributes(TextAttributes attributes) { textAttributes_ = std::move(attributes); }
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string placeholder) { placeholder_ = std::move(placeholder); }
    const std::shared_ptr<NSButton>& clearButton() const { return clearButton_; }

    bool acceptsFirstResponder() const override { return true; }
    void drawRect(const CGRect& dirtyRect) override;
    void drawFocusRingMask() override;
    void mouseDown(const NSEvent& event) override;
    void clearButtonClicked();

  protected:
    explicit ShortcutView(CGRect frame);
    // The last step of every make: the clear button targets the shared view.
    void wireClearButton();

  private:
    void updateClearButton();

    bool isEditable_ = false;
    TextAttributes textAttributes_;
    std::string placeholder_ = kPlaceholder;
    std::shared_ptr<NSButton> clearButton_;
};
