#include "shortcut_recorder/KRRecorderControlStyle.h"

#include <cmath>

#include "platform/foundation/ProcessInfo.h"

namespace {

// Which part of the control an image covers, and so which rectangle to redisplay when it changes.
enum class ImageArea { Bounds, CancelButton, ClearButton };

bool isSameImage(const ImagePtr& a, const ImagePtr& b) {
    if (!a || !b) return a == b;
    return a->name() == b->name() && a->size() == b->size();
}

ConstraintPtr makeConstraint(const NSLayoutAnchor& first, NSLayoutRelation relation,
                             const NSLayoutAnchor* second, const char* identifier,
                             NSLayoutPriority priority = NSLayoutPriorityRequired) {
    ConstraintPtr made;
    if (second) {
        made = relation == NSLayoutRelation::Equal ? first.constraintEqualToAnchor(*second)
                                                   : first.constraintGreaterThanOrEqualToAnchor(*second);
    } else {
        NSAssert(
            first.attribute() == NSLayoutAttribute::Width || first.attribute() == NSLayoutAttribute::Height,
            "Only dimensional anchors allow constant constraints.");
        made = relation == NSLayoutRelation::Equal ? first.constraintEqualToConstant(0)
                                                   : first.constraintGreaterThanOrEqualToConstant(0);
    }
    made->setIdentifier(identifier);
    made->setPriority(priority);
    return made;
}

ConstraintPtr equal(const NSLayoutAnchor& first, const NSLayoutAnchor& second, const char* identifier,
                    NSLayoutPriority priority = NSLayoutPriorityRequired) {
    return makeConstraint(first, NSLayoutRelation::Equal, &second, identifier, priority);
}
ConstraintPtr atLeast(const NSLayoutAnchor& first, const NSLayoutAnchor& second, const char* identifier) {
    return makeConstraint(first, NSLayoutRelation::GreaterThanOrEqual, &second, identifier);
}
ConstraintPtr constant(const NSLayoutAnchor& dimension, const char* identifier) {
    return makeConstraint(dimension, NSLayoutRelation::Equal, nullptr, identifier);
}

GuidePtr makeGuide() {
    return std::make_shared<NSLayoutGuide>();
}

uint64_t firstSpecified(uint64_t preferred, uint64_t current) {
    if (preferred) return preferred;
    return current ? current : 1;
}

CGFloat labelWidth(const std::optional<std::string>& label, const KRLabelAttributes& attributes) {
    return std::ceil(NSStringSize(label.value_or(""), attributes.text).width);
}

}  // namespace

struct KRRecorderControlStyle::ImageSlot {
    const char* name;
    ImagePtr KRRecorderControlStyle::*property;
    ImageArea area;
};

const std::vector<KRRecorderControlStyle::ImageSlot>& KRRecorderControlStyle::imageSlots() {
    using S = KRRecorderControlStyle;
    static const std::vector<ImageSlot> slots = {
        {"bezel-normal-left", &S::bezelNormalLeft_, ImageArea::Bounds},
        {"bezel-normal-center", &S::bezelNormalCenter_, ImageArea::Bounds},
        {"bezel-normal-right", &S::bezelNormalRight_, ImageArea::Bounds},
        {"bezel-pressed-left", &S::bezelPressedLeft_, ImageArea::Bounds},
        {"bezel-pressed-center", &S::bezelPressedCenter_, ImageArea::Bounds},
        {"bezel-pressed-right", &S::bezelPressedRight_, ImageArea::Bounds},
        {"bezel-recording-left", &S::bezelRecordingLeft_, ImageArea::Bounds},
        {"bezel-recording-center", &S::bezelRecordingCenter_, ImageArea::Bounds},
        {"bezel-recording-right", &S::bezelRecordingRight_, ImageArea::Bounds},
        {"bezel-disabled-left", &S::bezelDisabledLeft_, ImageArea::Bounds},
        {"bezel-disabled-center", &S::bezelDisabledCenter_, ImageArea::Bounds},
        {"bezel-disabled-right", &S::bezelDisabledRight_, ImageArea::Bounds},
        {"button-cancel-normal", &S::cancelButton_, ImageArea::CancelButton},
        {"button-cancel-pressed", &S::cancelButtonPressed_, ImageArea::CancelButton},
        {"button-clear-normal", &S::clearButton_, ImageArea::ClearButton},
        {"button-clear-pressed", &S::clearButtonPressed_, ImageArea::ClearButton},
    };
    return slots;
}

