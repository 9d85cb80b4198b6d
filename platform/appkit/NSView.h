#pragma once
// A headless view: a rectangle in its superview with subviews, an optional backing layer, layout
// constraints, tracking areas and cursor rectangles. Views draw only in a display pass, into a
// recording context that tests read back (drawing()).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/CALayer.h"
#include "platform/appkit/NSAppearance.h"
#include "platform/appkit/NSCursor.h"
#include "platform/appkit/NSGraphicsContext.h"
#include "platform/appkit/NSLayoutConstraint.h"
#include "platform/appkit/NSResponder.h"
#include "platform/appkit/NSTrackingArea.h"
#include "platform/appkit/NSUserInterfaceLayoutDirection.h"
#include "platform/foundation/Geometry.h"

class NSLayoutGuide;
class NSViewController;
class NSWindow;

using NSToolTipTag = int64_t;

// Answers the text of a tool-tip rectangle it owns; nullopt shows none.
class NSViewToolTipOwner {
  public:
    virtual ~NSViewToolTipOwner() = default;
    virtual std::optional<std::string> viewStringForToolTip(NSView& view, NSToolTipTag tag, CGPoint point,
                                                            void* userData) = 0;
};

struct NSToolTipRect {
    NSToolTipTag tag = 0;
    CGRect rect;
    // Held weakly: the owner is often the view itself.
    std::weak_ptr<NSObject> owner;
    void* userData = nullptr;
};

struct NSEdgeInsets {
    CGFloat top = 0, left = 0, bottom = 0, right = 0;
};

// A drop shadow under a layer-backed view.
struct NSShadow {
    std::optional<NSColor> shadowColor;
    CGSize shadowOffset;
    CGFloat shadowBlurRadius = 0;
};

inline constexpr CGFloat NSViewNoIntrinsicMetric = -1;

class NSView : public NSResponder {
  public:
    explicit NSView(CGRect frame = {});
    ~NSView() override;
    NSView(const NSView&) = delete;
    NSView& operator=(const NSView&) = delete;

    // Geometry. The frame is in the superview's coordinates; the bounds origin is always (0, 0).
    const CGRect& frame() const { return frame_; }
    void setFrame(const CGRect& frame);
    void setFrameOrigin(CGPoint origin);
    void setFrameSize(CGSize size);
    CGRect bounds() const { return {0, 0, frame_.size.width, frame_.size.height}; }
    // A flipped view has its origin at the top-left and y growing downwards.
    virtual bool isFlipped() const { return false; }
    // The part of the bounds that the ancestors do not clip away.
    CGRect visibleRect() const;
    // `view` null: the window's coordinates.
    CGPoint convertPointFromView(CGPoint point, const NSView* view) const;
    CGPoint convertPointToView(CGPoint point, const NSView* view) const;
    CGRect convertRectFromView(const CGRect& rect, const NSView* view) const;
    CGRect convertRectToView(const CGRect& rect, const NSView* view) const;

    // Hierarchy. A view held by a superview lives as long as it stays there.
    NSView* superview() const { return superview_; }
    const std::vector<std::shared_ptr<NSView>>& subviews() const { return subviews_; }
    // Adds on top of the other subviews; a view already elsewhere is moved here.
    void addSubview(const std::shared_ptr<NSView>& view);
    // Also drops the constraints between this subtree and the views outside it.
    void removeFromSuperview();
    NSWindow* window() const { return window_; }
    bool isDescendantOf(const NSView* view) const;
    NSResponder* nextResponder() const override;

    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    virtual void viewDidHide() {}
    virtual void viewDidUnhide() {}

    bool wantsLayer() const { return layer_ != nullptr; }
    void setWantsLayer(bool wants);
    // Null unless the view is layer-backed.
    CALayer* layer() const { return layer_.get(); }

