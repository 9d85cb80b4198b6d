#pragma once
// The settings window: while user interaction is paused it drops presses, drags, keys, scrolls and
// gestures (moves, enters, exits and the like still arrive); it never offers the command that
// shows or hides its toolbar.
#include <vector>

#include "platform/appkit/NSWindow.h"

class UserInteractionPausableWindow : public NSWindow {
  public:
    UserInteractionPausableWindow(CGRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing,
                                  bool defer);

    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }

    // The event types dropped while paused, in their fixed order.
    static const std::vector<NSEventType>& pausedEventTypes();

    void sendEvent(const NSEvent& event) override;
    bool respondsToSelector(std::string_view selector) const override;

  private:
    bool userInteractionEnabled_ = true;
};
