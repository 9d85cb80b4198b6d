#include "platform/appkit/NSView.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/appkit/LayoutGuideSolver.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSLayoutGuide.h"
#include "platform/appkit/NSViewController.h"
#include "platform/appkit/NSWindow.h"

NSView::NSView(CGRect frame) : frame_(frame) {}

NSView::~NSView() {
    for (auto& child : subviews_) {
        child->superview_ = nullptr;
        child->setWindowOfSubtree(nullptr);
    }
    // A guide may outlive its view (whoever made it may keep it): it must not point back here.
    for (auto& guide : layoutGuides_) guide->superview_ = nullptr;
}

void NSView::setFrame(const CGRect& frame) {
    if (frame_ == frame) return;
    frame_ = frame;
    needsDisplay_ = true;
}
void NSView::setFrameOrigin(CGPoint origin) {
    setFrame({origin, frame_.size});
}
void NSView::setFrameSize(CGSize size) {
    setFrame({frame_.origin, size});
}

// --- Coordinates -------------------------------------------------------------------------------

namespace {
bool flippedOf(const NSView* v) {
    return v && v->isFlipped();
}
}  // namespace

CGPoint NSView::toSuperview(CGPoint p) const {
    // The frame origin is the corner at the superview's minimum y; a view whose y runs the other
    // way counts its y from the opposite edge.
    bool sameDirection = isFlipped() == flippedOf(superview_);
    return {frame_.origin.x + p.x,
            sameDirection ? frame_.origin.y + p.y : frame_.origin.y + frame_.size.height - p.y};
}

CGPoint NSView::fromSuperview(CGPoint p) const {
    bool sameDirection = isFlipped() == flippedOf(superview_);
    return {p.x - frame_.origin.x,
            sameDirection ? p.y - frame_.origin.y : frame_.origin.y + frame_.size.height - p.y};
}

CGPoint NSView::toWindow(CGPoint p) const {
    const NSView* v = this;
    while (v) {
        p = v->toSuperview(p);
        v = v->superview_;
    }
    return p;
}

CGPoint NSView::fromWindow(CGPoint p) const {
    if (superview_) p = superview_->fromWindow(p);
    return fromSuperview(p);
}

CGPoint NSView::convertPointFromView(CGPoint point, const NSView* view) const {
    return fromWindow(view ? view->toWindow(point) : point);
}

CGPoint NSView::convertPointToView(CGPoint point, const NSView* view) const {
    CGPoint inWindow = toWindow(point);
    return view ? view->fromWindow(inWindow) : inWindow;
}

namespace {
CGRect rectFromCorners(CGPoint a, CGPoint b) {
    return {std::min(a.x, b.x), std::min(a.y, b.y), std::abs(a.x - b.x), std::abs(a.y - b.y)};
}
}  // namespace

CGRect NSView::convertRectFromView(const CGRect& rect, const NSView* view) const {
    return rectFromCorners(convertPointFromView({rect.minX(), rect.minY()}, view),
                           convertPointFromView({rect.maxX(), rect.maxY()}, view));
}

CGRect NSView::convertRectToView(const CGRect& rect, const NSView* view) const {
    return rectFromCorners(convertPointToView({rect.minX(), rect.minY()}, view),
                           convertPointToView({rect.maxX(), rect.maxY()}, view));
}

CGRect NSView::visibleRect() const {
    CGRect visible = bounds();
    if (superview_) {
        CGRect clip = convertRectFromView(superview_->visibleRect(), superview_);
        visible = CGRectIntersection(visible, clip);
    }
    return visible;
}

// --- Hierarchy ---------------------------------------------------------------------------------

void NSView::addSubview(const std::shared_ptr<NSView>& view) {
    if (!view || view.get() == this) return;
    if (view->superview_ == this) {
        // Already here: move it to the top, as the platform does.
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        std::rotate(it, it + 1, subviews_.end());
        return;
    }
    if (view->superview_) view->removeFromSuperview();
    subviews_.push_back(view);
    view->superview_ = this;
    view->setWindowOfSubtree(window_);
    needsDisplay_ = true;
    if (window_ && window_->isVisible()) {
        if (window_->contentView()) window_->contentView()->layoutSubtreeIfNeeded();
        view->notifyAppearance();
    }
}

