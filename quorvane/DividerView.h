#pragma once
// A thin light-grey bar with rounded ends that separates groups of buttons.
#include "platform/appkit/NSView.h"

class DividerView : public NSView {
  public:
    explicit DividerView(CGRect frame = {});
};
