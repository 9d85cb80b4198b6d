#include <gtest/gtest.h>

#include "platform/appkit/NSWindow.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "quorvane/ShortcutView.h"

namespace {

class ShortcutField : public ::testing::Test {
  protected:
    ShortcutField() {
        window->contentView()->addSubview(field);
        field->setShortcutValueChange([this](MASShortcutView&) { ++changes; });
        window->orderFront(nullptr);
    }
    ~ShortcutField() override { window->close(); }

    const DrawOperation& drawnText() {
        const auto& ops = field->drawing()->operations();
        auto it = std::find_if(ops.begin(), ops.end(),
                               [](auto& op) { return op.kind == DrawOperation::Kind::String; });
        EXPECT_NE(it, ops.end());
        return *it;
    }

    std::shared_ptr<NSWindow> window = std::make_shared<NSWindow>(
        CGRect{0, 0, 300, 100}, NSWindowStyleMaskTitled, NSBackingStoreType::Buffered, false);
    std::shared_ptr<ShortcutView> field = ShortcutView::make(CGRect{20, 30, 175, 36});
    int changes = 0;
};

}  // namespace

TEST_F(ShortcutField, WithoutAShortcutDrawsThePlaceholderCentredInHalfTransparentMediumText) {
    field->display();
    const auto& text = drawnText();
    EXPECT_EQ(text.text, "Record shortcut");
    TextAttributes expected{NSFont::systemFontOfSize(12, NSFontWeightMedium),
                            NSColor::colorWithWhite(0, 0.5)};
    EXPECT_EQ(text.attributes, expected);
    CGSize size = NSStringSize("Record shortcut", expected);
    EXPECT_EQ(text.rect, (CGRect{(175 - size.width) / 2, (36 - size.height) / 2, 175, 36}));
    EXPECT_TRUE(field->clearButton()->isHidden());
    EXPECT_EQ(field->layer()->cornerRadius(), 6.4);
    EXPECT_EQ(field->layer()->borderWidth(), 1.5);
}

TEST_F(ShortcutField, AClickStartsRecordingAndTheFieldThenAsksForAShortcut) {
    simulate::click(window, simulate::centerOf(*field));
    EXPECT_TRUE(field->isRecording());
    EXPECT_EQ(field->placeholder(), " Type shortcut...");
    EXPECT_EQ(window->firstResponder(), field.get());
    EXPECT_EQ(drawnText().text, " Type shortcut...");

    // Recording ends, yet the field keeps asking whenever it is empty.
    simulate::keyDown(window, 53, "\x1b");
    EXPECT_FALSE(field->isRecording());
    field->display();
    EXPECT_EQ(drawnText().text, " Type shortcut...");
}

TEST_F(ShortcutField, TheClearButtonSitsInsideTheRightEdgeAndEmptiesTheField) {
    field->setShortcutValue(MASShortcut::shortcutWithKeyCode(18, NSEventModifierFlagCommand));
    changes = 0;
    window->makeFirstResponder(field.get());
    field->display();
    auto button = field->clearButton();
    ASSERT_FALSE(button->isHidden());
    EXPECT_EQ(button->title(), "✕");
    EXPECT_EQ(button->frame().maxX(), 175 - 5);
    EXPECT_EQ(button->frame().midY(), 18);
    EXPECT_EQ(drawnText().text, field->shortcutValue()->description());

    simulate::click(window, simulate::centerOf(*button));
    EXPECT_EQ(field->shortcutValue(), nullptr);
    EXPECT_TRUE(button->isHidden());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(window->firstResponder(), nullptr);
}

TEST_F(ShortcutField, AShortcutWithoutReadableFormHidesTheButtonButIsStillDrawn) {
    auto unreadable = MASShortcut::shortcutWithKeyCode(9999, 0);
    ASSERT_EQ(unreadable->description(), "");
    field->setShortcutValue(unreadable);
    field->display();
    EXPECT_TRUE(field->clearButton()->isHidden());
    EXPECT_EQ(drawnText().text, "");
}