namespace {
void collectSubtree(NSView* v, std::set<const NSView*>& out) {
    out.insert(v);
    for (const auto& s : v->subviews()) collectSubtree(s.get(), out);
}
void collectSubtreeViews(NSView* v, std::vector<NSView*>& out) {
    out.push_back(v);
    for (const auto& s : v->subviews()) collectSubtreeViews(s.get(), out);
}
}  // namespace

void NSView::removeFromSuperview() {
    NSView* parent = superview_;
    if (!parent) return;
    std::set<const NSView*> inside;
    collectSubtree(this, inside);
    auto crossesBoundary = [&](const ConstraintPtr& c, bool heldInside) {
        for (const NSView* item : {c->firstItem(), c->secondItem()}) {
            if (!item) continue;
            if (heldInside != (inside.count(item) > 0)) return true;
        }
        return false;
    };
    for (NSView* v = parent; v; v = v->superview_)
        std::erase_if(v->constraints_, [&](const ConstraintPtr& c) { return crossesBoundary(c, false); });
    std::vector<NSView*> views;
    collectSubtreeViews(this, views);
    for (NSView* v : views)
        std::erase_if(v->constraints_, [&](const ConstraintPtr& c) { return crossesBoundary(c, true); });

    // Keep ourselves alive until detached: the parent may hold the last reference.
    auto self = sharedAs<NSView>();
    auto& siblings = parent->subviews_;
    std::erase_if(siblings, [this](const std::shared_ptr<NSView>& s) { return s.get() == this; });
    superview_ = nullptr;
    setWindowOfSubtree(nullptr);
    parent->needsDisplay_ = true;
}

bool NSView::isDescendantOf(const NSView* view) const {
    for (const NSView* v = this; v; v = v->superview_)
        if (v == view) return true;
    return false;
}

void NSView::setWindowOfSubtree(NSWindow* window) {
    if (window_ != window) viewWillMoveToWindow(window);
    if (window_ != window && window_) {
        for (auto& area : trackingAreas_) area->setPointerInside(false);
    }
    window_ = window;
    for (auto& s : subviews_) s->setWindowOfSubtree(window);
}

NSResponder* NSView::nextResponder() const {
    if (viewController_) return viewController_;
    if (superview_) return superview_;
    return window_;
}

void NSView::notifyAppearance() {
    if (hidden_) return;
    if (viewController_) viewController_->performViewWillAppear();
    auto children = subviews_;
    for (const auto& child : children) child->notifyAppearance();
    if (viewController_) viewController_->viewDidAppear();
}

void NSView::setHidden(bool hidden) {
    if (hidden_ == hidden) return;
    hidden_ = hidden;
    if (hidden) {
        viewDidHide();
    } else {
        viewDidUnhide();
        needsDisplay_ = true;
    }
}

bool NSView::isHiddenOrHasHiddenAncestor() const {
    for (const NSView* v = this; v; v = v->superview_)
        if (v->hidden_) return true;
    return false;
}

void NSView::setWantsLayer(bool wants) {
    if (wants && !layer_) layer_ = std::make_unique<CALayer>();
    if (!wants) layer_.reset();
}

// --- Constraints -------------------------------------------------------------------------------

void NSView::addLayoutGuide(const std::shared_ptr<NSLayoutGuide>& guide) {
    if (!guide || guide->superview_ == this) return;
    if (NSView* owner = guide->superview_) owner->removeLayoutGuide(guide);
    layoutGuides_.push_back(guide);
    guide->superview_ = this;
}

