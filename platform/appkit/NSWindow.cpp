#include "platform/appkit/NSWindow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>

#include "platform/appkit/NSAnimationContext.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSToolbar.h"
#include "platform/appkit/NSTrackingArea.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/NSViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"

namespace {

struct ScreenList {
    std::vector<std::weak_ptr<NSWindow>> ordered;  // front to back
    std::weak_ptr<NSWindow> key;
};

ScreenList& screenList() {
    static ScreenList list;
    return list;
}

// Windows by number. A window enters in its constructor and leaves in its destructor, so every
// entry names a live window.
struct NumberedWindows {
    std::mutex mutex;
    int next = 1;
    std::map<int, NSWindow*> windows;
};

NumberedWindows& numberedWindows() {
    static auto* table = new NumberedWindows;
    return *table;
}

int enterWindow(NSWindow* window) {
    auto& table = numberedWindows();
    std::lock_guard lock(table.mutex);
    const int number = table.next++;
    table.windows[number] = window;
    return number;
}

void forEachVisibleView(NSView* view, const std::function<void(NSView*)>& visit) {
    if (!view || view->isHidden()) return;
    visit(view);
    auto children = view->subviews();
    for (const auto& child : children) forEachVisibleView(child.get(), visit);
}

}  // namespace

NSWindow::NSWindow(CGRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool)
    : number_(enterWindow(this)), styleMask_(styleMask), backing_(backing) {
    frame_ = frameRectForContentRect(contentRect);
    setContentView(std::make_shared<NSView>(CGRect{0, 0, contentRect.size.width, contentRect.size.height}));
    registerAction("performClose:", [this](NSObject*) { close(); });
    registerAction("toggleToolbarShown:", [this](NSObject*) {
        if (toolbar_) toolbar_->setVisible(!toolbar_->isVisible());
    });
}

NSWindow::~NSWindow() {
    {
        auto& table = numberedWindows();
        std::lock_guard lock(table.mutex);
        table.windows.erase(number_);
    }
    if (contentView_) contentView_->setWindowOfSubtree(nullptr);
    auto& list = screenList();
    std::erase_if(list.ordered, [](const std::weak_ptr<NSWindow>& w) { return w.expired(); });
}

std::shared_ptr<NSWindow> NSWindow::windowWithNumber(int number) {
    auto& table = numberedWindows();
    std::lock_guard lock(table.mutex);
    auto found = table.windows.find(number);
    return found == table.windows.end() ? nullptr : found->second->sharedAs<NSWindow>();
}

std::vector<std::shared_ptr<NSWindow>> NSWindow::orderedWindows() {
    std::vector<std::shared_ptr<NSWindow>> out;
    for (const auto& weak : screenList().ordered)
        if (auto w = weak.lock()) out.push_back(std::move(w));
    return out;
}

std::shared_ptr<NSWindow> NSWindow::keyWindow() {
    return screenList().key.lock();
}

CGRect NSWindow::frameRectForContentRect(const CGRect& r) const {
    CGFloat bar = (styleMask_ & NSWindowStyleMaskTitled) ? kTitleBarHeight : 0;
    return {r.origin.x, r.origin.y, r.size.width, r.size.height + bar};
}

CGRect NSWindow::contentRectForFrameRect(const CGRect& r) const {
    CGFloat bar = (styleMask_ & NSWindowStyleMaskTitled) ? kTitleBarHeight : 0;
    return {r.origin.x, r.origin.y, r.size.width, std::max<CGFloat>(0, r.size.height - bar)};
}

void NSWindow::setFrame(const CGRect& frame, bool display) {
    ++frameGeneration_;
    frame_ = frame;
    if (contentView_) contentView_->setFrame({{0, 0}, contentRectForFrameRect(frame).size});
    saveFrame();
    if (display && visible_) this->display();
}

void NSWindow::setFrameOrigin(CGPoint origin) {
    setFrame({origin, frame_.size}, false);
}

void NSWindow::Animator::setFrame(const CGRect& frame, bool display) {
    auto& context = NSAnimationContext::currentContext();
    NSWindowFrameAnimation animation{window_.frame_, frame, context.duration(), std::nullopt};
    if (context.timingFunction()) animation.timingFunction = context.timingFunction()->name;
    window_.frameAnimations_.push_back(animation);
    // A later direct change wins over an animation still under way.
    uint64_t generation = ++window_.frameGeneration_;
    std::weak_ptr<NSWindow> weak = window_.sharedAs<NSWindow>();
    NSAnimationContext::afterCurrentDuration([weak, frame, display, generation] {
        auto window = weak.lock();
        if (window && window->frameGeneration_ == generation) window->setFrame(frame, display);
    });
}

namespace {
std::string frameKey(const std::string& name) {
    return "NSWindow Frame " + name;
}
}  // namespace

bool NSWindow::setFrameAutosaveName(const std::string& name) {
    autosaveName_ = name;
    saveFrame();
    return true;
}

