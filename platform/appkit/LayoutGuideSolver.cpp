#include "platform/appkit/LayoutGuideSolver.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <vector>

#include "platform/appkit/NSLayoutGuide.h"
#include "platform/appkit/NSView.h"

namespace {

enum Slot { Min, Max, Center, Size, SlotCount };

// One item along one axis. Two known facts fix it; the bounds come from required inequalities.
struct Span {
    std::array<std::optional<CGFloat>, SlotCount> known;
    std::array<std::optional<CGFloat>, SlotCount> atLeast, atMost;

    bool fixed() const { return known[Min] && known[Max]; }

    void settle() {
        auto& [lo, hi, mid, size] = known;
        if (!fixed()) {
            if (size && lo)
                hi = *lo + *size;
            else if (size && hi)
                lo = *hi - *size;
            else if (size && mid)
                lo = *mid - *size / 2, hi = *mid + *size / 2;
            else if (mid && lo)
                hi = 2 * *mid - *lo;
            else if (mid && hi)
                lo = 2 * *mid - *hi;
        }
        if (fixed()) mid = (*lo + *hi) / 2, size = *hi - *lo;
    }

    // Moves a fixed span the least distance that puts its edges inside their bounds.
    void keepInside() {
        if (!fixed()) return;
        CGFloat shift = 0;
        for (Slot s : {Min, Max}) {
            if (atLeast[s]) shift = std::max(shift, *atLeast[s] - *known[s]);
        }
        for (Slot s : {Min, Max}) {
            if (atMost[s] && *known[s] + shift > *atMost[s]) shift = *atMost[s] - *known[s];
        }
        *known[Min] += shift;
        *known[Max] += shift;
        settle();
    }

    // An optional size is cut to the room the bounds leave.
    CGFloat fitSize(CGFloat size) const {
        if (atMost[Size]) size = std::min(size, *atMost[Size]);
        if (atLeast[Size]) size = std::max(size, *atLeast[Size]);
        CGFloat lo = known[Min] ? *known[Min] : atLeast[Min].value_or(-1e300);
        CGFloat hi = known[Max] ? *known[Max] : atMost[Max].value_or(1e300);
        return std::max(0.0, std::min(size, hi - lo));
    }
};

struct Term {
    size_t item;
    Slot slot;
};

// first (relation) multiplier × second + constant, along one axis, in absolute coordinates.
struct Relation {
    Term first;
    std::optional<Term> second;
    NSLayoutRelation relation;
    CGFloat multiplier, constant;
    NSLayoutPriority priority;
};

bool isVertical(NSLayoutAttribute a) {
    return a == NSLayoutAttribute::Top || a == NSLayoutAttribute::Bottom || a == NSLayoutAttribute::CenterY ||
           a == NSLayoutAttribute::Height;
}

bool isDirectional(NSLayoutAttribute a) {
    return a == NSLayoutAttribute::Leading || a == NSLayoutAttribute::Trailing;
}

Slot slotOf(NSLayoutAttribute a, bool rightToLeft) {
    switch (a) {
        case NSLayoutAttribute::Left:
        case NSLayoutAttribute::Top:
            return Min;
        case NSLayoutAttribute::Right:
        case NSLayoutAttribute::Bottom:
            return Max;
        case NSLayoutAttribute::Leading:
            return rightToLeft ? Max : Min;
        case NSLayoutAttribute::Trailing:
            return rightToLeft ? Min : Max;
        case NSLayoutAttribute::CenterX:
        case NSLayoutAttribute::CenterY:
            return Center;
        default:
            return Size;
    }
}

NSLayoutRelation reversed(NSLayoutRelation r) {
    if (r == NSLayoutRelation::Equal) return r;
    return r == NSLayoutRelation::LessThanOrEqual ? NSLayoutRelation::GreaterThanOrEqual
                                                  : NSLayoutRelation::LessThanOrEqual;
}

class AxisSolver {
  public:
    AxisSolver(std::vector<Span> spans, std::vector<Relation> relations)
        : spans_(std::move(spans)), relations_(std::move(relations)) {
        // Higher priorities first; equal priorities keep the order they were made in.
        std::stable_sort(relations_.begin(), relations_.end(),
                         [](const Relation& a, const Relation& b) { return a.priority > b.priority; });
    }

    const std::vector<Span>& solve() {
        for (;;) {
            while (propagateRequired()) {
            }
            boundFromInequalities();
            if (!applyOneOptional()) break;
        }
        return spans_;
    }

  private:
    std::optional<CGFloat> valueOf(const Term& t) const { return spans_[t.item].known[t.slot]; }

    // The target a relation decides, with the value and the relation as seen from the target:
    // whichever side is unknown while the other is known.
    struct Decided {
        Term target;
        CGFloat value;
        NSLayoutRelation relation;
    };
    std::optional<Decided> decide(const Relation& r) const {
        std::optional<CGFloat> second = r.second ? valueOf(*r.second) : std::optional<CGFloat>(0);
        std::optional<CGFloat> first = valueOf(r.first);
        if (!first && second) return Decided{r.first, r.multiplier * *second + r.constant, r.relation};
        if (first && r.second && !second && r.multiplier > 0)
            return Decided{*r.second, (*first - r.constant) / r.multiplier, reversed(r.relation)};
        return std::nullopt;
    }