std::shared_ptr<KRRecorderControlStyle> KRRecorderControlStyle::initWithIdentifier(
    const std::optional<std::string>& identifier, KRComponentsPtr components) {
    std::string name =
        identifier
            ? *identifier
            : (ProcessInfo::isOperatingSystemAtLeastVersion({10, 14, 0}) ? "sr-mojave" : "sr-yosemite");
    return std::shared_ptr<KRRecorderControlStyle>(new KRRecorderControlStyle(
        std::move(name), components ? components->copy() : KRRecorderControlStyleComponents::init()));
}

KRRecorderControlStyle::KRRecorderControlStyle(std::string identifier, KRComponentsPtr preferred)
    : identifier_(std::move(identifier)),
      preferredComponents_(std::move(preferred)),
      effectiveComponents_(KRRecorderControlStyleComponents::currentComponents()),
      alignmentGuide_(makeGuide()),
      backgroundDrawingGuide_(makeGuide()),
      labelDrawingGuide_(makeGuide()),
      cancelButtonDrawingGuide_(makeGuide()),
      clearButtonDrawingGuide_(makeGuide()),
      cancelButtonLayoutGuide_(makeGuide()),
      clearButtonLayoutGuide_(makeGuide()) {}

std::shared_ptr<KRRecorderControlStyleResourceLoader> KRRecorderControlStyle::resourceLoader() {
    static const auto loader = std::make_shared<KRRecorderControlStyleResourceLoader>();
    return loader;
}

std::shared_ptr<KRRecorderControlStyling> KRRecorderControlStyle::copy() const {
    return initWithIdentifier(identifier_, preferredComponents_);
}

AnyObject KRRecorderControlStyle::valueForKeyPath(std::string_view keyPath) const {
    if (keyPath == "recorderControl") return AnyObject(recorderControl());
    if (keyPath == "effectiveComponents") return AnyObject(effectiveComponents_);
    if (keyPath == "identifier") return AnyObject(Value(identifier_));
    return NSKeyValueObserving::valueForKeyPath(keyPath);
}

const KRLabelAttributes* KRRecorderControlStyle::normalLabelAttributes() const {
    return info_ ? &info_->metrics.normalLabelAttributes : nullptr;
}
const KRLabelAttributes* KRRecorderControlStyle::recordingLabelAttributes() const {
    return info_ ? &info_->metrics.recordingLabelAttributes : nullptr;
}
const KRLabelAttributes* KRRecorderControlStyle::disabledLabelAttributes() const {
    return info_ ? &info_->metrics.disabledLabelAttributes : nullptr;
}

std::optional<std::string> KRRecorderControlStyle::noValueNormalLabel() const {
    return KRLocalizedString("Record Shortcut");
}
std::optional<std::string> KRRecorderControlStyle::noValueDisableLabel() const {
    return KRLocalizedString("Record Shortcut");
}
std::optional<std::string> KRRecorderControlStyle::noValueRecordingLabel() const {
    return KRLocalizedString("Press keys now");
}

// --- Attaching ---------------------------------------------------------------------------------

void KRRecorderControlStyle::setRecorderControl(const std::shared_ptr<NSView>& control) {
    willChangeValueForKey("recorderControl");
    recorderControl_ = control;
    didChangeValueForKey("recorderControl");
}

void KRRecorderControlStyle::prepareForRecorderControl(const std::shared_ptr<NSView>& control) {
    NSAssert(!recorderControl(), "Style was not removed properly.");
    setRecorderControl(control);
    if (!control) return;
    addConstraints(*control);
    recorderControlAppearanceDidChange(nullptr);
    control->setNeedsDisplay(true);
}

void KRRecorderControlStyle::prepareForRemoval() {
    auto control = recorderControl();
    NSAssert(control, "Style was not applied properly.");
    for (const auto& guide :
         {alignmentGuide_, backgroundDrawingGuide_, labelDrawingGuide_, cancelButtonDrawingGuide_,
          clearButtonDrawingGuide_, cancelButtonLayoutGuide_, clearButtonLayoutGuide_})
        control->removeLayoutGuide(guide);
    // The next control gets constraints of its own, made without constants: forgetting what was
    // applied makes the next attachment fill them in again.
    currentLookupPrefixes_.reset();
    setRecorderControl(nullptr);
}

