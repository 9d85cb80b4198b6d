#include <gtest/gtest.h>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/dispatch/DispatchQueue.h"
#include "shortcut_recorder/tests/RecorderFixture.h"

namespace {

// The standard style with what a test changes: bezels present or not, opacity, a fixed label and
// its attributes; it counts attachments and appearance notices.
class TestStyle : public KRRecorderControlStyle {
  public:
    struct Options {
        bool bezels = true;
        bool opaque = false;
        std::optional<std::string> label;
        std::optional<KRLabelAttributes> attributes;
        KRComponentsPtr preferred;
    };
    static std::shared_ptr<TestStyle> make(Options options) {
        return std::shared_ptr<TestStyle>(new TestStyle(std::move(options)));
    }
    std::shared_ptr<KRRecorderControlStyling> copy() const override { return make(options_); }

    bool isOpaque() const override { return options_.opaque; }
    ImagePtr bezelNormalCenter() const override {
        return options_.bezels ? KRRecorderControlStyle::bezelNormalCenter() : nullptr;
    }
    ImagePtr bezelRecordingCenter() const override {
        return options_.bezels ? KRRecorderControlStyle::bezelRecordingCenter() : nullptr;
    }
    std::optional<std::string> noValueNormalLabel() const override {
        return options_.label ? options_.label : KRRecorderControlStyle::noValueNormalLabel();
    }
    const KRLabelAttributes* normalLabelAttributes() const override {
        return options_.attributes ? &*options_.attributes : KRRecorderControlStyle::normalLabelAttributes();
    }
    void prepareForRecorderControl(const std::shared_ptr<NSView>& control) override {
        ++attachments;
        if (control) directionSeen = control->userInterfaceLayoutDirection();
        KRRecorderControlStyle::prepareForRecorderControl(control);
    }
    void recorderControlAppearanceDidChange(const void* reason) override {
        reasons.push_back(reason);
        KRRecorderControlStyle::recorderControlAppearanceDidChange(reason);
    }

    int attachments = 0;
    std::optional<NSUserInterfaceLayoutDirection> directionSeen;
    std::vector<const void*> reasons;

