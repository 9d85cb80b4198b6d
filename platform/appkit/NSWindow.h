#pragma once
// A headless window: a frame in screen coordinates (origin at the bottom-left of the primary
// screen, y up), a content view, a level, the key-window state and the first responder. Windows on
// screen are kept in one front-to-back list. Events given to sendEvent reach the views as the
// platform routes them: presses to the view under the pointer (drags and releases to the view that
// took the press), keys to the first responder, pointer moves to the tracking areas.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSResponder.h"
#include "platform/foundation/Geometry.h"

class NSScreen;
class NSToolbar;
class NSView;
class NSViewController;

using NSWindowStyleMask = uint64_t;
inline constexpr NSWindowStyleMask NSWindowStyleMaskBorderless = 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskTitled = 1 << 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskClosable = 1 << 1;
inline constexpr NSWindowStyleMask NSWindowStyleMaskMiniaturizable = 1 << 2;
inline constexpr NSWindowStyleMask NSWindowStyleMaskResizable = 1 << 3;

enum class NSBackingStoreType { Retained = 0, Nonretained = 1, Buffered = 2 };

enum class NSWindowTitleVisibility { Visible = 0, Hidden = 1 };
enum class NSWindowToolbarStyle {
    Automatic = 0,
    Expanded = 1,
    Preference = 2,
    Unified = 3,
    UnifiedCompact = 4
};

// A change of the window's frame made through its animator.
struct NSWindowFrameAnimation {
    CGRect from, to;
    double duration = 0;
    std::optional<std::string> timingFunction;
};

// Posted by a window (as the object) when it is about to close.
inline constexpr const char* NSWindowWillCloseNotification = "NSWindowWillCloseNotification";
inline constexpr const char* NSWindowDidResignKeyNotification = "NSWindowDidResignKeyNotification";

using NSWindowLevel = int;
inline constexpr NSWindowLevel NSNormalWindowLevel = 0;
inline constexpr NSWindowLevel NSFloatingWindowLevel = 3;

class NSWindow : public NSResponder {
  public:
    // The height a title bar adds to the content of a titled window.
    static constexpr CGFloat kTitleBarHeight = 28;

    NSWindow(CGRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool defer);
    ~NSWindow() override;

    // The windows on screen, front to back, and the key window (null when none).
    static std::vector<std::shared_ptr<NSWindow>> orderedWindows();
    static std::shared_ptr<NSWindow> keyWindow();
    // The window that carries `number`; null when none does (any more).
    static std::shared_ptr<NSWindow> windowWithNumber(int number);

    // Unique among the windows of the process; input events name their window by it.
    int windowNumber() const { return number_; }

    NSWindowStyleMask styleMask() const { return styleMask_; }
    NSBackingStoreType backingType() const { return backing_; }
    CGRect frameRectForContentRect(const CGRect& contentRect) const;
    CGRect contentRectForFrameRect(const CGRect& frameRect) const;
    const CGRect& frame() const { return frame_; }
    void setFrame(const CGRect& frame, bool display);
    void setFrameOrigin(CGPoint origin);

    const std::shared_ptr<NSView>& contentView() const { return contentView_; }
    void setContentView(std::shared_ptr<NSView> view);
    // The controller's view becomes the content view; the window keeps the controller.
    const std::shared_ptr<NSViewController>& contentViewController() const { return contentViewController_; }
    void setContentViewController(std::shared_ptr<NSViewController> controller);

    // Frame changes through the animator take the current animation group's duration.
    class Animator {
      public:
        explicit Animator(NSWindow& window) : window_(window) {}
        void setFrame(const CGRect& frame, bool display);

      private:
        NSWindow& window_;
    };
    Animator animator() { return Animator(*this); }
    // Every frame change made through the animator, oldest first.
    const std::vector<NSWindowFrameAnimation>& frameAnimations() const { return frameAnimations_; }

