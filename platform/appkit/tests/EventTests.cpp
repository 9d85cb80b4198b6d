#include <gtest/gtest.h>

#include "platform/appkit/NSButton.h"
#include "platform/appkit/NSTextField.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"

namespace {

// Records what reaches it, in order.
class RecordingView : public NSView {
  public:
    using NSView::NSView;
    std::vector<std::string> log;
    bool acceptsFirstResponder() const override { return focusable; }
    bool focusable = false;
    void mouseDown(const NSEvent& e) override { log.push_back("down " + at(e)); }
    void mouseDragged(const NSEvent& e) override { log.push_back("drag " + at(e)); }
    void mouseUp(const NSEvent& e) override { log.push_back("up " + at(e)); }
    void rightMouseDown(const NSEvent&) override { log.push_back("right"); }
    void keyDown(const NSEvent& e) override { log.push_back("key " + e.characters()); }
    void mouseEntered(const NSEvent& e) override { log.push_back("enter " + nameOf(e)); }
    void mouseExited(const NSEvent& e) override { log.push_back("exit " + nameOf(e)); }

  private:
    std::string at(const NSEvent& e) const {
        CGPoint p = convertPointFromView(e.locationInWindow(), nullptr);
        return std::to_string(int(p.x)) + "," + std::to_string(int(p.y));
    }
    static std::string nameOf(const NSEvent& e) {
        auto area = e.trackingArea();
        auto named = area ? std::dynamic_pointer_cast<NSView>(area->userInfoObject("view")) : nullptr;
        return named ? named->identifier() : "?";
    }
};

class Target : public NSObject {
  public:
    Target() {
        registerAction("pressed:", [this](NSObject* sender) { senders.push_back(sender); });
    }
    std::vector<NSObject*> senders;
};

std::shared_ptr<NSWindow> makeWindow(CGRect content = {0, 0, 400, 300}) {
    return std::make_shared<NSWindow>(content, NSWindowStyleMaskTitled, NSBackingStoreType::Buffered, false);
}

}  // namespace

TEST(Events, PressGoesToTheViewUnderThePointerAndDragsFollowIt) {
    auto window = makeWindow();
    auto left = std::make_shared<RecordingView>(CGRect{0, 0, 200, 300});
    auto right = std::make_shared<RecordingView>(CGRect{200, 0, 200, 300});
    window->contentView()->addSubview(left);
    window->contentView()->addSubview(right);

    simulate::drag(window, {50, 60}, {250, 70});
    simulate::rightClick(window, {300, 10});
    EXPECT_EQ(left->log, (std::vector<std::string>{"down 50,60", "drag 250,70", "up 250,70"}));
    EXPECT_EQ(right->log, (std::vector<std::string>{"right"}));
}

TEST(Events, KeysGoToTheFirstResponderWhichAClickMakes) {
    auto window = makeWindow();
    auto field = std::make_shared<RecordingView>(CGRect{10, 10, 100, 20});
    field->focusable = true;
    auto plain = std::make_shared<RecordingView>(CGRect{200, 10, 100, 20});
    window->contentView()->addSubview(field);
    window->contentView()->addSubview(plain);

    simulate::click(window, simulate::centerOf(*plain));
    EXPECT_EQ(window->firstResponder(), nullptr);
    simulate::click(window, simulate::centerOf(*field));
    EXPECT_EQ(window->firstResponder(), field.get());
    simulate::keyDown(window, 0, "a");
    EXPECT_EQ(field->log.back(), "key a");
    EXPECT_TRUE(window->makeFirstResponder(nullptr));
    EXPECT_EQ(window->firstResponder(), nullptr);
}

TEST(Events, TrackingAreasReportEnterAndExitWithTheirUserInfo) {
    auto window = makeWindow();
    auto owner = std::make_shared<RecordingView>(CGRect{0, 0, 400, 300});
    window->contentView()->addSubview(owner);
    std::vector<std::shared_ptr<NSView>> buttons;
    for (int i = 0; i < 2; ++i) {
        auto button = std::make_shared<NSView>(CGRect{10.0 + 100 * i, 10, 50, 50});
        button->setIdentifier("b" + std::to_string(i));
        owner->addSubview(button);
        button->addTrackingArea(std::make_shared<NSTrackingArea>(
            button->bounds(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways, owner,
            NSTrackingArea::UserInfo{{"view", button}}));
        buttons.push_back(button);
    }
    window->orderFront(nullptr);
    simulate::moveMouse(window, {20, 20});
    simulate::moveMouse(window, {30, 30});
    simulate::moveMouse(window, {120, 20});
    buttons[1]->setHidden(true);
    simulate::moveMouse(window, {300, 200});
    EXPECT_EQ(owner->log, (std::vector<std::string>{"enter b0", "exit b0", "enter b1"}));
}

TEST(Controls, AButtonSendsItsActionToItsTargetOnlyWhileEnabled) {
    auto window = makeWindow();
    auto target = std::make_shared<Target>();
    auto button = NSButton::buttonWithTitle("Go", target, "pressed:");
    button->setFrame({10, 10, 80, 30});
    window->contentView()->addSubview(button);

    simulate::click(window, simulate::centerOf(*button));
    ASSERT_EQ(target->senders.size(), 1u);
    EXPECT_EQ(target->senders[0], button.get());
    // A press that is released outside the button is no click.
    simulate::send(window, NSEventType::LeftMouseDown, simulate::centerOf(*button));
    simulate::send(window, NSEventType::LeftMouseUp, {300, 200});
    button->setEnabled(false);
    simulate::click(window, simulate::centerOf(*button));
    button->performClick();
    EXPECT_EQ(target->senders.size(), 1u);

    target.reset();
    button->setEnabled(true);
    EXPECT_FALSE(button->sendAction());
}

TEST(Windows, LevelsOrderTheScreenAndOnlyWindowsThatMayBecomeKeyDo) {
    auto normal = makeWindow();
    auto floating = std::make_shared<NSWindow>(CGRect{0, 0, 10, 10}, NSWindowStyleMaskBorderless,
                                               NSBackingStoreType::Buffered, false);
    floating->setLevel(NSFloatingWindowLevel);
    normal->makeKeyAndOrderFront(nullptr);
    floating->makeKeyAndOrderFront(nullptr);
    auto later = makeWindow();
    later->orderFront(nullptr);

    EXPECT_EQ(NSWindow::orderedWindows(), (std::vector<std::shared_ptr<NSWindow>>{floating, later, normal}));
    EXPECT_TRUE(normal->isKeyWindow());
    floating->close();
    normal->close();
    EXPECT_EQ(NSWindow::keyWindow(), nullptr);
    EXPECT_EQ(NSWindow::orderedWindows(), (std::vector<std::shared_ptr<NSWindow>>{later}));
    later->close();
}

TEST(Windows, TitledFramesAddTheTitleBarAndTheContentViewFollowsTheFrame) {
    auto window = makeWindow({100, 100, 400, 300});
    EXPECT_EQ(window->frame(), (CGRect{100, 100, 400, 300 + NSWindow::kTitleBarHeight}));
    window->setFrame({0, 0, 500, 228}, false);
    EXPECT_EQ(window->contentView()->frame(), (CGRect{0, 0, 500, 200}));
    EXPECT_EQ(window->convertPointToScreen({5, 5}), (CGPoint{5, 5}));
}
