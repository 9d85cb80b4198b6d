#include "platform/appkit/NSWindowController.h"

void NSWindowController::showWindow(NSObject* sender) {
    if (window_) window_->makeKeyAndOrderFront(sender);
}