  private:
    explicit TestStyle(Options options)
        : KRRecorderControlStyle(
              "sr-mojave", options.preferred ? options.preferred : KRRecorderControlStyleComponents::init()),
          options_(std::move(options)) {}
    Options options_;
};

class KRRecorderDrawing : public RecorderTest {
  protected:
    // Attaches a copy of a test style and gives its guides frames as a layout pass would, for the
    // tests that read them before the control is next laid out.
    std::shared_ptr<TestStyle> attach(const std::function<void(TestStyle::Options&)>& change = {}) {
        TestStyle::Options options;
        if (change) change(options);
        control->setStyle(TestStyle::make(std::move(options)));
        auto style = std::dynamic_pointer_cast<TestStyle>(control->style());
        style->backgroundDrawingGuide()->setFrame({0, 0, 150, 23});
        style->labelDrawingGuide()->setFrame({6, 0, 100, 23});
        style->cancelButtonDrawingGuide()->setFrame({108, 4, 14, 14});
        style->clearButtonDrawingGuide()->setFrame({127, 4, 14, 14});
        style->cancelButtonLayoutGuide()->setFrame({104, 0, 22, 23});
        style->clearButtonLayoutGuide()->setFrame({123, 0, 22, 23});
        return style;
    }
    std::vector<DrawOperation> draw() {
        control->display();
        return control->drawing()->operations();
    }
    static size_t count(const std::vector<DrawOperation>& ops, DrawOperation::Kind kind) {
        return std::count_if(ops.begin(), ops.end(),
                             [&](const DrawOperation& op) { return op.kind == kind; });
    }
    static std::vector<std::string> images(const std::vector<DrawOperation>& ops) {
        std::vector<std::string> names;
        for (const auto& op : ops)
            if (op.kind == DrawOperation::Kind::Image)
                names.insert(names.end(), op.images.begin(), op.images.end());
        return names;
    }
};

TEST_F(KRRecorderDrawing, WithoutBezelImagesTheBackgroundIsAFlatColour) {
    for (bool opaque : {true, false}) {
        attach([&](TestStyle::Options& o) {
            o.bezels = false;
            o.opaque = opaque;
        });
        auto ops = draw();
        ASSERT_FALSE(ops.empty());
        EXPECT_EQ(ops[0].kind, DrawOperation::Kind::FillRect);
        EXPECT_EQ(ops[0].color, opaque ? NSColor::windowBackgroundColor() : NSColor::clearColor());
        EXPECT_EQ(ops[0].rect,
                  CGRectIntersection(control->style()->backgroundDrawingGuide()->frame(), control->bounds()));
        EXPECT_EQ(trace.count("#Developer drawing background using color"), opaque ? 1u : 2u);
    }
    attach();
    auto ops = draw();
    ASSERT_EQ(ops[0].kind, DrawOperation::Kind::ThreePartImage);
    EXPECT_EQ(ops[0].images, (std::vector<std::string>{"sr-mojave-aqua-ltr-bezel-normal-left",
                                                       "sr-mojave-aqua-ltr-bezel-normal-center",
                                                       "sr-mojave-aqua-ltr-bezel-normal-right"}));
}

TEST_F(KRRecorderDrawing, ButtonsFollowTheRecordingState) {
    attach();
    EXPECT_TRUE(images(draw()).empty());
    EXPECT_EQ(control->drawing()->strings(), std::vector<std::string>{"Record Shortcut"});
    ASSERT_TRUE(control->beginRecording());
    EXPECT_EQ(images(draw()), std::vector<std::string>{"sr-mojave-button-cancel-normal"});
    EXPECT_EQ(control->drawing()->strings(), std::vector<std::string>{"Press keys now"});
    control->endRecordingWithObjectValue(shortcut(kKeyA, kCommand));
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    auto ops = draw();
    EXPECT_EQ(images(ops),
              (std::vector<std::string>{"sr-mojave-button-cancel-normal", "sr-mojave-button-clear-normal"}));
    EXPECT_EQ(ops[0].images[0], "sr-mojave-aqua-ltr-bezel-recording-left");

    // A label frame narrower than "…" draws no label; background and buttons still draw.
    control->labelWidthConstraint()->setConstant(5);
    ops = draw();
    EXPECT_EQ(control->style()->labelDrawingGuide()->frame().width(), 5);
    EXPECT_TRUE(control->drawing()->strings().empty());
    EXPECT_EQ(count(ops, DrawOperation::Kind::ThreePartImage), 1u);
    EXPECT_EQ(images(ops).size(), 2u);
}

TEST_F(KRRecorderDrawing, LabelWidthAndActiveConstraintSets) {
    // Four characters of 0.55 × 16.909… points each measure 37.2.
    KRLabelAttributes attributes;
    attributes.text.font = NSFont::systemFontOfSize(37.2 / (4 * 0.55));
    attach([&](TestStyle::Options& o) {
        o.label = "abcd";
        o.attributes = attributes;
    });
    control->updateLabelConstraints();
    EXPECT_EQ(control->labelWidthConstraint()->constant(), 40);
    EXPECT_EQ(control->labelWidthConstraint()->priority(), 751);
    EXPECT_TRUE(control->labelWidthConstraint()->isActive());

    auto style = control->style();
    auto active = [](const std::vector<ConstraintPtr>& set) {
        return std::all_of(set.begin(), set.end(), [](const ConstraintPtr& c) { return c->isActive(); });
    };
    auto inactive = [](const std::vector<ConstraintPtr>& set, std::vector<size_t> shared = {}) {
        for (size_t i = 0; i < set.size(); ++i)
            if (std::find(shared.begin(), shared.end(), i) == shared.end() && set[i]->isActive())
                return false;
        return true;
    };
    control->updateConstraints();
    EXPECT_TRUE(active(style->alwaysConstraints()));
    EXPECT_TRUE(active(style->displayingConstraints()));
    EXPECT_TRUE(inactive(style->recordingWithNoValueConstraints()));
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(inactive(style->displayingConstraints()));
    EXPECT_TRUE(active(style->recordingWithNoValueConstraints()));
    control->endRecordingWithObjectValue(shortcut(kKeyA, kCommand));
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(active(style->recordingWithValueConstraints()));
    EXPECT_TRUE(inactive(style->recordingWithNoValueConstraints(), {0, 3, 4}));
    EXPECT_TRUE(inactive(style->displayingConstraints()));
}

// The standard style laid out by the view kit: each state has exactly its own set active, and the
// buttons' hit areas end at the trailing edge of the alignment rectangle, the clear button last.
TEST_F(KRRecorderDrawing, TheStandardLayoutPutsTheButtonsAtTheTrailingEdge) {
    using Direction = NSUserInterfaceLayoutDirection;
    for (Direction direction : {Direction::LeftToRight, Direction::RightToLeft}) {
        SCOPED_TRACE(direction == Direction::LeftToRight ? "left to right" : "right to left");
        control->endRecording();
        control->setObjectValue(AnyObject());
        control->setStyle(nullptr);
        control->setUserInterfaceLayoutDirection(direction);
        auto style = control->style();
        bool ltr = direction == Direction::LeftToRight;
        // Distances into the rectangle from its trailing and leading edges.
        auto fromTrailing = [&](const CGRect& outer, const CGRect& r) {
            return ltr ? outer.maxX() - r.maxX() : r.minX() - outer.minX();
        };
        auto inside = [](const CGRect& outer, const CGRect& r) {
            return !NSIsEmptyRect(r) && r.minX() >= outer.minX() && r.maxX() <= outer.maxX() &&
                   r.minY() >= outer.minY() && r.maxY() <= outer.maxY();
        };
        std::vector<ConstraintPtr> all;
        for (const auto* set : {&style->displayingConstraints(), &style->recordingWithNoValueConstraints(),
                                &style->recordingWithValueConstraints()})
            all.insert(all.end(), set->begin(), set->end());
        auto onlyActive = [&](const std::vector<ConstraintPtr>& expected) {
            for (const auto& c : all) {
                bool wanted = std::find(expected.begin(), expected.end(), c) != expected.end();
                if (c->isActive() != wanted) return false;
            }
            return true;
        };

        window->display();
        NSEdgeInsets insets = control->alignmentRectInsets();
        CGRect b = control->bounds();
        CGRect alignment{insets.left, insets.top, b.width() - insets.left - insets.right,
                         b.height() - insets.top - insets.bottom};
        EXPECT_EQ(style->alignmentGuide()->frame(), alignment);
        EXPECT_EQ(style->backgroundDrawingGuide()->frame(), b);
        EXPECT_TRUE(onlyActive(style->displayingConstraints()));
        EXPECT_TRUE(inside(alignment, style->labelDrawingGuide()->frame()));

        ASSERT_TRUE(control->beginRecording());  // without a value
        window->display();
        EXPECT_TRUE(onlyActive(style->recordingWithNoValueConstraints()));
        CGRect cancel = control->cancelButtonHitArea();
        EXPECT_TRUE(inside(alignment, cancel));
        EXPECT_EQ(fromTrailing(alignment, cancel), 0);
        EXPECT_TRUE(inside(cancel, style->cancelButtonDrawingGuide()->frame()));
        EXPECT_FALSE(CGRectIntersectsRect(style->labelDrawingGuide()->frame(), cancel));
        control->endRecordingWithObjectValue(shortcut(kKeyA, kCommand));

        window->makeFirstResponder(control.get());
        ASSERT_TRUE(control->beginRecording());  // with a value
        window->display();
        EXPECT_TRUE(onlyActive(style->recordingWithValueConstraints()));
        CGRect clear = control->clearButtonHitArea();
        cancel = control->cancelButtonHitArea();
        EXPECT_TRUE(inside(alignment, clear));
        EXPECT_TRUE(inside(alignment, cancel));
        EXPECT_EQ(fromTrailing(alignment, clear), 0);
        // The cancel button's area ends with its image, before the clear button's area begins.
        EXPECT_EQ(fromTrailing(alignment, cancel),
                  fromTrailing(alignment, style->cancelButtonDrawingGuide()->frame()));
        EXPECT_GE(fromTrailing(alignment, cancel), clear.width());
        EXPECT_TRUE(inside(clear, style->clearButtonDrawingGuide()->frame()));
        EXPECT_FALSE(CGRectIntersectsRect(style->labelDrawingGuide()->frame(), cancel));
    }
}

TEST_F(KRRecorderDrawing, StylesAreAttachedAsCopiesAndOnlyWhenNew) {
    auto given = TestStyle::make(TestStyle::Options());
    control->setStyle(given);
    auto attached = std::dynamic_pointer_cast<TestStyle>(control->style());
    ASSERT_TRUE(attached);
    EXPECT_NE(attached, given);
    EXPECT_EQ(attached->attachments, 1);
    control->setStyle(attached);
    EXPECT_EQ(control->style(), attached);
    EXPECT_EQ(attached->attachments, 1);
    control->setStyle(nullptr);
    EXPECT_NE(control->style(), attached);
    EXPECT_TRUE(std::dynamic_pointer_cast<KRRecorderControlStyle>(control->style()));
    EXPECT_EQ(attached->recorderControl(), nullptr);  // removed from the control
}

TEST_F(KRRecorderDrawing, AppearanceChangesInOnePassReachTheStyleOnce) {
    auto style = attach();
    RunLoop::runUntilIdle();
    style->reasons.clear();
    Notification tint{NSControlTintDidChangeNotification, nullptr, {}};
    Notification display{"NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification", nullptr, {}};
    control->controlTintDidChange(tint);
    control->accessibilityDisplayOptionsDidChange(display);
    control->viewDidChangeBackingProperties();
    control->viewDidChangeEffectiveAppearance();
    EXPECT_TRUE(style->reasons.empty());
    RunLoop::runUntilIdle();
    EXPECT_EQ(style->reasons, std::vector<const void*>{nullptr});

    control->viewDidChangeEffectiveAppearance();
    control->controlTintDidChange(tint);
    RunLoop::runUntilIdle();
    EXPECT_EQ(style->reasons, (std::vector<const void*>{nullptr, &tint}));

    // The notifications themselves, while the control is in a window.
    NotificationCenter::defaultCenter().post(NSControlTintDidChangeNotification,
                                             NSApplication::sharedApplication().get());
    NSWorkspace::sharedWorkspace()->notificationCenter().post(
        NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification);
    RunLoop::runUntilIdle();
    ASSERT_EQ(style->reasons.size(), 3u);
    EXPECT_NE(style->reasons.back(), nullptr);
}

TEST_F(KRRecorderDrawing, TheControlTakesTheLookTheStylePrefers) {
    attach([](TestStyle::Options& o) {
        o.preferred = KRRecorderControlStyleComponents::initWithAppearance(3, 0, 0, 0);
    });
    ASSERT_TRUE(control->appearance());
    EXPECT_EQ(control->appearance()->name(), NSAppearanceNameDarkAqua);
    EXPECT_EQ(control->style()->bezelNormalLeft()->name(), "sr-mojave-darkaqua-ltr-bezel-normal-left");
    attach();
    EXPECT_EQ(control->appearance(), nullptr);
}

TEST_F(KRRecorderDrawing, ADirectionSetOnTheControlOutranksTheStyles) {
    EXPECT_EQ(control->userInterfaceLayoutDirection(), NSUserInterfaceLayoutDirection::LeftToRight);
    auto style = attach([](TestStyle::Options& o) {
        o.preferred = KRRecorderControlStyleComponents::initWithAppearance(0, 0, 2, 0);
    });
    EXPECT_EQ(style->directionSeen, NSUserInterfaceLayoutDirection::RightToLeft);
    EXPECT_EQ(control->userInterfaceLayoutDirection(), NSUserInterfaceLayoutDirection::RightToLeft);
    control->setUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection::LeftToRight);
    EXPECT_EQ(control->userInterfaceLayoutDirection(), NSUserInterfaceLayoutDirection::LeftToRight);
    RunLoop::runUntilIdle();
    EXPECT_EQ(style->reasons.back(), nullptr);
}

