#include "quorvane/MessageView.h"

#include "quorvane/Extensions.h"

MessageView::MessageView(CGRect frame) : NSView(frame) {
    setWantsLayer(true);
    layer()->setBackgroundColor(hexColor("#272727", 1.0));
    layer()->setBorderColor(hexColor("#484848", 1.0));
    layer()->setBorderWidth(1);
    layer()->setCornerRadius(8);

    // Laid out once: the label centred, both as wide as the box, the box 40 higher than the label.
    auto& label = text();
    addSubview(label);
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    textHeight_ = label->heightAnchor().constraintEqualToConstant(label->intrinsicContentSize().height);
    height_ = heightAnchor().constraintEqualToConstant(label->intrinsicContentSize().height + 40);
    NSLayoutConstraint::activateConstraints({
        label->centerXAnchor().constraintEqualToAnchor(centerXAnchor(), 0),
        label->centerYAnchor().constraintEqualToAnchor(centerYAnchor(), 0),
        label->widthAnchor().constraintEqualToConstant(kWidth),
        textHeight_,
        widthAnchor().constraintEqualToConstant(kWidth),
        height_,
    });
}

const std::shared_ptr<NSTextField>& MessageView::text() {
    if (!text_) {
        text_ = std::make_shared<NSTextField>();
        text_->setTextColor(NSColor::whiteColor());
        text_->setBordered(false);
        text_->setBezeled(false);
        text_->setFont(NSFont::systemFontOfSize(16, NSFontWeightMedium));
        text_->setAlignment(NSTextAlignment::Center);
        text_->setSelectable(false);
        text_->setEditable(false);
        text_->setBackgroundColor(hexColor("#272727", 1.0));
    }
    return text_;
}

void MessageView::setTitle(std::optional<std::string> title) {
    title_ = std::move(title);
    auto& label = text();
    label->setStringValue(title_.value_or(""));
    CGFloat height = label->intrinsicContentSize().height;
    textHeight_->setConstant(height);
    height_->setConstant(height + 40);
}

CGSize MessageView::intrinsicContentSize() const {
    return {kWidth, height_->constant()};
}
