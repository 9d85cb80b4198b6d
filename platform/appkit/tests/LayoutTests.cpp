#include <gtest/gtest.h>

#include "platform/appkit/NSLayoutGuide.h"
#include "platform/appkit/NSStackView.h"
#include "platform/appkit/NSTextField.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/testing/GeometryPrinting.h"

namespace {

class FlippedView : public NSView {
  public:
    using NSView::NSView;
    bool isFlipped() const override { return true; }
};

class SizedView : public NSView {
  public:
    explicit SizedView(CGSize size) : size_(size) {}
    CGSize intrinsicContentSize() const override { return size_; }

  private:
    CGSize size_;
};

std::shared_ptr<NSView> constrainedChild(const std::shared_ptr<NSView>& parent) {
    auto child = std::make_shared<NSView>();
    parent->addSubview(child);
    child->setTranslatesAutoresizingMaskIntoConstraints(false);
    return child;
}

}  // namespace

TEST(Layout, PinnedEdgesWithPaddingFollowTheSuperview) {
    auto parent = std::make_shared<NSView>(CGRect{0, 0, 400, 300});
    auto child = constrainedChild(parent);
    NSLayoutConstraint::activateConstraints({
        child->topAnchor().constraintEqualToAnchor(parent->topAnchor(), 10),
        child->leftAnchor().constraintEqualToAnchor(parent->leftAnchor(), 20),
        child->bottomAnchor().constraintEqualToAnchor(parent->bottomAnchor(), -30),
        child->rightAnchor().constraintEqualToAnchor(parent->rightAnchor(), -40),
    });
    parent->layoutSubtreeIfNeeded();
    // Constants count downwards: the top edge 10 below the superview's, the bottom edge 30 above.
    EXPECT_EQ(child->frame(), (CGRect{20, 30, 340, 260}));

    parent->setFrameSize({500, 300});
    parent->layoutSubtreeIfNeeded();
    EXPECT_EQ(child->frame(), (CGRect{20, 30, 440, 260}));
}

TEST(Layout, TopAndBottomFollowTheSuperviewsDirection) {
    auto parent = std::make_shared<FlippedView>(CGRect{0, 0, 200, 100});
    auto child = constrainedChild(parent);
    NSLayoutConstraint::activateConstraints({
        child->topAnchor().constraintEqualToAnchor(parent->topAnchor(), 10),
        child->leftAnchor().constraintEqualToAnchor(parent->leftAnchor()),
        child->widthAnchor().constraintEqualToConstant(50),
        child->heightAnchor().constraintEqualToConstant(20),
    });
    parent->layoutSubtreeIfNeeded();
    EXPECT_EQ(child->frame(), (CGRect{0, 10, 50, 20}));
}

TEST(Layout, CentredViewTakesItsIntrinsicSizeAndSiblingsChain) {
    auto parent = std::make_shared<NSView>(CGRect{0, 0, 300, 200});
    auto centred = std::make_shared<SizedView>(CGSize{100, 40});
    parent->addSubview(centred);
    centred->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto below = constrainedChild(parent);
    NSLayoutConstraint::activateConstraints({
        centred->centerXAnchor().constraintEqualToAnchor(parent->centerXAnchor()),
        centred->centerYAnchor().constraintEqualToAnchor(parent->centerYAnchor()),
        below->topAnchor().constraintEqualToAnchor(centred->bottomAnchor(), 5),
        below->leadingAnchor().constraintEqualToAnchor(centred->leadingAnchor()),
        below->widthAnchor().constraintEqualToAnchor(centred->widthAnchor()),
        below->heightAnchor().constraintEqualToConstant(10),
    });
    parent->layoutSubtreeIfNeeded();
    EXPECT_EQ(centred->frame(), (CGRect{100, 80, 100, 40}));
    EXPECT_EQ(below->frame(), (CGRect{100, 65, 100, 10}));
}

