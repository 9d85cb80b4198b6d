#include "platform/appkit/NSControl.h"

#include "platform/appkit/NSWindow.h"

bool NSControl::sendAction() {
    if (action_.empty()) return false;
    if (auto target = target_.lock()) return target->performSelector(action_, this);
    NSWindow* w = window();
    NSResponder* responder = w ? w->firstResponder() : nullptr;
    for (NSResponder* r = responder ? responder : static_cast<NSResponder*>(this); r; r = r->nextResponder())
        if (r->performSelector(action_, this)) return true;
    return false;
}