void NSWindow::saveFrame() const {
    if (autosaveName_.empty()) return;
    char text[128];
    std::snprintf(text, sizeof text, "%g %g %g %g", frame_.origin.x, frame_.origin.y, frame_.size.width,
                  frame_.size.height);
    UserDefaults::standardUserDefaults()->setObject(Value(std::string(text)), frameKey(autosaveName_));
}

bool NSWindow::setFrameUsingName(const std::string& name) {
    auto saved = UserDefaults::standardUserDefaults()->stringForKey(frameKey(name));
    if (!saved) return false;
    double x, y, w, h;
    char rest;
    if (std::sscanf(saved->c_str(), "%lf %lf %lf %lf %c", &x, &y, &w, &h, &rest) != 4 ||
        !std::isfinite(x + y + w + h) || w <= 0 || h <= 0)
        return false;
    setFrame({x, y, w, h}, true);
    return true;
}

void NSWindow::setContentViewController(std::shared_ptr<NSViewController> controller) {
    contentViewController_ = std::move(controller);
    if (contentViewController_) setContentView(contentViewController_->view());
}

void NSWindow::setToolbar(std::shared_ptr<NSToolbar> toolbar) {
    toolbar_ = std::move(toolbar);
    if (toolbar_) toolbar_->items();
}

void NSWindow::setContentView(std::shared_ptr<NSView> view) {
    if (contentView_ == view) return;
    if (contentView_) contentView_->setWindowOfSubtree(nullptr);
    contentView_ = std::move(view);
    if (!contentView_) return;
    contentView_->removeFromSuperview();
    contentView_->setFrame({{0, 0}, contentRectForFrameRect(frame_).size});
    contentView_->setWindowOfSubtree(this);
}

bool NSWindow::canBecomeKeyWindow() const {
    return (styleMask_ & NSWindowStyleMaskTitled) != 0;
}
bool NSWindow::canBecomeMainWindow() const {
    return (styleMask_ & NSWindowStyleMaskTitled) != 0;
}

bool NSWindow::isKeyWindow() const {
    return screenList().key.lock().get() == this;
}

void NSWindow::orderFront(NSObject*) {
    auto self = sharedAs<NSWindow>();
    if (!self) return;
    auto& list = screenList();
    removeFromScreenList();
    // In front of every window of its level and below those of higher levels.
    auto pos =
        std::find_if(list.ordered.begin(), list.ordered.end(), [this](const std::weak_ptr<NSWindow>& w) {
            auto other = w.lock();
            return other && other->level_ <= level_;
        });
    list.ordered.insert(pos, self);
    bool appearing = !visible_;
    visible_ = true;
    closed_ = false;
    // Views appear laid out, as after the platform's layout pass.
    if (appearing && contentView_) {
        contentView_->layoutSubtreeIfNeeded();
        contentView_->notifyAppearance();
    }
    displayIfNeeded();
}

void NSWindow::makeKeyAndOrderFront(NSObject* sender) {
    orderFront(sender);
    makeKeyWindow();
}

void NSWindow::makeKeyWindow() {
    if (!canBecomeKeyWindow() || !visible_) return;
    if (auto self = sharedAs<NSWindow>()) screenList().key = self;
}

void NSWindow::orderOut(NSObject*) {
    removeFromScreenList();
    visible_ = false;
    if (isKeyWindow()) screenList().key.reset();
}

void NSWindow::close() {
    if (!closed_) NotificationCenter::defaultCenter().post(NSWindowWillCloseNotification, this);
    orderOut(nullptr);
    closed_ = true;
}

void NSWindow::removeFromScreenList() {
    std::erase_if(screenList().ordered, [this](const std::weak_ptr<NSWindow>& w) {
        auto other = w.lock();
        return !other || other.get() == this;
    });
}

NSResponder* NSWindow::firstResponder() const {
    return dynamic_cast<NSResponder*>(firstResponder_.lock().get());
}

bool NSWindow::makeFirstResponder(NSResponder* responder) {
    NSResponder* current = firstResponder();
    if (current == responder) return true;
    if (current && !current->resignFirstResponder()) return false;
    firstResponder_.reset();
    if (!responder) return true;
    if (!responder->becomeFirstResponder()) return false;
    firstResponder_ = responder->weak_from_this();
    return true;
}

void NSWindow::sendEvent(const NSEvent& event) {
    switch (event.type()) {
        case NSEventType::LeftMouseDown:
        case NSEventType::LeftMouseUp:
        case NSEventType::RightMouseDown:
        case NSEventType::RightMouseUp:
        case NSEventType::LeftMouseDragged:
        case NSEventType::MouseMoved:
            mouseLocation_ = event.locationInWindow();
            break;
        default:
            break;
    }
    dispatchEvent(event);
    // As at the end of a run-loop turn: what the event changed is drawn before the next one.
    if (visible_) displayIfNeeded();
}

