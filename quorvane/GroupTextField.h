#pragma once
// A space row's name field: starting an edit clears the list's selection, and ending one leaves
// no field focused.
#include "platform/appkit/NSTextField.h"

class GroupTextField : public NSTextField {
  public:
    using NSTextField::NSTextField;

    bool becomeFirstResponder() override;
    bool textShouldEndEditing() override;
};
