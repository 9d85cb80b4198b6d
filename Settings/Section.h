#pragma once
// One row of a settings container: a label, right-aligned in the container's label column, then
// the row's controls stacked from the top.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSStackView.h"
#include "platform/appkit/NSTextField.h"

namespace Settings {

// A section's label in its column. The label asks for its own width; the container answers with
// the column width, and the label keeps to the column's trailing edge.
class SectionLabel : public NSView {
  public:
    explicit SectionLabel(std::shared_ptr<NSView> label);

    const std::shared_ptr<NSView>& label() const { return label_; }
    // What this label needs of the column.
    CGFloat labelWidth() const { return NSStackView::preferredSize(*label_).width; }
    CGFloat columnWidth() const { return columnWidth_->constant(); }
    void setColumnWidth(CGFloat width) { columnWidth_->setConstant(width); }

  private:
    std::shared_ptr<NSView> label_;
    ConstraintPtr columnWidth_;
};

struct Section {
    using LabelBuilder = std::function<std::shared_ptr<NSView>()>;
    using ContentBuilder = std::function<std::vector<std::shared_ptr<NSView>>()>;

    // Both builders run here, once. Top alignment lines a one-line label up with the first line of
    // its controls.
    Section(const LabelBuilder& label, const ContentBuilder& content, bool bottomDivider = false,
            NSLayoutAttribute verticalAlignment = NSLayoutAttribute::Top);
    // The label is the title in the regular system font of 13 points.
    Section(const std::string& title, const ContentBuilder& content, bool bottomDivider = false,
            NSLayoutAttribute verticalAlignment = NSLayoutAttribute::Top);

    std::shared_ptr<SectionLabel> label;
    // The built controls, one below the other, leading edges aligned.
    std::shared_ptr<NSStackView> content;
    bool bottomDivider;
    NSLayoutAttribute verticalAlignment;

    // The row: label, then content, aligned across by verticalAlignment. A section's views are
    // built once, so its row shows in one place at a time.
    std::shared_ptr<NSStackView> body() const;
};

// The look of a pane's explanatory text: system font of 11 points in the secondary label colour.
void settingsDescriptionStyle(NSTextField& text);

}  // namespace Settings