TEST(Layout, RemovingAViewDropsTheConstraintsThatReachOutOfIt) {
    auto parent = std::make_shared<NSView>(CGRect{0, 0, 100, 100});
    auto child = constrainedChild(parent);
    auto inner = constrainedChild(child);
    auto toParent = child->leftAnchor().constraintEqualToAnchor(parent->leftAnchor());
    auto own = child->widthAnchor().constraintEqualToConstant(10);
    auto innerToParent = inner->leftAnchor().constraintEqualToAnchor(parent->leftAnchor());
    auto innerToChild = inner->leftAnchor().constraintEqualToAnchor(child->leftAnchor());
    NSLayoutConstraint::activateConstraints({toParent, own, innerToParent, innerToChild});
    EXPECT_TRUE(toParent->isActive());
    EXPECT_TRUE(innerToParent->isActive());

    child->removeFromSuperview();
    EXPECT_FALSE(toParent->isActive());
    EXPECT_FALSE(innerToParent->isActive());
    EXPECT_TRUE(own->isActive());
    EXPECT_TRUE(innerToChild->isActive());
    EXPECT_TRUE(parent->constraints().empty());
}

// A control-like view: its constraints name its alignment rectangle, and it counts the updates of
// its constraints that the layout pass asks for.
class InsetView : public FlippedView {
  public:
    using FlippedView::FlippedView;
    NSEdgeInsets alignmentRectInsets() const override { return {1, 2, 3, 4}; }
    void updateConstraints() override {
        ++updates;
        NSView::updateConstraints();
    }
    int updates = 0;
};

TEST(Layout, GuidesTakeRequiredEdgesThenOptionalSizeAndCentreWithinTheirBounds) {
    using Direction = NSUserInterfaceLayoutDirection;
    // The alignment rectangle runs from x 2 to 96 and y 1 to 17. The guide keeps 10 from the
    // leading edge and `gap` from the trailing one; it would like `width` (751) and the centre (749).
    struct Case {
        Direction direction;
        CGFloat width, gap;
        CGRect frame;
    } cases[] = {
        {Direction::LeftToRight, 20, 0, {39, 1, 20, 16}},   // fits: centred
        {Direction::LeftToRight, 20, 40, {36, 1, 20, 16}},  // pushed back from the trailing bound
        {Direction::LeftToRight, 200, 0, {12, 1, 84, 16}},  // too wide: the width gives way
        {Direction::RightToLeft, 20, 40, {42, 1, 20, 16}},  // the bounds mirrored
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame.minX());
        auto owner = std::make_shared<InsetView>(CGRect{0, 0, 100, 20});
        owner->setUserInterfaceLayoutDirection(c.direction);
        auto guide = std::make_shared<NSLayoutGuide>();
        owner->addLayoutGuide(guide);
        auto width = guide->widthAnchor().constraintEqualToConstant(c.width);
        width->setPriority(751);
        auto centre = guide->centerXAnchor().constraintEqualToAnchor(owner->centerXAnchor());
        centre->setPriority(749);
        NSLayoutConstraint::activateConstraints({
            centre,
            width,
            guide->topAnchor().constraintEqualToAnchor(owner->topAnchor()),
            guide->bottomAnchor().constraintEqualToAnchor(owner->bottomAnchor()),
            guide->leadingAnchor().constraintGreaterThanOrEqualToAnchor(owner->leadingAnchor(), 10),
            owner->trailingAnchor().constraintGreaterThanOrEqualToAnchor(guide->trailingAnchor(), c.gap),
        });
        owner->setNeedsUpdateConstraints(true);
        owner->layoutSubtreeIfNeeded();
        EXPECT_EQ(guide->frame(), c.frame);
        owner->layoutSubtreeIfNeeded();
        EXPECT_EQ(owner->updates, 1);  // only when asked
    }
}

TEST(Layout, VisualFormatPinsToTheSuperviewAndFittingSizeFollowsTheContent) {
    auto parent = std::make_shared<NSView>(CGRect{0, 0, 10, 10});
    auto content = std::make_shared<SizedView>(CGSize{120, 80});
    parent->addSubview(content);
    std::vector<ConstraintPtr> all;
    for (const char* format : {"H:|-0-[subview]-0-|", "V:|-0-[subview]-0-|"}) {
        auto made = NSLayoutConstraint::constraintsWithVisualFormat(format, "subview", content.get());
        ASSERT_EQ(made.size(), 2u) << format;
        all.insert(all.end(), made.begin(), made.end());
    }
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    parent->addConstraints(all);
    EXPECT_EQ(parent->fittingSize(), (CGSize{120, 80}));
    parent->setFrameSize({300, 200});
    parent->layoutSubtreeIfNeeded();
    EXPECT_EQ(content->frame(), (CGRect{0, 0, 300, 200}));
    EXPECT_TRUE(
        NSLayoutConstraint::constraintsWithVisualFormat("H:[other]", "subview", content.get()).empty());
}

