#pragma once
// The small "i" button of a pane's heading: a click opens a popover with its help text, the next
// click closes it. The button answers its own clicks.
#include <memory>
#include <string>

#include "platform/appkit/NSButton.h"
#include "platform/appkit/NSPopover.h"

class InfoButton : public NSButton {
  public:
    explicit InfoButton(std::string infoText);

    const std::shared_ptr<NSPopover>& infoPopover() const { return infoPopover_; }
    const std::string& infoText() const { return infoText_; }
    void showInfoPopover();
    bool sendAction() override;

  private:
    std::shared_ptr<NSPopover> infoPopover_;
    std::string infoText_;
};
