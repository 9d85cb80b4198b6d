#pragma once
// The shortcut recorder control. A click starts recording; while recording, a key pressed with a
// valid combination of modifiers becomes the value, Escape ends the recording unchanged and Delete
// clears the value. Every set of the value, by recording or by code, runs the change block.
#include <functional>
#include <memory>

#include "platform/appkit/NSView.h"
#include "platform/masshortcut/MASShortcut.h"
#include "platform/masshortcut/MASShortcutValidator.h"

class MASShortcutView : public NSView {
  public:
    using ValueChange = std::function<void(MASShortcutView& sender)>;

    explicit MASShortcutView(CGRect frame = {});

    const std::shared_ptr<MASShortcut>& shortcutValue() const { return shortcutValue_; }
    void setShortcutValue(std::shared_ptr<MASShortcut> shortcut);
    void setShortcutValueChange(ValueChange change) { shortcutValueChange_ = std::move(change); }

    bool isRecording() const { return recording_; }
    void setRecording(bool recording);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    const std::shared_ptr<MASShortcutValidator>& shortcutValidator() const { return shortcutValidator_; }

    void mouseDown(const NSEvent& event) override;
    void keyDown(const NSEvent& event) override;
    bool acceptsFirstResponder() const override { return enabled_; }
    void drawRect(const CGRect& dirtyRect) override;

  private:
    std::shared_ptr<MASShortcut> shortcutValue_;
    ValueChange shortcutValueChange_;
    std::shared_ptr<MASShortcutValidator> shortcutValidator_ = std::make_shared<MASShortcutValidator>();
    bool recording_ = false;
    bool enabled_ = true;
};
