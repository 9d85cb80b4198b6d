#include "quorvane/GroupTextField.h"

#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/DispatchQueue.h"

bool GroupTextField::becomeFirstResponder() {
    NSTextField::becomeFirstResponder();
    // In a row: the row's view, the row, then the list.
    NSResponder* list = nextResponder();
    for (int step = 0; step < 2 && list; ++step) list = list->nextResponder();
    if (list) list->performSelector("deselectAll:", nullptr);
    return true;
}

bool GroupTextField::textShouldEndEditing() {
    NSTextField::textShouldEndEditing();
    std::weak_ptr<NSWindow> window = this->window() ? this->window()->sharedAs<NSWindow>() : nullptr;
    DispatchQueue::main()->async([window] {
        if (auto w = window.lock()) w->makeFirstResponder(nullptr);
    });
    return true;
}
