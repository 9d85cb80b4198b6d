#include <gtest/gtest.h>

#include "platform/appkit/NSWindow.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "quorvane/Extensions.h"
#include "quorvane/SpaceView.h"

namespace {

class SpacePreview : public ::testing::Test {
  protected:
    SpacePreview() {
        window->setContentView(preview);
        window->orderFront(nullptr);
    }
    ~SpacePreview() override { window->close(); }

    // What the name field and the shortcut field drew, in that order.
    std::vector<std::string> shownTexts() {
        preview->display();
        std::vector<std::string> out;
        for (const NSView* view : {static_cast<const NSView*>(preview->groupNameLabel()->textField().get()),
                                   static_cast<const NSView*>(preview->groupKeyShortcutView().get())})
            for (const auto& text : view->drawing()->strings()) out.push_back(text);
        return out;
    }

    NSColor shortcutTextColour() {
        const auto& ops = preview->groupKeyShortcutView()->drawing()->operations();
        for (const auto& op : ops)
            if (op.kind == DrawOperation::Kind::String) return *op.attributes.foregroundColor;
        return NSColor::clearColor();
    }

    std::shared_ptr<NSWindow> window = std::make_shared<NSWindow>(
        CGRect{0, 0, 400, 300}, NSWindowStyleMaskTitled, NSBackingStoreType::Buffered, false);
    std::shared_ptr<SpaceView> preview = std::make_shared<SpaceView>(CGRect{0, 0, 400, 300});
};

}  // namespace

TEST_F(SpacePreview, AReadOnlyPreviewNamesWhatIsMissingAndIgnoresClicks) {
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"Unnamed Space", "No shortcut"}));
    auto field = preview->groupKeyShortcutView();
    simulate::click(window, simulate::centerOf(*field));
    EXPECT_FALSE(field->isRecording());
    EXPECT_TRUE(field->clearButton()->isHidden());

    field->setShortcutValue(MASShortcut::shortcutWithKeyCode(18, NSEventModifierFlagCommand));
    EXPECT_EQ(shownTexts()[1], field->shortcutValue()->description());
    EXPECT_TRUE(field->clearButton()->isHidden());
}

TEST_F(SpacePreview, AGivenNameIsShownAsItIsEvenWhenEmpty) {
    preview->setGroupName("");
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"No shortcut"}));
    preview->setGroupName("Mail");
    preview->groupNameLabel()->textField()->setStringValue("Mail");
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"Mail", "No shortcut"}));
}

TEST_F(SpacePreview, AnEditablePreviewInvitesInputInALightColourUntilTheFieldIsClicked) {
    preview->setEditable(true);
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"Enter space name ...", "Record shortcut"}));
    EXPECT_EQ(shortcutTextColour(), hexColor("#BAC2CC", 1.0));

    auto field = preview->groupKeyShortcutView();
    simulate::click(window, simulate::centerOf(*field));
    EXPECT_TRUE(field->isRecording());
    EXPECT_EQ(shortcutTextColour(), hexColor("#22262D", 1.0));

    // A click elsewhere in the preview ends the recording.
    simulate::click(window, {10, 10});
    EXPECT_FALSE(field->isRecording());
}

TEST_F(SpacePreview, TheTwoFieldsAreStackedInTheCentreAndDrawingAddsNothing) {
    preview->display();
    size_t subviews = preview->subviews().size();
    preview->display();
    EXPECT_EQ(preview->subviews().size(), subviews);
    CGRect name =
        preview->groupNameLabel()->convertRectToView(preview->groupNameLabel()->bounds(), preview.get());
    CGRect shortcut = preview->groupKeyShortcutView()->convertRectToView(
        preview->groupKeyShortcutView()->bounds(), preview.get());
    // 36 + 9 + 36 = 81 high, centred in 300: from y = 109.5 to 190.5, the name on top.
    EXPECT_EQ(name, (CGRect{112.5, 154.5, 175, 36}));
    EXPECT_EQ(shortcut, (CGRect{112.5, 109.5, 175, 36}));
    EXPECT_EQ(preview->layer()->borderWidth(), 5);
    EXPECT_EQ(preview->layer()->borderColor(), hexColor("#3B82F6", 1.0));
}
