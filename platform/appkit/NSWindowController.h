#pragma once
// Owns a window and shows it.
#include <memory>

#include "platform/appkit/NSResponder.h"
#include "platform/appkit/NSWindow.h"

class NSWindowController : public NSResponder {
  public:
    explicit NSWindowController(std::shared_ptr<NSWindow> window) : window_(std::move(window)) {}

    const std::shared_ptr<NSWindow>& window() const { return window_; }
    // Brings the window to the front and makes it key.
    virtual void showWindow(NSObject* sender);

  private:
    std::shared_ptr<NSWindow> window_;
};