TEST_F(KRRecorderDrawing, WhileTheDefaultStyleIsInstalledTheBaseDirectionIsUsed) {
    TestStyle::Options options;
    options.preferred = KRRecorderControlStyleComponents::initWithAppearance(0, 0, 2, 0);
    KRRecorderControl::setDefaultStyleFactoryForTesting([options] { return TestStyle::make(options); });
    auto fresh = KRRecorderControl::initWithFrame({10, 10, 150, 24});
    auto style = std::dynamic_pointer_cast<TestStyle>(fresh->style());
    ASSERT_TRUE(style);
    // The style being installed asked while it was not yet the control's: the base direction.
    EXPECT_EQ(style->directionSeen, NSUserInterfaceLayoutDirection::LeftToRight);
    EXPECT_EQ(fresh->userInterfaceLayoutDirection(), NSUserInterfaceLayoutDirection::RightToLeft);
    // A style set by the app is asked with its own preference in force.
    EXPECT_EQ(attach([&](TestStyle::Options& o) { o = options; })->directionSeen,
              NSUserInterfaceLayoutDirection::RightToLeft);
    KRRecorderControl::setDefaultStyleFactoryForTesting(nullptr);
}

TEST_F(KRRecorderDrawing, FocusRingFromTheBackgroundAndInsets) {
    auto style = attach();
    // Standard style: alignment insets bottom 1, focus ring insets 0, radii 4.
    auto shape = control->focusRingShape();
    EXPECT_EQ(shape.bounds(), CGRect(0, 0, 150, 22));
    EXPECT_EQ(control->focusRingMaskBounds(), CGRect(0, 0, 150, 22));
    window->makeFirstResponder(nullptr);
    EXPECT_EQ(control->focusRingMaskBounds(), CGRectZero);
    EXPECT_EQ(control->baselineOffsetFromBottom(), 7);
}

