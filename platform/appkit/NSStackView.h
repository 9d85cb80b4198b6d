#pragma once
// A view that lines up its arranged subviews in a row or a column. Each arranged view keeps the
// size its own width/height constraints, intrinsic size or fitting size give it; the stack places
// them from the leading (or top) edge with `spacing` between them, or spreads the gaps evenly
// (equal spacing), and aligns them across by `alignment`.
#include <memory>
#include <vector>

#include "platform/appkit/NSView.h"

enum class NSUserInterfaceLayoutOrientation { Horizontal = 0, Vertical = 1 };

enum class NSStackViewDistribution {
    GravityAreas = -1,
    Fill = 0,
    FillEqually = 1,
    FillProportionally = 2,
    EqualSpacing = 3,
    EqualCentering = 4,
};

class NSStackView : public NSView {
  public:
    explicit NSStackView(CGRect frame = {}) : NSView(frame) {}
    static std::shared_ptr<NSStackView> stackViewWithViews(const std::vector<std::shared_ptr<NSView>>& views);

    const std::vector<std::shared_ptr<NSView>>& arrangedSubviews() const { return arranged_; }
    void addArrangedSubview(const std::shared_ptr<NSView>& view);
    void removeArrangedSubview(const std::shared_ptr<NSView>& view);

    NSUserInterfaceLayoutOrientation orientation() const { return orientation_; }
    void setOrientation(NSUserInterfaceLayoutOrientation o);
    CGFloat spacing() const { return spacing_; }
    void setSpacing(CGFloat spacing) { spacing_ = spacing; }
    NSLayoutAttribute alignment() const { return alignment_; }
    // Unless set, the alignment centres across the orientation.
    void setAlignment(NSLayoutAttribute alignment) {
        alignment_ = alignment;
        alignmentSet_ = true;
    }
    NSStackViewDistribution distribution() const { return distribution_; }
    void setDistribution(NSStackViewDistribution d) { distribution_ = d; }
    const NSEdgeInsets& edgeInsets() const { return insets_; }
    void setEdgeInsets(const NSEdgeInsets& insets) { insets_ = insets; }

    bool isFlipped() const override { return true; }
    CGSize intrinsicContentSize() const override;
    void layout() override;

    // The size an arranged view asks for.
    static CGSize preferredSize(const NSView& view);

  protected:
    bool placesSubviewItself(const NSView* view) const override;

  private:
    std::vector<std::shared_ptr<NSView>> visibleArranged() const;

    std::vector<std::shared_ptr<NSView>> arranged_;
    NSUserInterfaceLayoutOrientation orientation_ = NSUserInterfaceLayoutOrientation::Horizontal;
    CGFloat spacing_ = 8;
    NSLayoutAttribute alignment_ = NSLayoutAttribute::CenterY;
    bool alignmentSet_ = false;
    NSStackViewDistribution distribution_ = NSStackViewDistribution::GravityAreas;
    NSEdgeInsets insets_;
};
