#pragma once
// What a recorder control draws and lays itself out with (KRRecorderControlStyling), and the
// standard style: metrics, label attributes and images from the style's resources, found under the
// style's identifier and the look in effect; seven layout guides and the four constraint sets the
// control switches between. Resources are applied when the style is attached and again when the
// control reports an appearance change. All on the main thread.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSLayoutConstraint.h"
#include "platform/appkit/NSLayoutGuide.h"
#include "platform/appkit/NSView.h"
#include "platform/foundation/KeyValueObserving.h"
#include "shortcut_recorder/KRRecorderControlStyleComponents.h"
#include "shortcut_recorder/KRRecorderControlStyleResourceLoader.h"

using ImagePtr = std::shared_ptr<NSImage>;
using GuidePtr = std::shared_ptr<NSLayoutGuide>;

// Required members are pure; an optional member answers null (or does nothing) unless a style
// supplies it, and the control falls back then.
class KRRecorderControlStyling {
  public:
    virtual ~KRRecorderControlStyling() = default;

    virtual std::string identifier() const = 0;
    virtual bool allowsVibrancy() const = 0;
    virtual bool isOpaque() const = 0;
    virtual bool isLabelDrawingFrameOpaque() const = 0;
    virtual CGFloat baselineDrawingOffsetFromBottom() const = 0;
    virtual NSEdgeInsets alignmentRectInsets() const = 0;
    virtual CGSize intrinsicContentSize() const = 0;
    virtual GuidePtr alignmentGuide() const = 0;
    virtual GuidePtr labelDrawingGuide() const = 0;
    virtual const std::vector<ConstraintPtr>& alwaysConstraints() const = 0;
    virtual const std::vector<ConstraintPtr>& displayingConstraints() const = 0;
    virtual const std::vector<ConstraintPtr>& recordingWithNoValueConstraints() const = 0;
    virtual const std::vector<ConstraintPtr>& recordingWithValueConstraints() const = 0;

    virtual void prepareForRecorderControl(const std::shared_ptr<NSView>&) {}
    virtual void prepareForRemoval() {}
    virtual void recorderControlAppearanceDidChange(const void* /*reason*/) {}
    virtual KRComponentsPtr preferredComponents() const { return nullptr; }
    virtual const KRLabelAttributes* normalLabelAttributes() const { return nullptr; }
    virtual const KRLabelAttributes* recordingLabelAttributes() const { return nullptr; }
    virtual const KRLabelAttributes* disabledLabelAttributes() const { return nullptr; }
    virtual ImagePtr bezelNormalLeft() const { return nullptr; }
    virtual ImagePtr bezelNormalCenter() const { return nullptr; }
    virtual ImagePtr bezelNormalRight() const { return nullptr; }
    virtual ImagePtr bezelPressedLeft() const { return nullptr; }
    virtual ImagePtr bezelPressedCenter() const { return nullptr; }
    virtual ImagePtr bezelPressedRight() const { return nullptr; }
    virtual ImagePtr bezelRecordingLeft() const { return nullptr; }
    virtual ImagePtr bezelRecordingCenter() const { return nullptr; }
    virtual ImagePtr bezelRecordingRight() const { return nullptr; }
    virtual ImagePtr bezelDisabledLeft() const { return nullptr; }
    virtual ImagePtr bezelDisabledCenter() const { return nullptr; }
    virtual ImagePtr bezelDisabledRight() const { return nullptr; }
    virtual ImagePtr cancelButton() const { return nullptr; }
    virtual ImagePtr cancelButtonPressed() const { return nullptr; }
    virtual ImagePtr clearButton() const { return nullptr; }
    virtual ImagePtr clearButtonPressed() const { return nullptr; }
    virtual std::optional<std::string> noValueNormalLabel() const { return std::nullopt; }
    virtual std::optional<std::string> noValueDisableLabel() const { return std::nullopt; }
    virtual std::optional<std::string> noValueRecordingLabel() const { return std::nullopt; }
    virtual std::optional<std::string> normalTooltip() const { return std::nullopt; }
    virtual std::optional<std::string> disabledTooltip() const { return std::nullopt; }
    virtual std::optional<std::string> recordingTooltip() const { return std::nullopt; }
    virtual std::optional<std::string> cancelButtonTooltip() const { return std::nullopt; }
    virtual std::optional<std::string> clearButtonTooltip() const { return std::nullopt; }
    virtual std::optional<CGSize> focusRingCornerRadius() const { return std::nullopt; }
    virtual std::optional<NSEdgeInsets> focusRingInsets() const { return std::nullopt; }
    virtual std::optional<CGFloat> baselineLayoutOffsetFromBottom() const { return std::nullopt; }
    virtual GuidePtr backgroundDrawingGuide() const { return nullptr; }
    virtual GuidePtr cancelButtonDrawingGuide() const { return nullptr; }
    virtual GuidePtr clearButtonDrawingGuide() const { return nullptr; }
    virtual GuidePtr cancelButtonLayoutGuide() const { return nullptr; }
    virtual GuidePtr clearButtonLayoutGuide() const { return nullptr; }