// Presses, drags and releases sent through the window. The control sits at (10, 10) in the
// window's content, 150 x 24 and flipped: a window point (x, y) is (x - 10, 34 - y) in the control.
class KRRecorderMouse : public KRRecorderDrawing {
  protected:
    static constexpr CGPoint kMain{20, 20}, kCancel{125, 23}, kClear{144, 23}, kOutside{250, 50};

    KRRecorderMouse() {
        attach();
        // As the view kit does once the control is laid out in its window.
        window->display();
        control->updateTrackingAreas();
        send(NSEventType::MouseMoved, kMain);
    }
    void send(NSEventType type, CGPoint at) { window->sendEvent(*NSEvent::mouseEvent(type, at, window)); }
    // The bezel the last display pass drew: "normal", "pressed" or "recording".
    std::string bezel() const {
        for (const auto& op : control->drawing()->operations())
            if (op.kind == DrawOperation::Kind::ThreePartImage) {
                std::string left = op.images.at(0);
                auto from = left.find("bezel-") + 6;
                return left.substr(from, left.rfind('-') - from);
            }
        return "";
    }
};

TEST_F(KRRecorderMouse, APressActsOnlyWhenReleasedOverTheButtonItBeganIn) {
    send(NSEventType::LeftMouseDown, kMain);
    EXPECT_EQ(control->mouseTrackingButtonTag(), KRRecorderControlMainButton);
    EXPECT_EQ(bezel(), "pressed");
    EXPECT_TRUE(control->isHighlighted());
    send(NSEventType::LeftMouseDragged, kOutside);
    EXPECT_EQ(bezel(), "normal");
    EXPECT_FALSE(control->isMainButtonHighlighted());
    send(NSEventType::LeftMouseUp, kOutside);
    EXPECT_FALSE(control->isRecording());
    EXPECT_EQ(control->mouseTrackingButtonTag(), KRRecorderControlNoButton);

    send(NSEventType::LeftMouseDown, kMain);
    send(NSEventType::LeftMouseDragged, kOutside);
    send(NSEventType::LeftMouseDragged, kMain);
    EXPECT_EQ(bezel(), "pressed");
    send(NSEventType::LeftMouseUp, kMain);
    EXPECT_TRUE(control->isRecording());
    EXPECT_EQ(control->mouseTrackingButtonTag(), KRRecorderControlNoButton);
}

