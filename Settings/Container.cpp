#include "Settings/Container.h"

namespace Settings {

namespace {

// A hairline across the middle of its height.
class SectionDivider : public NSView {
  public:
    void drawRect(const CGRect&) override {
        CGRect b = bounds();
        NSColor::separatorColor().setFill();
        NSRectFill({0, (b.height() - 1) / 2, b.width(), 1});
    }
};

}  // namespace

Container::Container(double contentWidth, double minimumLabelWidth, SectionBuilder sectionBuilder)
    : sectionBuilder_(std::move(sectionBuilder)),
      contentWidth_(contentWidth),
      minimumLabelWidth_(minimumLabelWidth) {}

std::shared_ptr<ContainerView> Container::body() const {
    auto view = std::make_shared<ContainerView>(contentWidth_, minimumLabelWidth_);
    auto sections = sectionBuilder_ ? sectionBuilder_() : std::vector<Section>{};
    for (size_t i = 0; i < sections.size(); ++i) {
        view->addSection(sections[i]);
        if (sections[i].bottomDivider && i + 1 < sections.size()) view->addDivider();
    }
    return view;
}

ContainerView::ContainerView(double contentWidth, double minimumLabelWidth)
    : contentWidth_(contentWidth), minimumLabelWidth_(minimumLabelWidth) {
    setAlignment(NSLayoutAttribute::Leading);
    setOrientation(NSUserInterfaceLayoutOrientation::Vertical);
    setEdgeInsets({kVerticalPadding, kHorizontalPadding, kVerticalPadding, kHorizontalPadding});
    NSLayoutConstraint::activateConstraints(
        {widthAnchor().constraintEqualToConstant(contentWidth + 2 * kHorizontalPadding)});
}

void ContainerView::addSection(const Section& section) {
    auto row = section.body();
    // The row reaches across the content width, as far as the dividers do.
    NSLayoutConstraint::activateConstraints({row->widthAnchor().constraintEqualToConstant(contentWidth_)});
    addArrangedSubview(row);
    labels_.push_back(section.label);
}

void ContainerView::addDivider() {
    auto divider = std::make_shared<SectionDivider>();
    addArrangedSubview(divider);
    NSLayoutConstraint::activateConstraints(
        {divider->widthAnchor().constraintEqualToConstant(contentWidth_),
         divider->heightAnchor().constraintEqualToConstant(kDividerHeight)});
    dividers_.push_back(divider);
}

void ContainerView::layout() {
    double widest = LabelWidthPreferenceKey::defaultValue;
    for (const auto& label : labels_) LabelWidthPreferenceKey::reduce(widest, label->labelWidth());
    maximumLabelWidth_ = widest;
    for (const auto& label : labels_) label->setColumnWidth(labelColumnWidth());
    NSStackView::layout();
}

}  // namespace Settings
