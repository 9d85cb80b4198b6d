#include "quorvane/WindowSelectionView.h"

#include "platform/appkit/NSCursor.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/windowserver/CGWindow.h"
#include "quorvane/Extensions.h"
#include "quorvane/PointConverter.h"
#include "quorvane/WindowFinder.h"

WindowSelectionView::WindowSelectionView(CGRect frame)
    : NSView(frame), overlayView_(std::make_shared<HoverView>()) {
    setWantsLayer(true);
    layer()->setBackgroundColor(NSColor::clearColor());
    addSubview(overlayView_);
    overlayView_->setHidden(true);
}

WindowSelectionView::~WindowSelectionView() {
    removeEventMonitor();
}

void WindowSelectionView::drawRect(const CGRect& dirty) {
    NSView::drawRect(dirty);
    installEventMonitor();
}

void WindowSelectionView::installEventMonitor() {
    if (eventMonitor_ || !window() || isHiddenOrHasHiddenAncestor()) return;
    std::weak_ptr<WindowSelectionView> weak = sharedAs<WindowSelectionView>();
    constexpr NSEventMask mask =
        NSEventMaskFromType(NSEventType::MouseMoved) | NSEventMaskFromType(NSEventType::MouseEntered);
    eventMonitor_ =
        NSEvent::addLocalMonitorForEventsMatchingMask(mask, [weak](const std::shared_ptr<NSEvent>& event) {
            auto self = weak.lock();
            return self ? self->handleMouseEvent(event) : event;
        });
    // A closed overlay no longer tracks.
    const void* observed = window();
    closeObserver_ = NotificationCenter::defaultCenter().addObserver(
        NSWindowWillCloseNotification,
        [weak](const Notification&) {
            if (auto self = weak.lock()) self->removeEventMonitor();
        },
        observed);
}

void WindowSelectionView::removeEventMonitor() {
    if (eventMonitor_) {
        NSEvent::removeMonitor(eventMonitor_);
        eventMonitor_ = nullptr;
    }
    closeObserver_.cancel();
}

std::shared_ptr<NSEvent> WindowSelectionView::handleMouseEvent(const std::shared_ptr<NSEvent>& event) {
    CGPoint pointer = event->cgEventLocation().value_or(CGPoint{0, 0});
    for (const auto& entry : onScreenWindowList(minimumWindowHeight)) {
        auto bounds = windowBounds(entry);
        if (!bounds) continue;
        auto [x1, y1, x2, y2] = *bounds;
        if (!(x1 < pointer.x && pointer.x < x2 && y1 < pointer.y && pointer.y < y2)) continue;
        NSWindow* w = window();
        auto screen = w ? w->screen() : nullptr;
        auto id = screen ? displayID(*screen) : std::nullopt;
        if (id && CGRectContainsPoint(CGDisplayBounds(*id), pointer)) {
            highlightWindow(x1, y1, x2, y2);
            return event;
        }
        overlayView_->setHidden(true);
    }
    overlayView_->setHidden(true);
    return event;
}

void WindowSelectionView::highlightWindow(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
    auto local = PointConverter::rectInOverlay(x1, y1, x2, y2);
    if (!local) return;
    overlayView_->setFrame(*local);
    overlayView_->setHidden(false);
    coors_ = Rectangle{x1, y1, x2, y2};
}

void WindowSelectionView::mouseDown(const NSEvent& event) {
    NSView::mouseDown(event);
    overlayView_->setHidden(true);
    NSCursor::pointingHandCursor().set();
    if (!coors_) return;
    auto [x1, y1, x2, y2] = *coors_;
    if (onCreateHandler_) onCreateHandler_(x1, y1, x2, y2);
    removeEventMonitor();
}

void WindowSelectionView::viewDidHide() {
    NSView::viewDidHide();
    removeEventMonitor();
}
