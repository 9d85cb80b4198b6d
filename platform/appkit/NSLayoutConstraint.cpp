#include "platform/appkit/NSLayoutConstraint.h"

#include <algorithm>
#include <regex>

#include "platform/appkit/NSView.h"

NSLayoutConstraint::NSLayoutConstraint(NSView* first, NSLayoutAttribute firstAttribute,
                                       NSLayoutRelation relation, NSView* second,
                                       NSLayoutAttribute secondAttribute, CGFloat multiplier,
                                       CGFloat constant)
    : firstAttribute_(firstAttribute),
      secondAttribute_(second ? secondAttribute : NSLayoutAttribute::NotAnAttribute),
      relation_(relation),
      multiplier_(multiplier),
      constant_(constant) {
    first_ = {first, first ? std::weak_ptr<const bool>(first->aliveToken()) : std::weak_ptr<const bool>()};
    second_ = {second,
               second ? std::weak_ptr<const bool>(second->aliveToken()) : std::weak_ptr<const bool>()};
}

ConstraintPtr NSLayoutConstraint::constraintWithItem(NSView* first, NSLayoutAttribute firstAttribute,
                                                     NSLayoutRelation relation, NSView* second,
                                                     NSLayoutAttribute secondAttribute, CGFloat multiplier,
                                                     CGFloat constant) {
    return std::make_shared<NSLayoutConstraint>(first, firstAttribute, relation, second, secondAttribute,
                                                multiplier, constant);
}

NSView* NSLayoutConstraint::firstItem() const {
    return first_.get();
}
NSView* NSLayoutConstraint::secondItem() const {
    return second_.get();
}

bool NSLayoutConstraint::involves(const NSView* view) const {
    return view && (firstItem() == view || secondItem() == view);
}

namespace {

// The view that holds a constraint between `a` and `b`: their nearest common ancestor, or `a`
// alone when they share none yet.
NSView* holderFor(NSView* a, NSView* b) {
    if (!b) return a;
    for (NSView* v = a; v; v = v->superview())
        if (b == v || b->isDescendantOf(v)) return v;
    return a;
}

// The holder of an active constraint, found among its items and their ancestors.
NSView* currentHolder(const NSLayoutConstraint& c) {
    for (NSView* start : {c.firstItem(), c.secondItem()})
        for (NSView* v = start; v; v = v->superview())
            for (const auto& held : v->constraints())
                if (held.get() == &c) return v;
    return nullptr;
}

}  // namespace

bool NSLayoutConstraint::isActive() const {
    return currentHolder(*this) != nullptr;
}

void NSLayoutConstraint::setActive(bool active) {
    NSView* holder = currentHolder(*this);
    if (active && !holder) {
        if (NSView* first = firstItem()) holderFor(first, secondItem())->addConstraint(shared_from_this());
    } else if (!active && holder) {
        holder->removeConstraint(shared_from_this());
    }
}

void NSLayoutConstraint::activateConstraints(const std::vector<ConstraintPtr>& constraints) {
    for (const auto& c : constraints) c->setActive(true);
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<ConstraintPtr>& constraints) {
    for (const auto& c : constraints) c->setActive(false);
}

std::vector<ConstraintPtr> NSLayoutConstraint::constraintsWithVisualFormat(const std::string& format,
                                                                           const std::string& name,
                                                                           NSView* view) {
    static const std::regex pattern(
        R"(^([HV]):(\|-?(\d+(?:\.\d+)?)?-?)?\[(\w+)\](-?(\d+(?:\.\d+)?)?-?\|)?$)");
    std::smatch m;
    std::vector<ConstraintPtr> out;
    if (!view || !std::regex_match(format, m, pattern) || m[4] != name) return out;
    NSView* superview = view->superview();
    if (!superview) return out;
    bool horizontal = m[1] == "H";
    auto leading = horizontal ? NSLayoutAttribute::Leading : NSLayoutAttribute::Top;
    auto trailing = horizontal ? NSLayoutAttribute::Trailing : NSLayoutAttribute::Bottom;
    // "|-" and "-|" without a number stand for the standard spacing of 20 points (8 between views).
    auto spacing = [](const std::ssub_match& number) {
        return number.matched ? std::stod(number.str()) : 20.0;
    };
    if (m[2].matched) {
        out.push_back(constraintWithItem(view, leading, NSLayoutRelation::Equal, superview, leading, 1,
                                         m[2].str() == "|" ? 0 : spacing(m[3])));
    }
    if (m[5].matched) {
        out.push_back(constraintWithItem(superview, trailing, NSLayoutRelation::Equal, view, trailing, 1,
                                         m[5].str() == "|" ? 0 : spacing(m[6])));
    }
    return out;
}

ConstraintPtr NSLayoutAnchor::make(NSLayoutRelation relation, const NSLayoutAnchor* other, CGFloat multiplier,
                                   CGFloat constant) const {
    return NSLayoutConstraint::constraintWithItem(
        view_, attribute_, relation, other ? other->view_ : nullptr,
        other ? other->attribute_ : NSLayoutAttribute::NotAnAttribute, multiplier, constant);
}

ConstraintPtr NSLayoutAnchor::constraintEqualToAnchor(const NSLayoutAnchor& other, CGFloat constant) const {
    return make(NSLayoutRelation::Equal, &other, 1, constant);
}
ConstraintPtr NSLayoutAnchor::constraintGreaterThanOrEqualToAnchor(const NSLayoutAnchor& other,
                                                                   CGFloat constant) const {
    return make(NSLayoutRelation::GreaterThanOrEqual, &other, 1, constant);
}
ConstraintPtr NSLayoutAnchor::constraintLessThanOrEqualToAnchor(const NSLayoutAnchor& other,
                                                                CGFloat constant) const {
    return make(NSLayoutRelation::LessThanOrEqual, &other, 1, constant);
}
ConstraintPtr NSLayoutAnchor::constraintEqualToAnchorMultiplier(const NSLayoutAnchor& other,
                                                                CGFloat multiplier, CGFloat constant) const {
    return make(NSLayoutRelation::Equal, &other, multiplier, constant);
}
ConstraintPtr NSLayoutAnchor::constraintEqualToConstant(CGFloat constant) const {
    return make(NSLayoutRelation::Equal, nullptr, 1, constant);
}
ConstraintPtr NSLayoutAnchor::constraintGreaterThanOrEqualToConstant(CGFloat constant) const {
    return make(NSLayoutRelation::GreaterThanOrEqual, nullptr, 1, constant);
}
ConstraintPtr NSLayoutAnchor::constraintLessThanOrEqualToConstant(CGFloat constant) const {
    return make(NSLayoutRelation::LessThanOrEqual, nullptr, 1, constant);
}
