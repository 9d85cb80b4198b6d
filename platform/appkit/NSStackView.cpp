#include "platform/appkit/NSStackView.h"

#include <algorithm>

std::shared_ptr<NSStackView> NSStackView::stackViewWithViews(
    const std::vector<std::shared_ptr<NSView>>& views) {
    auto stack = std::make_shared<NSStackView>();
    for (const auto& v : views) stack->addArrangedSubview(v);
    return stack;
}

void NSStackView::addArrangedSubview(const std::shared_ptr<NSView>& view) {
    if (!view) return;
    std::erase(arranged_, view);
    arranged_.push_back(view);
    addSubview(view);
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
}

void NSStackView::removeArrangedSubview(const std::shared_ptr<NSView>& view) {
    std::erase(arranged_, view);
}

void NSStackView::setOrientation(NSUserInterfaceLayoutOrientation o) {
    orientation_ = o;
    if (alignmentSet_) return;
    alignment_ = o == NSUserInterfaceLayoutOrientation::Horizontal ? NSLayoutAttribute::CenterY
                                                                   : NSLayoutAttribute::CenterX;
}

bool NSStackView::placesSubviewItself(const NSView* view) const {
    return std::any_of(arranged_.begin(), arranged_.end(), [view](const auto& a) { return a.get() == view; });
}

std::vector<std::shared_ptr<NSView>> NSStackView::visibleArranged() const {
    std::vector<std::shared_ptr<NSView>> out;
    for (const auto& v : arranged_)
        if (!v->isHidden() && v->superview() == this) out.push_back(v);
    return out;
}

CGSize NSStackView::preferredSize(const NSView& view) {
    CGSize size = view.fittingSize();
    for (const auto& c : view.constraintsAffecting()) {
        if (c->firstItem() != &view || c->secondItem() || c->relation() != NSLayoutRelation::Equal) continue;
        if (c->firstAttribute() == NSLayoutAttribute::Width) size.width = c->constant();
        if (c->firstAttribute() == NSLayoutAttribute::Height) size.height = c->constant();
    }
    return size;
}

CGSize NSStackView::intrinsicContentSize() const {
    bool horizontal = orientation_ == NSUserInterfaceLayoutOrientation::Horizontal;
    auto views = visibleArranged();
    CGFloat along = 0, across = 0;
    for (const auto& v : views) {
        CGSize s = preferredSize(*v);
        along += horizontal ? s.width : s.height;
        across = std::max(across, horizontal ? s.height : s.width);
    }
    if (views.size() > 1) along += spacing_ * CGFloat(views.size() - 1);
    CGFloat insetAlong = horizontal ? insets_.left + insets_.right : insets_.top + insets_.bottom;
    CGFloat insetAcross = horizontal ? insets_.top + insets_.bottom : insets_.left + insets_.right;
    return horizontal ? CGSize{along + insetAlong, across + insetAcross}
                      : CGSize{across + insetAcross, along + insetAlong};
}

void NSStackView::layout() {
    bool horizontal = orientation_ == NSUserInterfaceLayoutOrientation::Horizontal;
    auto views = visibleArranged();
    CGRect b = bounds();
    CGFloat start = horizontal ? insets_.left : insets_.top;
    CGFloat available =
        horizontal ? b.width() - insets_.left - insets_.right : b.height() - insets_.top - insets_.bottom;
    CGFloat crossStart = horizontal ? insets_.top : insets_.left;
    CGFloat crossAvailable =
        horizontal ? b.height() - insets_.top - insets_.bottom : b.width() - insets_.left - insets_.right;

    std::vector<CGSize> sizes;
    CGFloat total = 0;
    for (const auto& v : views) {
        sizes.push_back(preferredSize(*v));
        total += horizontal ? sizes.back().width : sizes.back().height;
    }
    size_t n = views.size();
    CGFloat gap = spacing_;
    if (n > 1 && distribution_ == NSStackViewDistribution::EqualSpacing && available > total)
        gap = (available - total) / CGFloat(n - 1);
    if (n > 0 && distribution_ == NSStackViewDistribution::FillEqually) {
        CGFloat each = (available - spacing_ * CGFloat(n - 1)) / CGFloat(n);
        for (auto& s : sizes) (horizontal ? s.width : s.height) = each;
    }

    // Equal centering: the first view at the leading edge, the last at the trailing one, and the
    // centres evenly apart.
    std::vector<CGFloat> starts(n, 0);
    CGFloat pos = start;
    for (size_t i = 0; i < n; ++i) {
        starts[i] = pos;
        pos += (horizontal ? sizes[i].width : sizes[i].height) + gap;
    }
    if (n > 1 && distribution_ == NSStackViewDistribution::EqualCentering && available > total) {
        auto along = [&](size_t i) { return horizontal ? sizes[i].width : sizes[i].height; };
        CGFloat firstCentre = start + along(0) / 2, lastCentre = start + available - along(n - 1) / 2;
        for (size_t i = 0; i < n; ++i)
            starts[i] = firstCentre + (lastCentre - firstCentre) * CGFloat(i) / CGFloat(n - 1) - along(i) / 2;
    }

    for (size_t i = 0; i < n; ++i) {
        CGSize s = sizes[i];
        CGFloat alongSize = horizontal ? s.width : s.height;
        CGFloat acrossSize = horizontal ? s.height : s.width;
        CGFloat cross = crossStart;
        switch (alignment_) {
            case NSLayoutAttribute::CenterX:
            case NSLayoutAttribute::CenterY:
                cross = crossStart + (crossAvailable - acrossSize) / 2;
                break;
            case NSLayoutAttribute::Bottom:
            case NSLayoutAttribute::Trailing:
            case NSLayoutAttribute::Right:
                cross = crossStart + crossAvailable - acrossSize;
                break;
            case NSLayoutAttribute::Width:
            case NSLayoutAttribute::Height:
                acrossSize = crossAvailable;
                break;
            default:
                break;
        }
        CGRect f = horizontal ? CGRect{starts[i], cross, alongSize, acrossSize}
                              : CGRect{cross, starts[i], acrossSize, alongSize};
        views[i]->setFrame(f);
    }
    NSView::layout();
}
