#include <gtest/gtest.h>

#include "shortcut_recorder/tests/StyleFixture.h"

namespace {

using Components = KRRecorderControlStyleComponents;

class KRStyle : public StyleTest {
  protected:
    std::shared_ptr<CountingControl> control = std::make_shared<CountingControl>();
};

// identifier, relation and priority of each constraint, in order.
struct Expected {
    const char* identifier;
    NSLayoutRelation relation;
    NSLayoutPriority priority;
};

void expectConstraints(const std::vector<ConstraintPtr>& actual, const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i]->identifier(), expected[i].identifier) << i;
        EXPECT_EQ(actual[i]->relation(), expected[i].relation) << expected[i].identifier;
        EXPECT_EQ(actual[i]->priority(), expected[i].priority) << expected[i].identifier;
    }
}

constexpr auto eq = NSLayoutRelation::Equal;
constexpr auto ge = NSLayoutRelation::GreaterThanOrEqual;

TEST_F(KRStyle, DefaultsOfANewStyle) {
    auto style = KRRecorderControlStyle::init();
    EXPECT_EQ(style->identifier(), "sr-mojave");
    EXPECT_EQ(style->preferredComponents()->stringRepresentation(), "");
    EXPECT_FALSE(style->allowsVibrancy());
    EXPECT_FALSE(style->isOpaque());
    EXPECT_TRUE(style->isLabelDrawingFrameOpaque());
    EXPECT_EQ(style->intrinsicContentSize(), (CGSize{NSViewNoIntrinsicMetric, NSViewNoIntrinsicMetric}));
    EXPECT_TRUE(style->alwaysConstraints().empty());
    EXPECT_TRUE(style->recordingWithValueConstraints().empty());
    for (const auto& guide :
         {style->alignmentGuide(), style->backgroundDrawingGuide(), style->labelDrawingGuide(),
          style->cancelButtonDrawingGuide(), style->clearButtonDrawingGuide(),
          style->cancelButtonLayoutGuide(), style->clearButtonLayoutGuide()})
        EXPECT_TRUE(guide);
    EXPECT_EQ(style->noValueNormalLabel(), "Record Shortcut");
    EXPECT_EQ(style->noValueDisableLabel(), "Record Shortcut");
    EXPECT_EQ(style->noValueRecordingLabel(), "Press keys now");
    EXPECT_FALSE(style->normalTooltip());
    ProcessInfo::setOperatingSystemVersion({10, 13, 6});
    EXPECT_EQ(KRRecorderControlStyle::init()->identifier(), "sr-yosemite");
    EXPECT_EQ(KRRecorderControlStyle::resourceLoader(), KRRecorderControlStyle::resourceLoader());
}

TEST_F(KRStyle, EffectiveComponentsHoldNoUnspecifiedField) {
    NSColor::setCurrentControlTint(NSClearControlTint);  // no tint of the components' own
    auto style = KRRecorderControlStyle::init();
    style->prepareForRecorderControl(control);
    const auto& effective = *style->effectiveComponents();
    EXPECT_TRUE(effective.isSpecified());
    EXPECT_EQ(effective.stringRepresentation(), "-aqua-ltr-blue");

    // Preferred fields win; the rest comes from the control's look.
    auto preferring =
        KRRecorderControlStyle::initWithIdentifier(std::nullopt, Components::initWithAppearance(3, 0, 2, 0));
    auto other = std::make_shared<CountingControl>();
    other->setAppearance(NSAppearance::appearanceNamed(NSAppearanceNameVibrantLight));
    NSWorkspace::sharedWorkspace()->setAccessibilityDisplayShouldIncreaseContrast(true);
    preferring->prepareForRecorderControl(other);
    EXPECT_EQ(preferring->effectiveComponents()->stringRepresentation(), "-darkaqua-acc-rtl-blue");
    EXPECT_EQ(preferring->bezelNormalLeft()->name(), "sr-mojave-darkaqua-rtl-bezel-normal-left");
}

