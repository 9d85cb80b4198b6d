#pragma once
// The overlays' plain button: no border, square bezel, no title until one is given.
#include "platform/appkit/NSButton.h"

class Button : public NSButton {
  public:
    explicit Button(CGRect frame = {});
};