TEST_F(KRRecorderMouse, CancelAndClearActOnReleaseOverThem) {
    enum class At { Cancel, Clear, Outside };
    struct Case {
        At press, release;
        bool recording, hasValue;
    } cases[] = {
        {At::Cancel, At::Cancel, false, true},  // cancel keeps the value
        {At::Clear, At::Clear, false, false},   // clear drops it
        {At::Cancel, At::Clear, true, true},    // released over the other button: nothing
        {At::Clear, At::Outside, true, true},
    };
    // The middle of a button's hit area as laid out now, in the window.
    auto point = [&](At at) {
        if (at == At::Outside) return kOutside;
        CGRect area = at == At::Cancel ? control->cancelButtonHitArea() : control->clearButtonHitArea();
        return control->convertPointToView({area.midX(), area.midY()}, nullptr);
    };
    for (const auto& c : cases) {
        control->setObjectValue(AnyObject(shortcut(kKeyA, kCommand)));
        ASSERT_TRUE(control->beginRecording());
        window->display();
        send(NSEventType::LeftMouseDown, point(c.press));
        EXPECT_NE(control->mouseTrackingButtonTag(), KRRecorderControlNoButton);
        send(NSEventType::LeftMouseUp, point(c.release));
        EXPECT_EQ(control->isRecording(), c.recording);
        EXPECT_EQ(control->shortcut() != nullptr, c.hasValue);
        control->endRecording();
    }
}

