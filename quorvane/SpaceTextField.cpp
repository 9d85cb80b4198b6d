#include "quorvane/SpaceTextField.h"

#include "quorvane/Extensions.h"

SpaceTextField::SpaceTextField(CGRect frame) : NSView(frame), textField_(std::make_shared<NSTextField>()) {
    textField_->setBezeled(false);
    textField_->setFocusRingType(NSFocusRingType::None);
    textField_->setTextColor(hexColor("#22262D", 1.0));
    textField_->setFont(NSFont::systemFontOfSize(15, NSFontWeightSemibold));
    textField_->setAlignment(NSTextAlignment::Center);

    setWantsLayer(true);
    layer()->setBackgroundColor(NSColor::whiteColor());
    layer()->setBorderWidth(1);
    layer()->setBorderColor(hexColor("#E2E8F0", 1.0));
    layer()->setCornerRadius(8);

    // Laid out once: redrawing must not add the field and its constraints again.
    addSubview(textField_);
    textField_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        textField_->widthAnchor().constraintEqualToConstant(150),
        textField_->heightAnchor().constraintEqualToConstant(20),
        textField_->centerXAnchor().constraintEqualToAnchor(centerXAnchor()),
        textField_->centerYAnchor().constraintEqualToAnchor(centerYAnchor(), 0),
    });
}
