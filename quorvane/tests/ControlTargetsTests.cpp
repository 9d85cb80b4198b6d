#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "login_item/LaunchAtLogin.h"
#include "quorvane/AdvancedViewController.h"
#include "quorvane/CreateSpaceView.h"
#include "quorvane/SpaceShortcutView.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {

using OwnedControl = std::pair<std::shared_ptr<NSObject>, std::shared_ptr<NSControl>>;

class ControlTargets : public DesktopTest {
  protected:
    ControlTargets() { desktop.plugScreen(kScreenA); }
    ~ControlTargets() override { LaunchAtLogin::resetSharedInstances(); }
};

// A control wired to the object that owns it holds that object weakly: the owner is its target once
// shared, and a control that outlives its owner clicks into nothing.
TEST_F(ControlTargets, OwnersAreWeakTargetsOnceShared) {
    struct Case {
        const char* name;
        std::function<OwnedControl()> make;
    };
    const Case cases[] = {
        {"shortcut field",
         [] {
             auto field = ShortcutView::make();
             return OwnedControl{field, field->clearButton()};
         }},
        {"space shortcut field",
         [] {
             auto field = SpaceShortcutView::make();
             return OwnedControl{field, field->clearButton()};
         }},
        {"create-space overlay",
         [] {
             auto overlay = CreateSpaceView::make();
             return OwnedControl{overlay, overlay->floatingMenu()->doneButton()};
         }},
        {"general pane",
         [] {
             auto pane = std::make_shared<AdvancedViewController>();
             pane->view();
             return OwnedControl{pane, pane->shortcutSegmentedControl()};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto [owner, control] = c.make();
        EXPECT_EQ(control->target(), owner);
        owner.reset();
        EXPECT_EQ(control->target(), nullptr);
        EXPECT_FALSE(control->sendAction());
    }
}

}  // namespace