TEST_F(KRStyle, AttachingBuildsTheFourConstraintSets) {
    auto style = KRRecorderControlStyle::init();
    style->prepareForRecorderControl(control);
    EXPECT_EQ(control->layoutGuides().size(), 7u);
    EXPECT_TRUE(control->needsUpdateConstraints());
    expectConstraints(style->alwaysConstraints(),
                      {
                          {"KR_alignmentGuide_topToView", eq, 1000},
                          {"KR_alignmentGuide_leftToView", eq, 1000},
                          {"KR_alignmentGuide_rightToView", eq, 1000},
                          {"KR_alignmentGuide_bottomToView", eq, 750},
                          {"KR_backgroundDrawingGuide_topToAlignment", eq, 1000},
                          {"KR_backgroundDrawingGuide_leftToAlignment", eq, 1000},
                          {"KR_backgroundDrawingGuide_bottomToAlignment", eq, 1000},
                          {"KR_backgroundDrawingGuide_rightToAlignment", eq, 1000},
                          {"KR_labelDrawingGuide_topToAlignment", eq, 1000},
                          {"KR_labelDrawingGuide_leadingToAlignment", ge, 1000},
                          {"KR_labelDrawingGuide_bottomToAlignment", eq, 1000},
                          {"KR_labelDrawingGuide_centerXToAlignment", eq, 749},
                      });
    expectConstraints(style->displayingConstraints(),
                      {{"KR_labelDrawingGuide_trailingToAlignment", ge, 1000}});
    expectConstraints(style->recordingWithNoValueConstraints(),
                      {
                          {"KR_labelDrawingGuide_trailingToCancel", ge, 1000},
                          {"KR_cancelButtonDrawingGuide_trailingToAlignment", eq, 1000},
                          {"KR_cancelButtonDrawingGuide_centerYAlignment", eq, 1000},
                          {"KR_cancelButtonDrawingGuide_width", eq, 1000},
                          {"KR_cancelButtonDrawingGuide_height", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_topToAlignment", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_leadingToDrawing", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_bottomToAlignment", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_trailingToAlignment", eq, 1000},
                      });
    expectConstraints(style->recordingWithValueConstraints(),
                      {
                          {"KR_labelDrawingGuide_trailingToCancel", ge, 1000},
                          {"KR_cancelButtonDrawingGuide_centerYToAlignment", eq, 1000},
                          {"KR_cancelButtonDrawingGuide_trailingToClear", eq, 1000},
                          {"KR_cancelButtonDrawingGuide_width", eq, 1000},
                          {"KR_cancelButtonDrawingGuide_height", eq, 1000},
                          {"KR_clearButtonDrawingGuide_centerYToAlignment", eq, 1000},
                          {"KR_clearButtonDrawingGuide_trailingToAlignment", eq, 1000},
                          {"KR_clearButtonDrawingGuide_width", eq, 1000},
                          {"KR_clearButtonDrawingGuide_height", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_topToAlignment", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_leadingToDrawing", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_bottomToAlignment", eq, 1000},
                          {"KR_cancelButtonLayoutGuide_trailingToDrawing", eq, 1000},
                          {"KR_clearButtonLayoutGuide_topToAlignment", eq, 1000},
                          {"KR_clearButtonLayoutGuide_leadingToDrawing", eq, 1000},
                          {"KR_clearButtonLayoutGuide_bottomToAlignment", eq, 1000},
                          {"KR_clearButtonLayoutGuide_trailingToAlignment", eq, 1000},
                      });
    const auto& noValue = style->recordingWithNoValueConstraints();
    const auto& withValue = style->recordingWithValueConstraints();
    for (size_t i : {0, 3, 4}) EXPECT_EQ(withValue[i], noValue[i]);
    for (size_t i : {1, 2, 5, 6, 7, 8})
        EXPECT_EQ(std::count(noValue.begin(), noValue.end(), withValue[i]), 0);

    // Anchors: the first item of each is what its identifier names.
    const auto& always = style->alwaysConstraints();
    EXPECT_EQ(always[0]->firstItem(), style->alignmentGuide().get());
    EXPECT_EQ(always[0]->secondItem(), control.get());
    EXPECT_EQ(always[9]->firstItem(), style->labelDrawingGuide().get());
    EXPECT_EQ(always[9]->firstAttribute(), NSLayoutAttribute::Leading);
    EXPECT_EQ(noValue[3]->secondItem(), nullptr);
    EXPECT_EQ(withValue[2]->firstItem(), style->clearButtonDrawingGuide().get());
    EXPECT_EQ(withValue[2]->secondItem(), style->cancelButtonDrawingGuide().get());

    // Constants from the metrics and the button images.
    EXPECT_EQ(noValue[3]->constant(), 14);
    EXPECT_EQ(noValue[4]->constant(), 14);
    EXPECT_EQ(withValue[7]->constant(), 14);
    EXPECT_EQ(always[6]->constant(), 1);     // alignment insets' bottom
    EXPECT_EQ(always[9]->constant(), 6);     // alignmentToLabel
    EXPECT_EQ(noValue[1]->constant(), 5);    // buttonToAlignment
    EXPECT_EQ(withValue[2]->constant(), 5);  // cancelToClear
}

TEST_F(KRStyle, IntrinsicSizeFromMinSizeInsetsAndLabels) {
    // A 1-point font keeps the labels short; the minimum size less the insets decides.
    writeInfo("test-size",
              infoJSON("[]", standardMetrics(R"({"width": 100, "height": 22})",
                                             R"({"top": 1, "left": 2, "bottom": 3, "right": 4})", 1)));
    writeImages("test-size");
    auto style = KRRecorderControlStyle::initWithIdentifier("test-size", nullptr);
    style->prepareForRecorderControl(control);
    EXPECT_EQ(style->intrinsicContentSize(), (CGSize{94, 18}));
    EXPECT_EQ(style->alignmentRectInsets().bottom, 3);
    EXPECT_EQ(style->focusRingCornerRadius(), (CGSize{4, 5}));
    EXPECT_EQ(style->baselineLayoutOffsetFromBottom(), 9);
    EXPECT_EQ(style->baselineDrawingOffsetFromBottom(), 10);
    EXPECT_EQ(control->focusRingMaskChanges, 1);
    EXPECT_EQ(control->intrinsicSizeInvalidations, 1);

    // At 13 points "Record Shortcut" is wider: label + alignmentToLabel + the larger trailing term.
    writeInfo("test-wide", infoJSON("[]", standardMetrics()));
    writeImages("test-wide");
    auto wide = KRRecorderControlStyle::initWithIdentifier("test-wide", nullptr);
    wide->prepareForRecorderControl(std::make_shared<CountingControl>());
    CGFloat label =
        std::ceil(NSStringSize("Record Shortcut", {NSFont::systemFontOfSize(13), std::nullopt}).width);
    EXPECT_EQ(wide->intrinsicContentSize().width, label + 7 + (4 + 14 + 5 + 14 + 6));
}

TEST_F(KRStyle, AppearanceChangesSwapOnlyWhatDiffers) {
    auto style = KRRecorderControlStyle::init();
    style->prepareForRecorderControl(control);
    style->cancelButtonDrawingGuide()->setFrame({90, 5, 14, 14});
    auto cancel = style->cancelButton();
    auto bezel = style->bezelNormalLeft();
    EXPECT_EQ(bezel->name(), "sr-mojave-aqua-ltr-bezel-normal-left");
    control->display();
    ASSERT_TRUE(control->dirtyRects().empty());

    // Nothing changed: nothing is looked at again.
    style->recorderControlAppearanceDidChange(nullptr);
    EXPECT_EQ(style->bezelNormalLeft(), bezel);
    EXPECT_TRUE(control->dirtyRects().empty());
    EXPECT_EQ(control->focusRingMaskChanges, 1);

    control->setAppearance(NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua));
    style->recorderControlAppearanceDidChange(nullptr);
    EXPECT_EQ(style->bezelNormalLeft()->name(), "sr-mojave-darkaqua-ltr-bezel-normal-left");
    EXPECT_EQ(style->bezelDisabledRight()->name(), "sr-mojave-darkaqua-ltr-bezel-disabled-right");
    EXPECT_EQ(style->cancelButton(), cancel);
    EXPECT_EQ(control->dirtyRects(), std::vector<CGRect>(12, control->bounds()));
    // Metrics are read once: the second look changes no metric.
    EXPECT_EQ(control->focusRingMaskChanges, 1);
}