    // A detached style of the same kind with the same identifier and preferences.
    virtual std::shared_ptr<KRRecorderControlStyling> copy() const = 0;
};

class KRRecorderControlStyle : public KRRecorderControlStyling, public NSKeyValueObserving {
  public:
    // Identifier null: "sr-mojave" on 10.14 and later, "sr-yosemite" before. Components null: all
    // unspecified, so the look in effect decides every field.
    static std::shared_ptr<KRRecorderControlStyle> initWithIdentifier(
        const std::optional<std::string>& identifier, KRComponentsPtr components);
    static std::shared_ptr<KRRecorderControlStyle> init() {
        return initWithIdentifier(std::nullopt, nullptr);
    }
    // Shared by every style.
    static std::shared_ptr<KRRecorderControlStyleResourceLoader> resourceLoader();

    std::string identifier() const override { return identifier_; }
    KRComponentsPtr preferredComponents() const override { return preferredComponents_; }
    // The preferred fields, the rest from the control's look; never unspecified. Observable under
    // "effectiveComponents".
    KRComponentsPtr effectiveComponents() const { return effectiveComponents_; }
    // Null while detached. Observable under "recorderControl".
    std::shared_ptr<NSView> recorderControl() const { return recorderControl_.lock(); }

    bool allowsVibrancy() const override { return false; }
    bool isOpaque() const override { return false; }
    bool isLabelDrawingFrameOpaque() const override { return true; }
    CGFloat baselineDrawingOffsetFromBottom() const override { return baselineDrawingOffsetFromBottom_; }
    std::optional<CGFloat> baselineLayoutOffsetFromBottom() const override {
        return baselineLayoutOffsetFromBottom_;
    }
    NSEdgeInsets alignmentRectInsets() const override { return alignmentRectInsets_; }
    std::optional<CGSize> focusRingCornerRadius() const override { return focusRingCornerRadius_; }
    std::optional<NSEdgeInsets> focusRingInsets() const override { return focusRingInsets_; }
    CGSize intrinsicContentSize() const override { return intrinsicContentSize_; }

    const KRLabelAttributes* normalLabelAttributes() const override;
    const KRLabelAttributes* recordingLabelAttributes() const override;
    const KRLabelAttributes* disabledLabelAttributes() const override;
    std::optional<std::string> noValueNormalLabel() const override;
    std::optional<std::string> noValueDisableLabel() const override;
    std::optional<std::string> noValueRecordingLabel() const override;

    ImagePtr bezelNormalLeft() const override { return bezelNormalLeft_; }
    ImagePtr bezelNormalCenter() const override { return bezelNormalCenter_; }
    ImagePtr bezelNormalRight() const override { return bezelNormalRight_; }
    ImagePtr bezelPressedLeft() const override { return bezelPressedLeft_; }
    ImagePtr bezelPressedCenter() const override { return bezelPressedCenter_; }
    ImagePtr bezelPressedRight() const override { return bezelPressedRight_; }
    ImagePtr bezelRecordingLeft() const override { return bezelRecordingLeft_; }
    ImagePtr bezelRecordingCenter() const override { return bezelRecordingCenter_; }
    ImagePtr bezelRecordingRight() const override { return bezelRecordingRight_; }
    ImagePtr bezelDisabledLeft() const override { return bezelDisabledLeft_; }
    ImagePtr bezelDisabledCenter() const override { return bezelDisabledCenter_; }
    ImagePtr bezelDisabledRight() const override { return bezelDisabledRight_; }
    ImagePtr cancelButton() const override { return cancelButton_; }
    ImagePtr cancelButtonPressed() const override { return cancelButtonPressed_; }
    ImagePtr clearButton() const override { return clearButton_; }
    ImagePtr clearButtonPressed() const override { return clearButtonPressed_; }

