#include "platform/appkit/NSResponder.h"

void NSResponder::mouseDown(const NSEvent& e) {
    if (auto* next = nextResponder()) next->mouseDown(e);
}
void NSResponder::mouseDragged(const NSEvent& e) {
    if (auto* next = nextResponder()) next->mouseDragged(e);
}
void NSResponder::mouseUp(const NSEvent& e) {
    if (auto* next = nextResponder()) next->mouseUp(e);
}
void NSResponder::rightMouseDown(const NSEvent& e) {
    if (auto* next = nextResponder()) next->rightMouseDown(e);
}
void NSResponder::rightMouseUp(const NSEvent& e) {
    if (auto* next = nextResponder()) next->rightMouseUp(e);
}
void NSResponder::mouseMoved(const NSEvent& e) {
    if (auto* next = nextResponder()) next->mouseMoved(e);
}
// Enter and exit go to the tracking area's owner only; they are not passed along.
void NSResponder::mouseEntered(const NSEvent&) {}
void NSResponder::mouseExited(const NSEvent&) {}
void NSResponder::keyDown(const NSEvent& e) {
    if (auto* next = nextResponder()) next->keyDown(e);
}
void NSResponder::keyUp(const NSEvent& e) {
    if (auto* next = nextResponder()) next->keyUp(e);
}
void NSResponder::flagsChanged(const NSEvent& e) {
    if (auto* next = nextResponder()) next->flagsChanged(e);
}

std::shared_ptr<NSObject> NSResponder::supplementalTargetForAction(std::string_view, NSObject*) {
    return nullptr;
}
