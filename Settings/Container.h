#pragma once
// Lays sections out as a form: every label right-aligned in one column, the controls beside it,
// optional dividers between sections, all in a fixed content width with a margin of 20 points
// above and below and 30 at the sides.
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "Settings/Section.h"

namespace Settings {

// How the labels agree on one column width: each offers its own, the widest wins.
struct LabelWidthPreferenceKey {
    static constexpr double defaultValue = 0;
    static void reduce(double& value, double nextValue) { value = std::max(value, nextValue); }
};

class ContainerView;

class Container {
  public:
    using SectionBuilder = std::function<std::vector<Section>()>;

    Container(double contentWidth, double minimumLabelWidth, SectionBuilder sectionBuilder);

    double contentWidth() const { return contentWidth_; }
    double minimumLabelWidth() const { return minimumLabelWidth_; }

    // Builds the sections and the view that shows them.
    std::shared_ptr<ContainerView> body() const;

  private:
    SectionBuilder sectionBuilder_;
    double contentWidth_;
    double minimumLabelWidth_;
};

// The view a container builds. At every layout pass it measures the labels again, so the column
// follows the widest label: it is max(minimumLabelWidth, widest label) wide.
class ContainerView : public NSStackView {
  public:
    static constexpr CGFloat kVerticalPadding = 20;
    static constexpr CGFloat kHorizontalPadding = 30;
    static constexpr CGFloat kDividerHeight = 20;

    ContainerView(double contentWidth, double minimumLabelWidth);

    // The widest label of the last layout pass; 0 before the first.
    double maximumLabelWidth() const { return maximumLabelWidth_; }
    CGFloat labelColumnWidth() const { return std::max(minimumLabelWidth_, maximumLabelWidth_); }
    const std::vector<std::shared_ptr<SectionLabel>>& labels() const { return labels_; }
    const std::vector<std::shared_ptr<NSView>>& dividers() const { return dividers_; }

    void layout() override;

  private:
    friend class Container;
    void addSection(const Section& section);
    void addDivider();

    double contentWidth_;
    double minimumLabelWidth_;
    double maximumLabelWidth_ = 0;
    std::vector<std::shared_ptr<SectionLabel>> labels_;
    std::vector<std::shared_ptr<NSView>> dividers_;
};

}  // namespace Settings