TEST_F(KRRecorderMouse, AReleaseInAWindowThatIsNotKeyOnlyRedisplays) {
    auto other = std::make_shared<NSWindow>(CGRect{400, 0, 100, 100}, NSWindowStyleMaskTitled,
                                            NSBackingStoreType::Buffered, false);
    send(NSEventType::LeftMouseDown, kMain);
    other->makeKeyAndOrderFront(nullptr);
    control->display();
    send(NSEventType::LeftMouseUp, kMain);
    EXPECT_FALSE(control->isRecording());
    EXPECT_EQ(control->mouseTrackingButtonTag(), KRRecorderControlNoButton);
    EXPECT_EQ(bezel(), "normal");  // drawn again, no longer pressed
    other->close();
}

TEST_F(KRRecorderMouse, SpaceDoesNotBeginRecordingWhileAPressIsTracked) {
    send(NSEventType::LeftMouseDown, kMain);
    window->sendEvent(*key(kKeySpace, 0, " "));
    EXPECT_FALSE(control->isRecording());
    send(NSEventType::LeftMouseUp, kMain);
    EXPECT_TRUE(control->isRecording());
}

TEST_F(KRRecorderMouse, ButtonAreasAndToolTipsFollowTheRecordingState) {
    auto local = [&](CGPoint p) { return control->convertPointFromView(p, nullptr); };
    EXPECT_EQ(control->trackingAreas().size(), 1u);
    EXPECT_TRUE(control->toolTipRects().empty());

    ASSERT_TRUE(control->beginRecording());  // without a value
    ASSERT_EQ(control->trackingAreas().size(), 2u);
    for (const auto& area : control->trackingAreas()) {
        EXPECT_EQ(area->options(), 0x411u);
        EXPECT_EQ(area->owner().get(), control.get());
    }
    EXPECT_EQ(control->cancelButtonTrackingArea()->rect(), (CGRect{104, 0, 22, 23}));
    EXPECT_EQ(control->clearButtonTrackingArea(), nullptr);
    EXPECT_EQ(control->clearButtonToolTipTag(), KRRecorderControlNoToolTip);
    EXPECT_EQ(control->toolTipRects().size(), 1u);
    EXPECT_EQ(control->toolTipAtPoint(local(kCancel)), "Cancel recording");
    control->endRecording();
    EXPECT_TRUE(control->toolTipRects().empty());
    EXPECT_EQ(control->cancelButtonToolTipTag(), KRRecorderControlNoToolTip);

    control->setObjectValue(AnyObject(shortcut(kKeyA, kCommand)));
    ASSERT_TRUE(control->beginRecording());
    EXPECT_EQ(control->trackingAreas().size(), 3u);
    EXPECT_EQ(control->toolTipAtPoint(local(kCancel)), "Use old shortcut");
    EXPECT_EQ(control->toolTipAtPoint(local(kClear)), "Delete current shortcut");
    EXPECT_EQ(control->toolTipAtPoint(local(kMain)), "Press keys now");  // the control's own
}

}  // namespace
