#pragma once
// The window-click mode of the create-space overlay: while visible it follows the pointer with a
// local mouse monitor, covers the frontmost ordinary window under it with a HoverView, and a click
// hands that window's rectangle (global top-left coordinates) to the handler.
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "platform/appkit/NSEvent.h"
#include "platform/foundation/NotificationCenter.h"
#include "quorvane/HoverView.h"

class WindowSelectionView : public NSView {
  public:
    using Handler = std::function<void(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2)>;
    using Rectangle = std::array<CGFloat, 4>;

    explicit WindowSelectionView(CGRect frame = {});
    ~WindowSelectionView() override;

    void setOnCreateHandler(Handler handler) { onCreateHandler_ = std::move(handler); }
    const std::shared_ptr<HoverView>& overlayView() const { return overlayView_; }
    // The last highlighted window's rectangle.
    const std::optional<Rectangle>& coors() const { return coors_; }
    bool isTracking() const { return eventMonitor_ != nullptr; }

    std::shared_ptr<NSEvent> handleMouseEvent(const std::shared_ptr<NSEvent>& event);
    void highlightWindow(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2);
    void removeEventMonitor();

    void drawRect(const CGRect& dirtyRect) override;
    void mouseDown(const NSEvent& event) override;
    void viewDidHide() override;

  private:
    void installEventMonitor();

    Handler onCreateHandler_;
    std::shared_ptr<HoverView> overlayView_;
    std::optional<Rectangle> coors_;
    // One monitor per view, present only while the view tracks the pointer: a draw of the visible
    // view installs it when there is none (so tracking resumes after a pick, ready for the next
    // one), and a pick, hiding or closing the window ends it.
    std::shared_ptr<NSObject> eventMonitor_;
    NotificationCenter::Token closeObserver_;
};
