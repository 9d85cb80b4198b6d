#include "Settings/Section.h"

namespace Settings {

namespace {

std::shared_ptr<NSView> titleLabel(const std::string& title) {
    auto label = NSTextField::labelWithString(title);
    label->setFont(NSFont::systemFontOfSize(13, NSFontWeightRegular));
    return label;
}

std::shared_ptr<NSStackView> contentStack(const Section::ContentBuilder& content) {
    auto stack = std::make_shared<NSStackView>();
    stack->setAlignment(NSLayoutAttribute::Leading);
    stack->setOrientation(NSUserInterfaceLayoutOrientation::Vertical);
    if (content)
        for (const auto& view : content()) stack->addArrangedSubview(view);
    return stack;
}

}  // namespace

SectionLabel::SectionLabel(std::shared_ptr<NSView> label)
    : label_(label ? std::move(label) : std::make_shared<NSView>()) {
    addSubview(label_);
    label_->setTranslatesAutoresizingMaskIntoConstraints(false);
    columnWidth_ = widthAnchor().constraintEqualToConstant(labelWidth());
    NSLayoutConstraint::activateConstraints(
        {columnWidth_, label_->trailingAnchor().constraintEqualToAnchor(trailingAnchor()),
         label_->topAnchor().constraintEqualToAnchor(topAnchor()),
         label_->bottomAnchor().constraintEqualToAnchor(bottomAnchor())});
}

Section::Section(const LabelBuilder& label, const ContentBuilder& content, bool bottomDivider,
                 NSLayoutAttribute verticalAlignment)
    : label(std::make_shared<SectionLabel>(label ? label() : nullptr)),
      content(contentStack(content)),
      bottomDivider(bottomDivider),
      verticalAlignment(verticalAlignment) {}

Section::Section(const std::string& title, const ContentBuilder& content, bool bottomDivider,
                 NSLayoutAttribute verticalAlignment)
    : Section([&title] { return titleLabel(title); }, content, bottomDivider, verticalAlignment) {}

std::shared_ptr<NSStackView> Section::body() const {
    auto row = NSStackView::stackViewWithViews({label, content});
    row->setAlignment(verticalAlignment);
    return row;
}

void settingsDescriptionStyle(NSTextField& text) {
    text.setFont(NSFont::systemFontOfSize(11, NSFontWeightRegular));
    text.setTextColor(NSColor::secondaryLabelColor());
}

}  // namespace Settings