void NSView::removeLayoutGuide(const std::shared_ptr<NSLayoutGuide>& guide) {
    if (!guide || guide->superview_ != this) return;
    for (NSView* v = this; v; v = v->superview_)
        std::erase_if(v->constraints_, [&](const ConstraintPtr& c) { return c->involves(guide.get()); });
    std::erase(layoutGuides_, guide);
    guide->superview_ = nullptr;
}

std::shared_ptr<NSAppearance> NSView::effectiveAppearance() const {
    for (const NSView* v = this; v; v = v->superview_)
        if (v->appearance_) return v->appearance_;
    return NSAppearance::currentAppearance();
}

NSUserInterfaceLayoutDirection NSView::userInterfaceLayoutDirection() const {
    if (layoutDirection_) return *layoutDirection_;
    return NSApplication::sharedApplication()->userInterfaceLayoutDirection();
}

void NSView::addConstraint(const ConstraintPtr& constraint) {
    if (!constraint) return;
    if (constraint->isActive()) return;
    constraints_.push_back(constraint);
}

void NSView::addConstraints(const std::vector<ConstraintPtr>& constraints) {
    for (const auto& c : constraints) addConstraint(c);
}

void NSView::removeConstraint(const ConstraintPtr& constraint) {
    std::erase(constraints_, constraint);
}

void NSView::removeConstraints(const std::vector<ConstraintPtr>& constraints) {
    for (const auto& c : constraints) removeConstraint(c);
}

std::vector<ConstraintPtr> NSView::constraintsAffecting() const {
    std::vector<ConstraintPtr> out;
    auto scan = [&](const NSView* holder) {
        for (const auto& c : holder->constraints_)
            if (c->involves(this)) out.push_back(c);
    };
    std::vector<const NSView*> holders;
    for (const NSView* v = this; v; v = v->superview_) holders.push_back(v);
    for (const auto& s : subviews_) holders.push_back(s.get());
    for (const NSView* h : holders) scan(h);
    return out;
}

