#pragma once
// A popover: content shown next to a rectangle of a view until it is closed.
#include <memory>

#include "platform/appkit/NSViewController.h"

enum class NSRectEdge { MinX = 0, MinY = 1, MaxX = 2, MaxY = 3 };

class NSPopover : public NSObject {
  public:
    const std::shared_ptr<NSViewController>& contentViewController() const { return content_; }
    void setContentViewController(std::shared_ptr<NSViewController> controller) {
        content_ = std::move(controller);
    }
    bool isShown() const { return shown_; }
    void showRelativeToRect(const CGRect& rect, NSView* view, NSRectEdge preferredEdge);
    void close() { shown_ = false; }

    // Where it was last shown.
    const CGRect& positioningRect() const { return positioningRect_; }
    std::shared_ptr<NSView> positioningView() const { return positioningView_.lock(); }
    NSRectEdge preferredEdge() const { return preferredEdge_; }

  private:
    std::shared_ptr<NSViewController> content_;
    bool shown_ = false;
    CGRect positioningRect_;
    // Weak: the view usually owns the popover, and a strong hold back would keep both alive.
    std::weak_ptr<NSView> positioningView_;
    NSRectEdge preferredEdge_ = NSRectEdge::MaxY;
};