void KRRecorderControlStyle::addConstraints(NSView& control) {
    for (const auto& guide :
         {alignmentGuide_, backgroundDrawingGuide_, labelDrawingGuide_, cancelButtonDrawingGuide_,
          clearButtonDrawingGuide_, cancelButtonLayoutGuide_, clearButtonLayoutGuide_})
        control.addLayoutGuide(guide);
    NSLayoutGuide& alignment = *alignmentGuide_;
    NSLayoutGuide& background = *backgroundDrawingGuide_;
    NSLayoutGuide& label = *labelDrawingGuide_;
    NSLayoutGuide& cancelDrawing = *cancelButtonDrawingGuide_;
    NSLayoutGuide& clearDrawing = *clearButtonDrawingGuide_;
    NSLayoutGuide& cancelLayout = *cancelButtonLayoutGuide_;
    NSLayoutGuide& clearLayout = *clearButtonLayoutGuide_;

    backgroundTopConstraint_ =
        equal(alignment.topAnchor(), background.topAnchor(), "KR_backgroundDrawingGuide_topToAlignment");
    backgroundLeftConstraint_ =
        equal(alignment.leftAnchor(), background.leftAnchor(), "KR_backgroundDrawingGuide_leftToAlignment");
    backgroundBottomConstraint_ = equal(background.bottomAnchor(), alignment.bottomAnchor(),
                                        "KR_backgroundDrawingGuide_bottomToAlignment");
    backgroundRightConstraint_ = equal(background.rightAnchor(), alignment.rightAnchor(),
                                       "KR_backgroundDrawingGuide_rightToAlignment");
    alignmentToLabelConstraint_ =
        atLeast(label.leadingAnchor(), alignment.leadingAnchor(), "KR_labelDrawingGuide_leadingToAlignment");
    alwaysConstraints_ = {
        equal(alignment.topAnchor(), control.topAnchor(), "KR_alignmentGuide_topToView"),
        equal(alignment.leftAnchor(), control.leftAnchor(), "KR_alignmentGuide_leftToView"),
        equal(alignment.rightAnchor(), control.rightAnchor(), "KR_alignmentGuide_rightToView"),
        equal(alignment.bottomAnchor(), control.bottomAnchor(), "KR_alignmentGuide_bottomToView",
              NSLayoutPriorityDefaultHigh),
        backgroundTopConstraint_,
        backgroundLeftConstraint_,
        backgroundBottomConstraint_,
        backgroundRightConstraint_,
        equal(label.topAnchor(), alignment.topAnchor(), "KR_labelDrawingGuide_topToAlignment"),
        alignmentToLabelConstraint_,
        equal(label.bottomAnchor(), alignment.bottomAnchor(), "KR_labelDrawingGuide_bottomToAlignment"),
        equal(label.centerXAnchor(), alignment.centerXAnchor(), "KR_labelDrawingGuide_centerXToAlignment",
              NSLayoutPriorityDefaultHigh - 1),
    };

    labelToAlignmentConstraint_ = atLeast(alignment.trailingAnchor(), label.trailingAnchor(),
                                          "KR_labelDrawingGuide_trailingToAlignment");
    displayingConstraints_ = {labelToAlignmentConstraint_};

    labelToCancelConstraint_ = atLeast(cancelDrawing.leadingAnchor(), label.trailingAnchor(),
                                       "KR_labelDrawingGuide_trailingToCancel");
    cancelToAlignmentConstraint_ = equal(alignment.trailingAnchor(), cancelDrawing.trailingAnchor(),
                                         "KR_cancelButtonDrawingGuide_trailingToAlignment");
    cancelButtonWidthConstraint_ = constant(cancelDrawing.widthAnchor(), "KR_cancelButtonDrawingGuide_width");
    cancelButtonHeightConstraint_ =
        constant(cancelDrawing.heightAnchor(), "KR_cancelButtonDrawingGuide_height");
    recordingWithNoValueConstraints_ = {
        labelToCancelConstraint_,
        cancelToAlignmentConstraint_,
        equal(cancelDrawing.centerYAnchor(), alignment.centerYAnchor(),
              "KR_cancelButtonDrawingGuide_centerYAlignment"),
        cancelButtonWidthConstraint_,
        cancelButtonHeightConstraint_,
        equal(cancelLayout.topAnchor(), alignment.topAnchor(), "KR_cancelButtonLayoutGuide_topToAlignment"),
        equal(cancelLayout.leadingAnchor(), cancelDrawing.leadingAnchor(),
              "KR_cancelButtonLayoutGuide_leadingToDrawing"),
        equal(cancelLayout.bottomAnchor(), alignment.bottomAnchor(),
              "KR_cancelButtonLayoutGuide_bottomToAlignment"),
        equal(cancelLayout.trailingAnchor(), alignment.trailingAnchor(),
              "KR_cancelButtonLayoutGuide_trailingToAlignment"),
    };

    cancelToClearConstraint_ = equal(clearDrawing.leadingAnchor(), cancelDrawing.trailingAnchor(),
                                     "KR_cancelButtonDrawingGuide_trailingToClear");
    clearToAlignmentConstraint_ = equal(alignment.trailingAnchor(), clearDrawing.trailingAnchor(),
                                        "KR_clearButtonDrawingGuide_trailingToAlignment");
    clearButtonWidthConstraint_ = constant(clearDrawing.widthAnchor(), "KR_clearButtonDrawingGuide_width");
    clearButtonHeightConstraint_ = constant(clearDrawing.heightAnchor(), "KR_clearButtonDrawingGuide_height");
    recordingWithValueConstraints_ = {
        labelToCancelConstraint_,
        equal(cancelDrawing.centerYAnchor(), alignment.centerYAnchor(),
              "KR_cancelButtonDrawingGuide_centerYToAlignment"),
        cancelToClearConstraint_,
        cancelButtonWidthConstraint_,
        cancelButtonHeightConstraint_,
        equal(clearDrawing.centerYAnchor(), alignment.centerYAnchor(),
              "KR_clearButtonDrawingGuide_centerYToAlignment"),
        clearToAlignmentConstraint_,
        clearButtonWidthConstraint_,
        clearButtonHeightConstraint_,
        equal(cancelLayout.topAnchor(), alignment.topAnchor(), "KR_cancelButtonLayoutGuide_topToAlignment"),
        equal(cancelLayout.leadingAnchor(), cancelDrawing.leadingAnchor(),
              "KR_cancelButtonLayoutGuide_leadingToDrawing"),
        equal(cancelLayout.bottomAnchor(), alignment.bottomAnchor(),
              "KR_cancelButtonLayoutGuide_bottomToAlignment"),
        equal(cancelLayout.trailingAnchor(), cancelDrawing.trailingAnchor(),
              "KR_cancelButtonLayoutGuide_trailingToDrawing"),
        equal(clearLayout.topAnchor(), alignment.topAnchor(), "KR_clearButtonLayoutGuide_topToAlignment"),
        equal(clearLayout.leadingAnchor(), clearDrawing.leadingAnchor(),
              "KR_clearButtonLayoutGuide_leadingToDrawing"),
        equal(clearLayout.bottomAnchor(), alignment.bottomAnchor(),
              "KR_clearButtonLayoutGuide_bottomToAlignment"),
        equal(clearLayout.trailingAnchor(), alignment.trailingAnchor(),
              "KR_clearButtonLayoutGuide_trailingToAlignment"),
    };
    control.setNeedsUpdateConstraints(true);
}