namespace {

enum class Axis { X, Y };

struct AxisSlots {
    std::optional<CGFloat> minEdge, maxEdge, center, size, minSize, maxSize;
    bool any() const { return minEdge || maxEdge || center || size || minSize || maxSize; }
};

Axis axisOf(NSLayoutAttribute a) {
    switch (a) {
        case NSLayoutAttribute::Top:
        case NSLayoutAttribute::Bottom:
        case NSLayoutAttribute::Height:
        case NSLayoutAttribute::CenterY:
            return Axis::Y;
        default:
            return Axis::X;
    }
}

bool isDimension(NSLayoutAttribute a) {
    return a == NSLayoutAttribute::Width || a == NSLayoutAttribute::Height;
}

// Constraints speak of edges with y growing downwards whatever the view's own direction: a
// positive constant moves a top or bottom edge down. `r` is in the parent's coordinates, of height
// `parentHeight`; vertical values come out measured from the parent's top edge.
CGFloat attributeOf(const CGRect& r, NSLayoutAttribute attribute, bool flipped, CGFloat parentHeight) {
    auto down = [&](CGFloat y) { return flipped ? y : parentHeight - y; };
    switch (attribute) {
        case NSLayoutAttribute::Left:
        case NSLayoutAttribute::Leading:
            return r.minX();
        case NSLayoutAttribute::Right:
        case NSLayoutAttribute::Trailing:
            return r.maxX();
        case NSLayoutAttribute::Top:
            return down(flipped ? r.minY() : r.maxY());
        case NSLayoutAttribute::Bottom:
            return down(flipped ? r.maxY() : r.minY());
        case NSLayoutAttribute::Width:
            return r.width();
        case NSLayoutAttribute::Height:
            return r.height();
        case NSLayoutAttribute::CenterX:
            return r.midX();
        case NSLayoutAttribute::CenterY:
            return down(r.midY());
        case NSLayoutAttribute::NotAnAttribute:
            break;
    }
    return 0;
}

// The rectangle of `item` in the coordinates of `parent`; none when they share no tree.
std::optional<CGRect> rectIn(const NSView* parent, const NSView* item) {
    if (item == parent) return parent->bounds();
    if (item->superview() == parent) return item->frame();
    const NSView* rootA = parent;
    while (rootA->superview()) rootA = rootA->superview();
    const NSView* rootB = item;
    while (rootB->superview()) rootB = rootB->superview();
    if (rootA != rootB) return std::nullopt;
    return parent->convertRectFromView(item->bounds(), item);
}

void record(AxisSlots& slots, NSLayoutAttribute attribute, NSLayoutRelation relation, CGFloat value) {
    std::optional<CGFloat>* slot = nullptr;
    switch (attribute) {
        case NSLayoutAttribute::Left:
        case NSLayoutAttribute::Leading:
        case NSLayoutAttribute::Top:
            slot = &slots.minEdge;
            break;
        case NSLayoutAttribute::Right:
        case NSLayoutAttribute::Trailing:
        case NSLayoutAttribute::Bottom:
            slot = &slots.maxEdge;
            break;
        case NSLayoutAttribute::CenterX:
        case NSLayoutAttribute::CenterY:
            slot = &slots.center;
            break;
        case NSLayoutAttribute::Width:
        case NSLayoutAttribute::Height:
            if (relation == NSLayoutRelation::GreaterThanOrEqual)
                slot = &slots.minSize;
            else if (relation == NSLayoutRelation::LessThanOrEqual)
                slot = &slots.maxSize;
            else
                slot = &slots.size;
            break;
        case NSLayoutAttribute::NotAnAttribute:
            return;
    }
    // Inequalities on edges only bound the view; an equal edge places it.
    if (!isDimension(attribute) && relation != NSLayoutRelation::Equal) return;
    *slot = value;
}

void solveAxis(const AxisSlots& s, CGFloat intrinsic, CGFloat& origin, CGFloat& size) {
    if (!s.any() && intrinsic == NSViewNoIntrinsicMetric) return;
    CGFloat newSize = size;
    if (s.size)
        newSize = *s.size;
    else if (s.minEdge && s.maxEdge)
        newSize = *s.maxEdge - *s.minEdge;
    else if (s.minEdge && s.center)
        newSize = 2 * (*s.center - *s.minEdge);
    else if (s.maxEdge && s.center)
        newSize = 2 * (*s.maxEdge - *s.center);
    else if (intrinsic != NSViewNoIntrinsicMetric)
        newSize = intrinsic;
    if (s.minSize) newSize = std::max(newSize, *s.minSize);
    if (s.maxSize) newSize = std::min(newSize, *s.maxSize);
    size = newSize;
    if (s.minEdge)
        origin = *s.minEdge;
    else if (s.maxEdge)
        origin = *s.maxEdge - size;
    else if (s.center)
        origin = *s.center - size / 2;
}

}  // namespace

void NSView::resolveFrameOfSubview(NSView* child) {
    bool flipped = isFlipped();
    CGFloat height = frame_.size.height;
    AxisSlots x, y;
    for (const auto& c : child->constraintsAffecting()) {
        NSView* first = c->firstItem();
        NSView* second = c->secondItem();
        NSLayoutAttribute attribute;
        CGFloat value;
        NSLayoutRelation relation = c->relation();
        if (first == child && second != child) {
            attribute = c->firstAttribute();
            if (second) {
                auto r = rectIn(this, second);
                if (!r) continue;
                value =
                    attributeOf(*r, c->secondAttribute(), flipped, height) * c->multiplier() + c->constant();
            } else {
                if (!isDimension(attribute)) continue;
                value = c->constant();
            }
        } else if (second == child && first && child->isDescendantOf(first)) {
            // Solved for the second item only against an enclosing view: a sibling named first is
            // the one this constraint places.
            auto r = rectIn(this, first);
            if (!r || c->multiplier() == 0) continue;
            attribute = c->secondAttribute();
            value = (attributeOf(*r, c->firstAttribute(), flipped, height) - c->constant()) / c->multiplier();
            // a ≤ m·b + k turns around when solved for b.
            if (relation != NSLayoutRelation::Equal)
                relation = relation == NSLayoutRelation::LessThanOrEqual
                               ? NSLayoutRelation::GreaterThanOrEqual
                               : NSLayoutRelation::LessThanOrEqual;
        } else {
            continue;
        }
        record(axisOf(attribute) == Axis::X ? x : y, attribute, relation, value);
    }
    CGSize intrinsic = child->intrinsicContentSize();
    CGRect f = child->frame();
    solveAxis(x, intrinsic.width, f.origin.x, f.size.width);
    CGFloat top = flipped ? f.origin.y : height - f.maxY();
    solveAxis(y, intrinsic.height, top, f.size.height);
    f.origin.y = flipped ? top : height - top - f.size.height;
    child->setFrame(f);
}