    // Auto layout.
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizing_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
        translatesAutoresizing_ = translates;
    }
    NSLayoutAnchor leftAnchor() { return {this, NSLayoutAttribute::Left}; }
    NSLayoutAnchor rightAnchor() { return {this, NSLayoutAttribute::Right}; }
    NSLayoutAnchor topAnchor() { return {this, NSLayoutAttribute::Top}; }
    NSLayoutAnchor bottomAnchor() { return {this, NSLayoutAttribute::Bottom}; }
    NSLayoutAnchor leadingAnchor() { return {this, NSLayoutAttribute::Leading}; }
    NSLayoutAnchor trailingAnchor() { return {this, NSLayoutAttribute::Trailing}; }
    NSLayoutAnchor widthAnchor() { return {this, NSLayoutAttribute::Width}; }
    NSLayoutAnchor heightAnchor() { return {this, NSLayoutAttribute::Height}; }
    NSLayoutAnchor centerXAnchor() { return {this, NSLayoutAttribute::CenterX}; }
    NSLayoutAnchor centerYAnchor() { return {this, NSLayoutAttribute::CenterY}; }
    // Rectangles of this view that constraints place without a view of their own. A guide belongs
    // to one view at a time; removing it drops the constraints that refer to it.
    void addLayoutGuide(const std::shared_ptr<NSLayoutGuide>& guide);
    void removeLayoutGuide(const std::shared_ptr<NSLayoutGuide>& guide);
    const std::vector<std::shared_ptr<NSLayoutGuide>>& layoutGuides() const { return layoutGuides_; }
    bool needsUpdateConstraints() const { return needsUpdateConstraints_; }
    void setNeedsUpdateConstraints(bool needs) { needsUpdateConstraints_ = needs; }
    // Brings the view's own constraints up to date; the layout pass calls it first, for each view
    // that asked. Subclasses end by calling this one.
    virtual void updateConstraints() { needsUpdateConstraints_ = false; }
    // How far the edges that constraints place lie inside the frame (a bezel's shadow, say).
    virtual NSEdgeInsets alignmentRectInsets() const { return {}; }
    // Tells the view that what intrinsicContentSize answers has changed.
    virtual void invalidateIntrinsicContentSize() {}
    // The constraints this view holds.
    const std::vector<ConstraintPtr>& constraints() const { return constraints_; }
    void addConstraint(const ConstraintPtr& constraint);
    void addConstraints(const std::vector<ConstraintPtr>& constraints);
    void removeConstraint(const ConstraintPtr& constraint);
    void removeConstraints(const std::vector<ConstraintPtr>& constraints);
    // Every active constraint that refers to this view, wherever it is held.
    std::vector<ConstraintPtr> constraintsAffecting() const;
    // How hard the view holds to its intrinsic size against stretching (hugging) and squeezing
    // (compression resistance), per orientation.
    NSLayoutPriority contentHuggingPriority(NSLayoutConstraintOrientation o) const {
        return hugging_[int(o)];
    }
    void setContentHuggingPriority(NSLayoutPriority p, NSLayoutConstraintOrientation o) {
        hugging_[int(o)] = p;
    }
    NSLayoutPriority contentCompressionResistancePriority(NSLayoutConstraintOrientation o) const {
        return compressionResistance_[int(o)];
    }
    void setContentCompressionResistancePriority(NSLayoutPriority p, NSLayoutConstraintOrientation o) {
        compressionResistance_[int(o)] = p;
    }
    virtual CGSize intrinsicContentSize() const { return {NSViewNoIntrinsicMetric, NSViewNoIntrinsicMetric}; }
    // The smallest size the view's constraints and content allow.
    virtual CGSize fittingSize() const;
    // Computes the frames of the constrained views of this subtree.
    void layoutSubtreeIfNeeded();
    virtual void layout();

    // Drawing.
    bool needsDisplay() const { return needsDisplay_; }
    void setNeedsDisplay(bool needs) { needsDisplay_ = needs; }
    // `rect` with its edges moved out to whole points of the backing store (scale 1).
    CGRect centerScanRect(const CGRect& rect) const;
    // Marks a part of the bounds; the rectangles marked since the last display pass, in order.
    void setNeedsDisplayInRect(const CGRect& rect);
    const std::vector<CGRect>& dirtyRects() const { return dirtyRects_; }
    // Lays out and draws this view and its visible subviews.
    void display();
    // Draws the subtree when this view or a view below it needs display.
    void displayIfNeeded();
    virtual void drawRect(const CGRect& dirtyRect);
    virtual void drawFocusRingMask() {}
    // Tells the view that the shape drawFocusRingMask draws has changed.
    virtual void noteFocusRingMaskChanged() {}
    // What this view drew in its last display pass; null before its first.
    const NSGraphicsContext* drawing() const { return drawing_.get(); }

    void addTrackingArea(const std::shared_ptr<NSTrackingArea>& area);
    void removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area);
    const std::vector<std::shared_ptr<NSTrackingArea>>& trackingAreas() const { return trackingAreas_; }

    // Cursor rectangles, rebuilt by resetCursorRects.
    virtual void resetCursorRects() {}
    void addCursorRect(const CGRect& rect, const NSCursor& cursor);
    void discardCursorRects() { cursorRects_.clear(); }
    const std::vector<std::pair<CGRect, NSCursor>>& cursorRects() const { return cursorRects_; }

    // The deepest visible view under `point` (in the superview's coordinates), or null.
    virtual NSView* hitTest(CGPoint point);

    const std::string& toolTip() const { return toolTip_; }
    // Rectangles of the bounds whose tool tip the owner answers when the pointer rests there.
    NSToolTipTag addToolTipRect(const CGRect& rect, const std::shared_ptr<NSObject>& owner, void* userData);
    void removeToolTip(NSToolTipTag tag);
    const std::vector<NSToolTipRect>& toolTipRects() const { return toolTipRects_; }
    // What the pointer resting at `point` (bounds coordinates) shows: the topmost rectangle's
    // owner's answer, else the view's own tool tip.
    std::optional<std::string> toolTipAtPoint(CGPoint point);
    void setToolTip(std::string toolTip) { toolTip_ = std::move(toolTip); }
    const std::optional<NSShadow>& shadow() const { return shadow_; }
    void setShadow(std::optional<NSShadow> shadow) { shadow_ = std::move(shadow); }
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

    // Null unless set: the view then looks like its ancestors.
    const std::shared_ptr<NSAppearance>& appearance() const { return appearance_; }
    void setAppearance(std::shared_ptr<NSAppearance> appearance) { appearance_ = std::move(appearance); }
    // Its own appearance, else the nearest ancestor's, else the application's current one.
    std::shared_ptr<NSAppearance> effectiveAppearance() const;
    // Its own direction when set, else the application's.
    virtual NSUserInterfaceLayoutDirection userInterfaceLayoutDirection() const;
    virtual void setUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection direction) {
        layoutDirection_ = direction;
    }

    // Told before the view joins another window (null: none).
    virtual void viewWillMoveToWindow(NSWindow*) {}
    // Called by the window that takes or drops this view's subtree.
    void setWindowOfSubtree(NSWindow* window);
    // The controller whose view this is: it follows the view in the responder chain.
    NSViewController* viewController() const { return viewController_; }
    void setViewController(NSViewController* controller) { viewController_ = controller; }
    // Tells the controllers of this subtree that their views appear (a visible window took them).
    void notifyAppearance();

  protected:
    // The views whose frames the constraint pass leaves alone (a stack view places its own).
    virtual bool placesSubviewItself(const NSView*) const { return false; }

  private:
    friend class NSLayoutConstraint;
    std::shared_ptr<const bool> aliveToken() const { return alive_; }
    void displaySubtree();
    void updateConstraintsOfSubtree();
    void layoutSubtree();
    bool subtreeNeedsDisplay() const;
    void resolveFrameOfSubview(NSView* child);
    CGPoint toSuperview(CGPoint p) const;
    CGPoint fromSuperview(CGPoint p) const;
    CGPoint toWindow(CGPoint p) const;
    CGPoint fromWindow(CGPoint p) const;

    CGRect frame_;
    NSView* superview_ = nullptr;
    NSWindow* window_ = nullptr;
    std::vector<std::shared_ptr<NSView>> subviews_;
    bool hidden_ = false;
    std::unique_ptr<CALayer> layer_;
    bool translatesAutoresizing_ = true;
    std::vector<ConstraintPtr> constraints_;
    std::vector<std::shared_ptr<NSLayoutGuide>> layoutGuides_;
    bool needsUpdateConstraints_ = false;
    NSLayoutPriority hugging_[2] = {NSLayoutPriorityDefaultLow, NSLayoutPriorityDefaultLow};
    NSLayoutPriority compressionResistance_[2] = {NSLayoutPriorityDefaultHigh, NSLayoutPriorityDefaultHigh};
    bool needsDisplay_ = true;
    std::vector<CGRect> dirtyRects_;
    std::shared_ptr<NSAppearance> appearance_;
    std::optional<NSUserInterfaceLayoutDirection> layoutDirection_;
    std::unique_ptr<NSGraphicsContext> drawing_;
    std::vector<std::shared_ptr<NSTrackingArea>> trackingAreas_;
    std::vector<std::pair<CGRect, NSCursor>> cursorRects_;
    std::string toolTip_, identifier_;
    std::vector<NSToolTipRect> toolTipRects_;
    std::optional<NSShadow> shadow_;
    NSViewController* viewController_ = nullptr;
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};