// --- Appearance --------------------------------------------------------------------------------

void KRRecorderControlStyle::recorderControlAppearanceDidChange(const void*) {
    auto control = recorderControl();
    willChangeValueForKey("effectiveComponents");
    if (preferredComponents_->isSpecified()) {
        effectiveComponents_ = preferredComponents_->copy();
    } else {
        auto current = KRRecorderControlStyleComponents::currentComponentsForView(control.get());
        const auto& p = *preferredComponents_;
        effectiveComponents_ = KRRecorderControlStyleComponents::initWithAppearance(
            firstSpecified(p.appearance(), current->appearance()),
            firstSpecified(p.accessibility(), current->accessibility()),
            firstSpecified(p.layoutDirection(), current->layoutDirection()),
            firstSpecified(p.tint(), current->tint()));
    }
    didChangeValueForKey("effectiveComponents");
    // Images, sizes and metrics go into the constraints and the redisplay of a control: without
    // one there is nowhere to apply them, and attaching applies them anyway.
    if (!control) return;

    auto prefixes = resourceLoader()->lookupPrefixesForStyle(*this);
    if (currentLookupPrefixes_ && *currentLookupPrefixes_ == *prefixes) return;

    applyImages(*control);
    cancelButtonWidthConstraint_->setConstant(cancelButton_->size().width);
    cancelButtonHeightConstraint_->setConstant(cancelButton_->size().height);
    clearButtonWidthConstraint_->setConstant(clearButton_->size().width);
    clearButtonHeightConstraint_->setConstant(clearButton_->size().height);
    if (!currentLookupPrefixes_) applyMetrics(*control);
    currentLookupPrefixes_ = prefixes;
}