void NSView::layout() {
    // Siblings may refer to each other; a few passes let such chains settle.
    for (int pass = 0; pass < 3; ++pass) {
        for (const auto& child : subviews_) {
            if (child->translatesAutoresizing_ || placesSubviewItself(child.get())) continue;
            resolveFrameOfSubview(child.get());
        }
    }
}

void NSView::layoutSubtreeIfNeeded() {
    // A constraint may reach into another branch laid out later; a second pass lets it see that
    // branch's frames.
    updateConstraintsOfSubtree();
    for (int pass = 0; pass < 2; ++pass) layoutSubtree();
}

void NSView::updateConstraintsOfSubtree() {
    // Constraints are brought up to date before any frame is computed from them.
    if (needsUpdateConstraints_) updateConstraints();
    auto children = subviews_;
    for (const auto& child : children) child->updateConstraintsOfSubtree();
}

void NSView::layoutSubtree() {
    layout();
    solveLayoutGuideFrames(*this);
    auto children = subviews_;
    for (const auto& child : children) child->layoutSubtree();
}

namespace {

// The size the constraints and content give `view` along `axis`; none when nothing does.
std::optional<CGFloat> determinedSize(const NSView& view, Axis axis) {
    NSLayoutAttribute dimension = axis == Axis::X ? NSLayoutAttribute::Width : NSLayoutAttribute::Height;
    for (const auto& c : view.constraints())
        if (c->firstItem() == &view && !c->secondItem() && c->relation() == NSLayoutRelation::Equal &&
            c->firstAttribute() == dimension)
            return c->constant();
    CGSize intrinsic = view.intrinsicContentSize();
    CGFloat own = axis == Axis::X ? intrinsic.width : intrinsic.height;
    if (own != NSViewNoIntrinsicMetric) return own;

    // Content pinned to both edges decides the axis, but only when every such piece has a size of
    // its own there: one that could take any size leaves the axis open.
    std::optional<CGFloat> best;
    for (const auto& s : view.subviews()) {
        if (s->translatesAutoresizingMaskIntoConstraints()) continue;
        std::optional<CGFloat> gapBefore, gapAfter;
        for (const auto& c : view.constraints()) {
            NSLayoutAttribute a = c->firstAttribute();
            if (c->relation() != NSLayoutRelation::Equal || axisOf(a) != axis || c->secondAttribute() != a)
                continue;
            // In the form s.a = view.a + k.
            CGFloat k;
            if (c->firstItem() == s.get() && c->secondItem() == &view)
                k = c->constant();
            else if (c->firstItem() == &view && c->secondItem() == s.get())
                k = -c->constant();
            else
                continue;
            switch (a) {
                case NSLayoutAttribute::Left:
                case NSLayoutAttribute::Leading:
                case NSLayoutAttribute::Top:
                    gapBefore = k;
                    break;
                case NSLayoutAttribute::Right:
                case NSLayoutAttribute::Trailing:
                case NSLayoutAttribute::Bottom:
                    gapAfter = -k;
                    break;
                default:
                    break;
            }
        }
        if (!gapBefore || !gapAfter) continue;
        auto inner = determinedSize(*s, axis);
        if (!inner) return std::nullopt;
        best = std::max(best.value_or(0), *gapBefore + *inner + *gapAfter);
    }
    return best;
}

}  // namespace

