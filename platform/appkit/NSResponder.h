#pragma once
// An object in the responder chain: events it does not handle go to its next responder.
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSObject.h"

class NSResponder : public NSObject {
  public:
    virtual NSResponder* nextResponder() const { return nullptr; }

    virtual bool acceptsFirstResponder() const { return false; }
    virtual bool becomeFirstResponder() { return true; }
    virtual bool resignFirstResponder() { return true; }

    virtual void mouseDown(const NSEvent& event);
    virtual void mouseDragged(const NSEvent& event);
    virtual void mouseUp(const NSEvent& event);
    virtual void rightMouseDown(const NSEvent& event);
    virtual void rightMouseUp(const NSEvent& event);
    virtual void mouseMoved(const NSEvent& event);
    virtual void mouseEntered(const NSEvent& event);
    virtual void mouseExited(const NSEvent& event);
    virtual void keyDown(const NSEvent& event);
    virtual void keyUp(const NSEvent& event);
    // A modifier key went down or up.
    virtual void flagsChanged(const NSEvent& event);

    // A further object to try for an action this responder does not answer itself.
    virtual std::shared_ptr<NSObject> supplementalTargetForAction(std::string_view action, NSObject* sender);
};