class Observer : public NSKeyValueObserver {
  public:
    void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving&, const NSKeyValueChange&,
                                void*) override {
        keys.push_back(keyPath);
    }
    std::vector<std::string> keys;
};

TEST_F(KRStyle, AttachRemoveAndAttachElsewhere) {
    auto style = KRRecorderControlStyle::init();
    Observer observer;
    style->addObserver(&observer, "recorderControl", NSKeyValueObservingOptionNew, nullptr);
    EXPECT_EQ(raisedReason([&] { style->prepareForRemoval(); }), "Style was not applied properly.");
    style->prepareForRecorderControl(control);
    EXPECT_EQ(style->recorderControl(), control);
    EXPECT_EQ(raisedReason([&] { style->prepareForRecorderControl(control); }),
              "Style was not removed properly.");

    auto firstWidth = style->recordingWithNoValueConstraints()[3];
    style->alwaysConstraints()[0]->setActive(true);
    style->prepareForRemoval();
    EXPECT_EQ(style->recorderControl(), nullptr);
    EXPECT_TRUE(control->layoutGuides().empty());
    EXPECT_TRUE(control->constraints().empty());

    auto elsewhere = std::make_shared<CountingControl>();
    EXPECT_EQ(raisedReason([&] { style->prepareForRecorderControl(elsewhere); }), "");
    EXPECT_EQ(elsewhere->layoutGuides().size(), 7u);
    EXPECT_EQ(style->alignmentGuide()->owningView(), elsewhere.get());
    // Mended: the new control's constraints carry the metrics and button sizes too.
    auto width = style->recordingWithNoValueConstraints()[3];
    EXPECT_NE(width, firstWidth);
    EXPECT_EQ(width->constant(), 14);
    EXPECT_EQ(style->alwaysConstraints()[9]->constant(), 6);
    EXPECT_EQ(observer.keys,
              (std::vector<std::string>{"recorderControl", "recorderControl", "recorderControl"}));
    style->removeObserver(&observer, "recorderControl", nullptr);
}

TEST_F(KRStyle, ACopyIsDetachedWithTheSameIdentifierAndPreferences) {
    writeInfo("test-copy", infoJSON("[]", standardMetrics()));
    writeImages("test-copy");
    auto style =
        KRRecorderControlStyle::initWithIdentifier("test-copy", Components::initWithAppearance(1, 0, 2, 0));
    style->prepareForRecorderControl(control);
    auto copy = std::dynamic_pointer_cast<KRRecorderControlStyle>(style->copy());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, style);
    EXPECT_EQ(copy->identifier(), "test-copy");
    EXPECT_TRUE(copy->preferredComponents()->isEqual(style->preferredComponents().get()));
    EXPECT_EQ(copy->recorderControl(), nullptr);
    EXPECT_TRUE(copy->alwaysConstraints().empty());
    EXPECT_EQ(copy->intrinsicContentSize().width, NSViewNoIntrinsicMetric);
    // Detached, a change of look only works out the components.
    copy->recorderControlAppearanceDidChange(nullptr);
    EXPECT_EQ(copy->effectiveComponents()->stringRepresentation(), "-aqua-rtl-blue");
    EXPECT_EQ(copy->bezelNormalLeft(), nullptr);
}

}  // namespace