    bool propagateRequired() {
        bool progress = false;
        for (const auto& r : relations_) {
            if (r.priority < NSLayoutPriorityRequired || r.relation != NSLayoutRelation::Equal) continue;
            if (auto d = decide(r)) {
                Span& span = spans_[d->target.item];
                span.known[d->target.slot] = d->value;
                span.settle();
                progress = true;
            }
        }
        return progress;
    }

    void boundFromInequalities() {
        for (auto& span : spans_) span.atLeast = {}, span.atMost = {};
        for (const auto& r : relations_) {
            if (r.priority < NSLayoutPriorityRequired || r.relation == NSLayoutRelation::Equal) continue;
            auto d = decide(r);
            if (!d) continue;
            Span& span = spans_[d->target.item];
            auto& bound = d->relation == NSLayoutRelation::GreaterThanOrEqual ? span.atLeast : span.atMost;
            auto& slot = bound[d->target.slot];
            bool tighter = !slot || (d->relation == NSLayoutRelation::GreaterThanOrEqual ? d->value > *slot
                                                                                         : d->value < *slot);
            if (tighter) slot = d->value;
        }
    }

    bool applyOneOptional() {
        for (const auto& r : relations_) {
            if (r.priority >= NSLayoutPriorityRequired || r.relation != NSLayoutRelation::Equal) continue;
            auto d = decide(r);
            if (!d) continue;
            Span& span = spans_[d->target.item];
            span.known[d->target.slot] = d->target.slot == Size ? span.fitSize(d->value) : d->value;
            span.settle();
            span.keepInside();
            return true;
        }
        return false;
    }

    std::vector<Span> spans_;
    std::vector<Relation> relations_;
};

}  // namespace

void solveLayoutGuideFrames(NSView& owner) {
    const auto& guides = owner.layoutGuides();
    if (guides.empty()) return;
    // Item 0 is the owner, placed by its alignment rectangle; the guides follow.
    std::map<const NSView*, size_t> index{{&owner, 0}};
    for (size_t i = 0; i < guides.size(); ++i) index[guides[i].get()] = i + 1;

    std::vector<ConstraintPtr> active = owner.constraints();
    for (const auto& g : guides)
        active.insert(active.end(), g->constraints().begin(), g->constraints().end());

    bool rightToLeft = owner.userInterfaceLayoutDirection() == NSUserInterfaceLayoutDirection::RightToLeft;
    std::vector<Relation> horizontal, vertical;
    for (const auto& c : active) {
        auto first = index.find(c->firstItem());
        if (first == index.end()) continue;
        std::optional<Term> second;
        if (c->secondItem()) {
            auto found = index.find(c->secondItem());
            if (found == index.end()) continue;
            second = Term{found->second, slotOf(c->secondAttribute(), rightToLeft)};
        }
        Relation r{{first->second, slotOf(c->firstAttribute(), rightToLeft)},
                   second,
                   c->relation(),
                   c->multiplier(),
                   c->constant(),
                   c->priority()};
        // Leading and trailing run right to left there: a constant moves an edge left and an
        // inequality turns around.
        if (rightToLeft && isDirectional(c->firstAttribute())) {
            r.constant = -r.constant;
            r.relation = reversed(r.relation);
        }
        (isVertical(c->firstAttribute()) ? vertical : horizontal).push_back(r);
    }

    // Vertical values count downwards from the owner's top edge, whichever way its y runs.
    CGRect bounds = owner.bounds();
    NSEdgeInsets insets = owner.alignmentRectInsets();
    std::vector<Span> xs(guides.size() + 1), ys(guides.size() + 1);
    xs[0].known[Min] = insets.left;
    xs[0].known[Max] = bounds.width() - insets.right;
    ys[0].known[Min] = insets.top;
    ys[0].known[Max] = bounds.height() - insets.bottom;
    xs[0].settle();
    ys[0].settle();

    auto x = AxisSolver(std::move(xs), std::move(horizontal)).solve();
    auto y = AxisSolver(std::move(ys), std::move(vertical)).solve();
    for (size_t i = 0; i < guides.size(); ++i) {
        CGRect f = guides[i]->frame();
        const Span& sx = x[i + 1];
        const Span& sy = y[i + 1];
        // An axis the constraints leave open keeps what it had.
        if (sx.fixed()) f.origin.x = *sx.known[Min], f.size.width = *sx.known[Size];
        if (sy.fixed()) {
            f.size.height = *sy.known[Size];
            f.origin.y = owner.isFlipped() ? *sy.known[Min] : bounds.height() - *sy.known[Max];
        }
        guides[i]->setFrame(f);
    }
}
