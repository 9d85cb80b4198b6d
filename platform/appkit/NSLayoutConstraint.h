#pragma once
// Layout constraints recorded as data: first.attribute (relation) second.attribute × multiplier +
// constant. An active constraint is held by the nearest common ancestor of its items; the layout
// pass (NSView::layoutSubtreeIfNeeded) turns the constraints of a view into its frame.
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Geometry.h"

class NSView;

// How much a constraint matters: required ones always hold; of two optional ones that cannot both
// hold, the higher wins.
using NSLayoutPriority = float;
inline constexpr NSLayoutPriority NSLayoutPriorityRequired = 1000;
inline constexpr NSLayoutPriority NSLayoutPriorityDefaultHigh = 750;
inline constexpr NSLayoutPriority NSLayoutPriorityDefaultLow = 250;

enum class NSLayoutConstraintOrientation { Horizontal = 0, Vertical = 1 };

enum class NSLayoutAttribute {
    NotAnAttribute = 0,
    Left = 1,
    Right = 2,
    Top = 3,
    Bottom = 4,
    Leading = 5,
    Trailing = 6,
    Width = 7,
    Height = 8,
    CenterX = 9,
    CenterY = 10,
};

enum class NSLayoutRelation { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };

class NSLayoutConstraint : public std::enable_shared_from_this<NSLayoutConstraint> {
  public:
    static std::shared_ptr<NSLayoutConstraint> constraintWithItem(NSView* first,
                                                                  NSLayoutAttribute firstAttribute,
                                                                  NSLayoutRelation relation, NSView* second,
                                                                  NSLayoutAttribute secondAttribute,
                                                                  CGFloat multiplier, CGFloat constant);
    // The constraints of a visual format of the forms "H:|-a-[name]-b-|" and "V:|-a-[name]-b-|"
    // (either edge may be left out), for the one view `view` named `name`.
    static std::vector<std::shared_ptr<NSLayoutConstraint>> constraintsWithVisualFormat(
        const std::string& format, const std::string& name, NSView* view);
    static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
    static void deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

    // Null once the view is gone.
    NSView* firstItem() const;
    NSView* secondItem() const;
    NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
    NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
    NSLayoutRelation relation() const { return relation_; }
    CGFloat multiplier() const { return multiplier_; }
    CGFloat constant() const { return constant_; }
    void setConstant(CGFloat constant) { constant_ = constant; }
    NSLayoutPriority priority() const { return priority_; }
    void setPriority(NSLayoutPriority priority) { priority_ = priority; }
    // A name for reading layouts back; it does not take part in solving.
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

    bool isActive() const;
    void setActive(bool active);

    // Whether the constraint refers to `view` as either item.
    bool involves(const NSView* view) const;

    NSLayoutConstraint(NSView* first, NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
                       NSView* second, NSLayoutAttribute secondAttribute, CGFloat multiplier,
                       CGFloat constant);

  private:
    struct Item {
        NSView* view = nullptr;
        std::weak_ptr<const bool> alive;
        NSView* get() const { return alive.expired() ? nullptr : view; }
    };
    Item first_, second_;
    NSLayoutAttribute firstAttribute_, secondAttribute_;
    NSLayoutRelation relation_;
    CGFloat multiplier_, constant_;
    NSLayoutPriority priority_ = NSLayoutPriorityRequired;
    std::string identifier_;
};

using ConstraintPtr = std::shared_ptr<NSLayoutConstraint>;

// One edge, centre or dimension of a view, from which constraints are made.
class NSLayoutAnchor {
  public:
    NSLayoutAnchor(NSView* view, NSLayoutAttribute attribute) : view_(view), attribute_(attribute) {}

    ConstraintPtr constraintEqualToAnchor(const NSLayoutAnchor& other, CGFloat constant = 0) const;
    ConstraintPtr constraintGreaterThanOrEqualToAnchor(const NSLayoutAnchor& other,
                                                       CGFloat constant = 0) const;
    ConstraintPtr constraintLessThanOrEqualToAnchor(const NSLayoutAnchor& other, CGFloat constant = 0) const;
    // Dimensions only.
    ConstraintPtr constraintEqualToAnchorMultiplier(const NSLayoutAnchor& other, CGFloat multiplier,
                                                    CGFloat constant = 0) const;
    ConstraintPtr constraintEqualToConstant(CGFloat constant) const;
    ConstraintPtr constraintGreaterThanOrEqualToConstant(CGFloat constant) const;
    ConstraintPtr constraintLessThanOrEqualToConstant(CGFloat constant) const;

    NSView* view() const { return view_; }
    NSLayoutAttribute attribute() const { return attribute_; }

  private:
    ConstraintPtr make(NSLayoutRelation relation, const NSLayoutAnchor* other, CGFloat multiplier,
                       CGFloat constant) const;
    NSView* view_;
    NSLayoutAttribute attribute_;
};