CGSize NSView::fittingSize() const {
    // An axis that nothing determines keeps the current size.
    return {determinedSize(*this, Axis::X).value_or(frame_.size.width),
            determinedSize(*this, Axis::Y).value_or(frame_.size.height)};
}

// --- Drawing -----------------------------------------------------------------------------------

void NSView::drawRect(const CGRect&) {}

void NSView::display() {
    NSView* root = this;
    while (root->superview_) root = root->superview_;
    root->layoutSubtreeIfNeeded();
    displaySubtree();
}

void NSView::displayIfNeeded() {
    if (subtreeNeedsDisplay()) display();
}

bool NSView::subtreeNeedsDisplay() const {
    if (needsDisplay_) return true;
    return std::any_of(subviews_.begin(), subviews_.end(),
                       [](const auto& s) { return s->subtreeNeedsDisplay(); });
}

CGRect NSView::centerScanRect(const CGRect& rect) const {
    CGFloat minX = std::floor(rect.minX()), minY = std::floor(rect.minY());
    return {minX, minY, std::ceil(rect.maxX()) - minX, std::ceil(rect.maxY()) - minY};
}

NSToolTipTag NSView::addToolTipRect(const CGRect& rect, const std::shared_ptr<NSObject>& owner,
                                    void* userData) {
    // Tags are unique in the process, so a stale tag never removes another view's rectangle.
    static NSToolTipTag nextTag = 1;
    NSToolTipTag tag = nextTag++;
    toolTipRects_.push_back({tag, rect, owner, userData});
    return tag;
}

void NSView::removeToolTip(NSToolTipTag tag) {
    std::erase_if(toolTipRects_, [tag](const NSToolTipRect& r) { return r.tag == tag; });
}

std::optional<std::string> NSView::toolTipAtPoint(CGPoint point) {
    for (auto it = toolTipRects_.rbegin(); it != toolTipRects_.rend(); ++it) {
        if (!CGRectContainsPoint(it->rect, point)) continue;
        auto owner = it->owner.lock();
        auto* answering = dynamic_cast<NSViewToolTipOwner*>(owner.get());
        if (!answering) return std::nullopt;
        return answering->viewStringForToolTip(*this, it->tag, point, it->userData);
    }
    if (toolTip_.empty()) return std::nullopt;
    return toolTip_;
}

void NSView::setNeedsDisplayInRect(const CGRect& rect) {
    dirtyRects_.push_back(rect);
    needsDisplay_ = true;
}

void NSView::displaySubtree() {
    needsDisplay_ = false;
    dirtyRects_.clear();
    if (hidden_) return;
    drawing_ = std::make_unique<NSGraphicsContext>();
    NSGraphicsContext* previous = NSGraphicsContext::setCurrentContext(drawing_.get());
    drawRect(bounds());
    NSGraphicsContext::setCurrentContext(previous);
    auto children = subviews_;
    for (const auto& child : children) child->displaySubtree();
}

// --- Tracking, cursors, hit testing ------------------------------------------------------------

void NSView::addTrackingArea(const std::shared_ptr<NSTrackingArea>& area) {
    if (area && std::find(trackingAreas_.begin(), trackingAreas_.end(), area) == trackingAreas_.end())
        trackingAreas_.push_back(area);
}

void NSView::removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area) {
    std::erase(trackingAreas_, area);
}

void NSView::addCursorRect(const CGRect& rect, const NSCursor& cursor) {
    cursorRects_.emplace_back(rect, cursor);
}

NSView* NSView::hitTest(CGPoint point) {
    if (hidden_) return nullptr;
    if (!CGRectContainsPoint(frame_, point)) return nullptr;
    CGPoint local = fromSuperview(point);
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it)
        if (NSView* hit = (*it)->hitTest(local)) return hit;
    return this;
}