void KRRecorderControlStyle::applyImages(NSView& control) {
    auto loader = resourceLoader();
    for (const auto& slot : imageSlots()) {
        ImagePtr image = loader->imageNamed(slot.name, *this);
        NSAssert(image, std::string("Missing image for ") + slot.name + "!");
        ImagePtr& property = this->*slot.property;
        if (isSameImage(property, image)) continue;
        property = image;
        CGRect area = slot.area == ImageArea::Bounds         ? control.bounds()
                      : slot.area == ImageArea::CancelButton ? cancelButtonDrawingGuide_->frame()
                                                             : clearButtonDrawingGuide_->frame();
        if (!NSIsEmptyRect(area)) control.setNeedsDisplayInRect(area);
    }
}

void KRRecorderControlStyle::applyMetrics(NSView& control) {
    info_ = resourceLoader()->infoForStyle(*this);
    const KRStyleMetrics& metrics = info_->metrics;
    alignmentRectInsets_ = metrics.alignmentInsets;
    focusRingCornerRadius_ = metrics.focusRingCornerRadius;
    focusRingInsets_ = metrics.focusRingInsets;
    baselineLayoutOffsetFromBottom_ = metrics.baselineLayoutOffsetFromBottom;
    baselineDrawingOffsetFromBottom_ = metrics.baselineDrawingOffsetFromBottom;
    backgroundTopConstraint_->setConstant(alignmentRectInsets_.top);
    backgroundLeftConstraint_->setConstant(alignmentRectInsets_.left);
    backgroundBottomConstraint_->setConstant(alignmentRectInsets_.bottom);
    backgroundRightConstraint_->setConstant(alignmentRectInsets_.right);
    alignmentToLabelConstraint_->setConstant(metrics.alignmentToLabel);
    labelToAlignmentConstraint_->setConstant(metrics.labelToAlignment);
    labelToCancelConstraint_->setConstant(metrics.labelToCancel);
    cancelToAlignmentConstraint_->setConstant(metrics.buttonToAlignment);
    clearToAlignmentConstraint_->setConstant(metrics.buttonToAlignment);
    cancelToClearConstraint_->setConstant(metrics.cancelToClear);

    CGFloat label = std::max({labelWidth(noValueNormalLabel(), metrics.normalLabelAttributes),
                              labelWidth(noValueDisableLabel(), metrics.disabledLabelAttributes),
                              labelWidth(noValueRecordingLabel(), metrics.recordingLabelAttributes)});
    CGFloat buttons = labelToCancelConstraint_->constant() + cancelButtonWidthConstraint_->constant() +
                      cancelToClearConstraint_->constant() + clearButtonWidthConstraint_->constant() +
                      clearToAlignmentConstraint_->constant();
    CGFloat trailing = std::max(labelToAlignmentConstraint_->constant(), buttons);
    const NSEdgeInsets& insets = alignmentRectInsets_;
    intrinsicContentSize_ = {std::max(std::max(0.0, metrics.minSize.width - (insets.left + insets.right)),
                                      label + alignmentToLabelConstraint_->constant() + trailing),
                             std::max(0.0, metrics.minSize.height - (insets.top + insets.bottom))};
    control.noteFocusRingMaskChanged();
    control.invalidateIntrinsicContentSize();
    control.setNeedsDisplay(true);
}