    // The frame is saved in the standard user defaults under "NSWindow Frame <name>" whenever it
    // changes once an autosave name is set.
    const std::string& frameAutosaveName() const { return autosaveName_; }
    bool setFrameAutosaveName(const std::string& name);
    // Takes the frame saved under `name`; false (and no change) when none is saved or it is unreadable.
    bool setFrameUsingName(const std::string& name);

    const std::shared_ptr<NSToolbar>& toolbar() const { return toolbar_; }
    void setToolbar(std::shared_ptr<NSToolbar> toolbar);
    NSWindowToolbarStyle toolbarStyle() const { return toolbarStyle_; }
    void setToolbarStyle(NSWindowToolbarStyle style) { toolbarStyle_ = style; }
    NSWindowTitleVisibility titleVisibility() const { return titleVisibility_; }
    void setTitleVisibility(NSWindowTitleVisibility visibility) { titleVisibility_ = visibility; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    NSWindowLevel level() const { return level_; }
    void setLevel(NSWindowLevel level) { level_ = level; }
    const NSColor& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const NSColor& color) { backgroundColor_ = color; }
    bool isMovableByWindowBackground() const { return movableByBackground_; }
    void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
    bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
    void setReleasedWhenClosed(bool released) { releasedWhenClosed_ = released; }

    virtual bool canBecomeKeyWindow() const;
    virtual bool canBecomeMainWindow() const;
    bool isKeyWindow() const;
    bool isVisible() const { return visible_; }
    // Brings the window to the front of its level (drawing its content), and makes it key when it
    // can become key.
    void makeKeyAndOrderFront(NSObject* sender);
    void orderFront(NSObject* sender);
    void orderOut(NSObject* sender);
    void makeKeyWindow();
    void close();
    bool isClosed() const { return closed_; }

    // Null when no view holds the focus (the window itself answers then).
    NSResponder* firstResponder() const;
    // Asks the current first responder to resign and `responder` to take over; null clears it.
    bool makeFirstResponder(NSResponder* responder);

    // Where the pointer was at the last mouse event the window was sent (window coordinates).
    CGPoint mouseLocationOutsideOfEventStream() const { return mouseLocation_; }

    // Routes the event, then draws what needs display while the window is on screen.
    virtual void sendEvent(const NSEvent& event);

    void display();
    void displayIfNeeded();

    // The screen that holds the largest part of the window; null when it lies on none.
    std::shared_ptr<NSScreen> screen() const;
    // Places the window centred across its screen (or the main screen), a little above the middle.
    void center();

    // Turns a point between the window's coordinates and screen coordinates.
    CGPoint convertPointToScreen(CGPoint point) const;
    CGPoint convertPointFromScreen(CGPoint point) const;

  private:
    void dispatchEvent(const NSEvent& event);
    // While dragging only the areas that ask for it hear entries and exits.
    void updateTrackingAreas(const NSEvent& event, bool dragging);
    void saveFrame() const;
    void removeFromScreenList();

    const int number_;
    CGRect frame_;
    NSWindowStyleMask styleMask_;
    NSBackingStoreType backing_;
    std::shared_ptr<NSView> contentView_;
    std::shared_ptr<NSViewController> contentViewController_;
    std::vector<NSWindowFrameAnimation> frameAnimations_;
    uint64_t frameGeneration_ = 0;
    std::string autosaveName_;
    std::shared_ptr<NSToolbar> toolbar_;
    NSWindowToolbarStyle toolbarStyle_ = NSWindowToolbarStyle::Automatic;
    NSWindowTitleVisibility titleVisibility_ = NSWindowTitleVisibility::Visible;
    std::string title_;
    NSWindowLevel level_ = NSNormalWindowLevel;
    NSColor backgroundColor_ = NSColor::colorWithWhite(0.93, 1);
    bool movableByBackground_ = false;
    bool releasedWhenClosed_ = true;
    bool visible_ = false;
    bool closed_ = false;
    std::weak_ptr<NSObject> firstResponder_;
    std::weak_ptr<NSObject> mouseDownView_;
    CGPoint mouseLocation_;
};