TEST(StackView, EqualSpacingSpreadsTheGapsAndCentresAcross) {
    auto stack = NSStackView::stackViewWithViews({std::make_shared<SizedView>(CGSize{24, 24}),
                                                  std::make_shared<SizedView>(CGSize{3, 20}),
                                                  std::make_shared<SizedView>(CGSize{83, 28})});
    stack->setDistribution(NSStackViewDistribution::EqualSpacing);
    stack->setFrame({0, 0, 150, 32});
    stack->layoutSubtreeIfNeeded();
    const auto& views = stack->arrangedSubviews();
    EXPECT_EQ(views[0]->frame(), (CGRect{0, 4, 24, 24}));
    EXPECT_EQ(views[1]->frame(), (CGRect{44, 6, 3, 20}));
    EXPECT_EQ(views[2]->frame(), (CGRect{67, 2, 83, 28}));
}

TEST(StackView, EqualCenteringPutsTheEndsAtTheEdges) {
    auto a = std::make_shared<SizedView>(CGSize{76, 18});
    auto b = std::make_shared<SizedView>(CGSize{52, 26});
    auto stack = NSStackView::stackViewWithViews({a, b});
    stack->setDistribution(NSStackViewDistribution::EqualCentering);
    stack->setFrame({0, 0, 462, 28});
    stack->layoutSubtreeIfNeeded();
    EXPECT_EQ(a->frame(), (CGRect{0, 5, 76, 18}));
    EXPECT_EQ(b->frame(), (CGRect{410, 1, 52, 26}));
}

TEST(StackView, VerticalStackStacksFromTheTopWithItsSpacingAndSizesItself) {
    auto top = std::make_shared<SizedView>(CGSize{175, 36});
    auto bottom = std::make_shared<NSView>();
    auto stack = NSStackView::stackViewWithViews({top, bottom});
    stack->setOrientation(NSUserInterfaceLayoutOrientation::Vertical);
    stack->setSpacing(9);
    NSLayoutConstraint::activateConstraints({bottom->widthAnchor().constraintEqualToConstant(175),
                                             bottom->heightAnchor().constraintEqualToConstant(36)});
    EXPECT_EQ(stack->intrinsicContentSize(), (CGSize{175, 81}));

    auto host = std::make_shared<NSView>(CGRect{0, 0, 400, 300});
    host->addSubview(stack);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints(
        {stack->centerXAnchor().constraintEqualToAnchor(host->centerXAnchor()),
         stack->centerYAnchor().constraintEqualToAnchor(host->centerYAnchor())});
    host->layoutSubtreeIfNeeded();
    EXPECT_EQ(stack->frame(), (CGRect{112.5, 109.5, 175, 81}));
    EXPECT_EQ(top->frame(), (CGRect{0, 0, 175, 36}));
    EXPECT_EQ(bottom->frame(), (CGRect{0, 45, 175, 36}));
}

TEST(Coordinates, WindowPointsReachNestedAndFlippedViews) {
    auto root = std::make_shared<NSView>(CGRect{0, 0, 400, 300});
    auto flipped = std::make_shared<FlippedView>(CGRect{100, 50, 200, 100});
    auto leaf = std::make_shared<NSView>(CGRect{10, 10, 50, 20});
    root->addSubview(flipped);
    flipped->addSubview(leaf);
    // 10 below the flipped view's top edge (y = 150 in the root) and 20 high: y 120...140 in the root.
    EXPECT_EQ(leaf->convertPointFromView({110, 120}, nullptr), (CGPoint{0, 0}));
    EXPECT_EQ(leaf->convertPointToView({50, 20}, nullptr), (CGPoint{160, 140}));
    EXPECT_EQ(flipped->convertPointFromView({0, 0}, leaf.get()), (CGPoint{10, 30}));
    EXPECT_EQ(root->hitTest({115, 125}), leaf.get());
    leaf->setHidden(true);
    EXPECT_EQ(root->hitTest({115, 125}), flipped.get());
}