    GuidePtr alignmentGuide() const override { return alignmentGuide_; }
    GuidePtr backgroundDrawingGuide() const override { return backgroundDrawingGuide_; }
    GuidePtr labelDrawingGuide() const override { return labelDrawingGuide_; }
    GuidePtr cancelButtonDrawingGuide() const override { return cancelButtonDrawingGuide_; }
    GuidePtr clearButtonDrawingGuide() const override { return clearButtonDrawingGuide_; }
    GuidePtr cancelButtonLayoutGuide() const override { return cancelButtonLayoutGuide_; }
    GuidePtr clearButtonLayoutGuide() const override { return clearButtonLayoutGuide_; }

    const std::vector<ConstraintPtr>& alwaysConstraints() const override { return alwaysConstraints_; }
    const std::vector<ConstraintPtr>& displayingConstraints() const override {
        return displayingConstraints_;
    }
    const std::vector<ConstraintPtr>& recordingWithNoValueConstraints() const override {
        return recordingWithNoValueConstraints_;
    }
    const std::vector<ConstraintPtr>& recordingWithValueConstraints() const override {
        return recordingWithValueConstraints_;
    }

    // Attaching to a control that is attached already, or removing while detached, is a
    // programming error (assertion).
    void prepareForRecorderControl(const std::shared_ptr<NSView>& control) override;
    void prepareForRemoval() override;
    // Works out the look in effect and swaps what differs; nothing when the resource prefixes for
    // it are those applied last. Metrics are read once, on the first application.
    void recorderControlAppearanceDidChange(const void* reason) override;

    std::shared_ptr<KRRecorderControlStyling> copy() const override;

    AnyObject valueForKeyPath(std::string_view keyPath) const override;

  protected:
    KRRecorderControlStyle(std::string identifier, KRComponentsPtr preferred);

  private:
    struct ImageSlot;
    static const std::vector<ImageSlot>& imageSlots();

    void addConstraints(NSView& control);
    void applyImages(NSView& control);
    void applyMetrics(NSView& control);
    void setRecorderControl(const std::shared_ptr<NSView>& control);

    std::string identifier_;
    KRComponentsPtr preferredComponents_;
    KRComponentsPtr effectiveComponents_;
    std::weak_ptr<NSView> recorderControl_;

    std::shared_ptr<const KRStyleInfo> info_;
    std::shared_ptr<const std::vector<std::string>> currentLookupPrefixes_;

    CGFloat baselineLayoutOffsetFromBottom_ = 0, baselineDrawingOffsetFromBottom_ = 0;
    CGSize focusRingCornerRadius_;
    NSEdgeInsets focusRingInsets_, alignmentRectInsets_;
    CGSize intrinsicContentSize_{NSViewNoIntrinsicMetric, NSViewNoIntrinsicMetric};

    ImagePtr bezelNormalLeft_, bezelNormalCenter_, bezelNormalRight_;
    ImagePtr bezelPressedLeft_, bezelPressedCenter_, bezelPressedRight_;
    ImagePtr bezelRecordingLeft_, bezelRecordingCenter_, bezelRecordingRight_;
    ImagePtr bezelDisabledLeft_, bezelDisabledCenter_, bezelDisabledRight_;
    ImagePtr cancelButton_, cancelButtonPressed_, clearButton_, clearButtonPressed_;

    GuidePtr alignmentGuide_, backgroundDrawingGuide_, labelDrawingGuide_, cancelButtonDrawingGuide_,
        clearButtonDrawingGuide_, cancelButtonLayoutGuide_, clearButtonLayoutGuide_;

    std::vector<ConstraintPtr> alwaysConstraints_, displayingConstraints_, recordingWithNoValueConstraints_,
        recordingWithValueConstraints_;
    ConstraintPtr backgroundTopConstraint_, backgroundLeftConstraint_, backgroundBottomConstraint_,
        backgroundRightConstraint_, alignmentToLabelConstraint_, labelToAlignmentConstraint_,
        labelToCancelConstraint_, cancelToAlignmentConstraint_, clearToAlignmentConstraint_,
        cancelButtonHeightConstraint_, cancelButtonWidthConstraint_, clearButtonHeightConstraint_,
        clearButtonWidthConstraint_, cancelToClearConstraint_;
};