void NSWindow::dispatchEvent(const NSEvent& event) {
    if (!contentView_) return;
    CGPoint location = event.locationInWindow();
    switch (event.type()) {
        case NSEventType::LeftMouseDown:
        case NSEventType::RightMouseDown: {
            NSView* hit = contentView_->hitTest(location);
            if (!hit) return;
            if (hit->acceptsFirstResponder()) makeFirstResponder(hit);
            mouseDownView_ = hit->weak_from_this();
            if (event.type() == NSEventType::LeftMouseDown)
                hit->mouseDown(event);
            else
                hit->rightMouseDown(event);
            return;
        }
        case NSEventType::LeftMouseDragged:
            updateTrackingAreas(event, true);
            if (auto* view = dynamic_cast<NSView*>(mouseDownView_.lock().get())) view->mouseDragged(event);
            return;
        case NSEventType::LeftMouseUp:
        case NSEventType::RightMouseUp: {
            auto held = mouseDownView_.lock();
            mouseDownView_.reset();
            auto* view = dynamic_cast<NSView*>(held.get());
            if (!view) return;
            if (event.type() == NSEventType::LeftMouseUp)
                view->mouseUp(event);
            else
                view->rightMouseUp(event);
            return;
        }
        case NSEventType::MouseMoved:
            updateTrackingAreas(event, false);
            return;
        case NSEventType::MouseEntered:
        case NSEventType::MouseExited:
            if (auto area = event.trackingArea())
                if (auto owner = area->owner()) {
                    if (event.type() == NSEventType::MouseEntered)
                        owner->mouseEntered(event);
                    else
                        owner->mouseExited(event);
                }
            return;
        case NSEventType::KeyDown:
            if (auto* responder = firstResponder())
                responder->keyDown(event);
            else
                keyDown(event);
            return;
        case NSEventType::KeyUp:
            if (auto* responder = firstResponder())
                responder->keyUp(event);
            else
                keyUp(event);
            return;
        default:
            return;
    }
}

void NSWindow::updateTrackingAreas(const NSEvent& event, bool dragging) {
    auto self = sharedAs<NSWindow>();
    std::vector<std::pair<std::shared_ptr<NSTrackingArea>, bool>> changes;
    forEachVisibleView(contentView_.get(), [&](NSView* view) {
        CGPoint local = view->convertPointFromView(event.locationInWindow(), nullptr);
        for (const auto& area : view->trackingAreas()) {
            if (!(area->options() & NSTrackingMouseEnteredAndExited)) continue;
            if (dragging && !(area->options() & NSTrackingEnabledDuringMouseDrag)) continue;
            if ((area->options() & NSTrackingActiveWhenFirstResponder) && firstResponder() != view) continue;
            CGRect rect = (area->options() & NSTrackingInVisibleRect) ? view->visibleRect() : area->rect();
            bool inside = CGRectContainsPoint(rect, local);
            if (inside == area->pointerInside()) continue;
            area->setPointerInside(inside);
            changes.emplace_back(area, inside);
        }
    });
    // Exits before entries, as the pointer leaves one area before it reaches the next.
    std::stable_partition(changes.begin(), changes.end(), [](const auto& c) { return !c.second; });
    for (const auto& [area, inside] : changes) {
        auto owner = area->owner();
        if (!owner) continue;
        auto e = NSEvent::enterExitEvent(inside ? NSEventType::MouseEntered : NSEventType::MouseExited,
                                         event.locationInWindow(), area, self);
        e->setCGEventLocation(event.cgEventLocation());
        if (inside)
            owner->mouseEntered(*e);
        else
            owner->mouseExited(*e);
    }
}

void NSWindow::display() {
    if (contentView_) contentView_->display();
}

void NSWindow::displayIfNeeded() {
    if (contentView_) contentView_->displayIfNeeded();
}

std::shared_ptr<NSScreen> NSWindow::screen() const {
    std::shared_ptr<NSScreen> best;
    CGFloat bestArea = 0;
    for (auto& candidate : NSScreen::screens()) {
        CGRect overlap = CGRectIntersection(candidate->frame(), frame_);
        CGFloat area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = candidate;
        }
    }
    return best;
}

void NSWindow::center() {
    auto target = screen();
    if (!target) target = NSScreen::mainScreen();
    if (!target) return;
    CGRect visible = target->visibleFrame();
    CGFloat x = visible.origin.x + std::round((visible.size.width - frame_.size.width) / 2);
    // A third of the free height above the window, two thirds below.
    CGFloat y = visible.origin.y + std::round((visible.size.height - frame_.size.height) * 2 / 3);
    setFrameOrigin({x, y});
}

CGPoint NSWindow::convertPointToScreen(CGPoint p) const {
    return {frame_.origin.x + p.x, frame_.origin.y + p.y};
}
CGPoint NSWindow::convertPointFromScreen(CGPoint p) const {
    return {p.x - frame_.origin.x, p.y - frame_.origin.y};
}
