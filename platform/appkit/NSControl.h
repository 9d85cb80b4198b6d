#pragma once
// A view that sends an action to a target: by selector name to the target when there is one, else
// along the responder chain of its window. The target is held weakly and wired once both exist: a
// control never keeps its target alive, and a target that has gone is no target. A control that is
// its own target answers its action itself (it overrides sendAction) rather than naming itself.
#include <memory>
#include <string>

#include "platform/appkit/NSFont.h"
#include "platform/appkit/NSParagraphStyle.h"
#include "platform/appkit/NSView.h"

class NSControl : public NSView {
  public:
    explicit NSControl(CGRect frame = {}) : NSView(frame) {}

    std::shared_ptr<NSObject> target() const { return target_.lock(); }
    void setTarget(std::weak_ptr<NSObject> target) { target_ = std::move(target); }
    const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    // Sends the action; true when some object answered it.
    virtual bool sendAction();

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    const NSFont& font() const { return font_; }
    void setFont(const NSFont& font) { font_ = font; }
    NSTextAlignment alignment() const { return alignment_; }
    void setAlignment(NSTextAlignment alignment) { alignment_ = alignment; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

  private:
    std::weak_ptr<NSObject> target_;
    std::string action_;
    bool enabled_ = true;
    NSFont font_;
    NSTextAlignment alignment_ = NSTextAlignment::Natural;
    int tag_ = 0;
};
