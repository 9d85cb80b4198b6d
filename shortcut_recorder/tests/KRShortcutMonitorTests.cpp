#include <gtest/gtest.h>

#include <future>

#include "platform/foundation/Exception.h"
#include "shortcut_recorder/tests/ActionFixture.h"
#include "testing/Eventually.h"

namespace {

constexpr uint16_t kKeyS = 1;
constexpr uint16_t kKeyT = 17;

// Records the hooks as "will add S" etc., with S the shortcut's description.
class HookedMonitor : public KRShortcutMonitor {
  public:
    std::vector<std::string> hooks;

  protected:
    void willAddShortcut(const std::shared_ptr<KRShortcut>& s) override {
        hooks.push_back("will add " + s->description());
    }
    void didAddShortcut(const std::shared_ptr<KRShortcut>& s) override {
        hooks.push_back("did add " + s->description());
    }
    void willRemoveShortcut(const std::shared_ptr<KRShortcut>& s) override {
        hooks.push_back("will remove " + s->description());
    }
    void didRemoveShortcut(const std::shared_ptr<KRShortcut>& s) override {
        hooks.push_back("did remove " + s->description());
    }
};

class ShortcutMonitors : public ActionTest {
  protected:
    std::shared_ptr<KRShortcutAction> action(uint16_t keyCode, uint64_t flags = kCommand) {
        return KRShortcutAction::shortcutActionWithShortcut(shortcut(keyCode, flags),
                                                            [](KRShortcutAction&) { return true; });
    }
    HookedMonitor monitor;
};

TEST_F(ShortcutMonitors, OneActionForBothKindsIsOneShortcut) {
    auto a = action(kKeyS);
    monitor.addAction(a, KRKeyEventKindDown);
    monitor.addAction(a, KRKeyEventKindUp);
    EXPECT_EQ(monitor.shortcuts().size(), 1u);
    EXPECT_EQ(monitor.actions().size(), 1u);
    EXPECT_EQ(monitor.hooks, (std::vector<std::string>{"will add ⌘S", "did add ⌘S"}));

    monitor.hooks.clear();
    monitor.removeAction(a, KRKeyEventKindDown);
    EXPECT_TRUE(monitor.hooks.empty());
    EXPECT_EQ(monitor.enabledActionsForShortcut(*a->shortcut(), KRKeyEventKindUp).size(), 1u);
    monitor.removeAction(a, KRKeyEventKindUp);
    EXPECT_EQ(monitor.hooks, (std::vector<std::string>{"will remove ⌘S", "did remove ⌘S"}));
    EXPECT_TRUE(monitor.actions().empty());
    EXPECT_TRUE(monitor.shortcuts().empty());
}

TEST_F(ShortcutMonitors, DisablingAndEnablingUnfileAndRefileBothKinds) {
    auto a = action(kKeyS);
    monitor.addAction(a, KRKeyEventKindDown);
    monitor.addAction(a, KRKeyEventKindUp);
    monitor.hooks.clear();
    a->setEnabled(false);
    EXPECT_EQ(monitor.hooks, (std::vector<std::string>{"will remove ⌘S", "did remove ⌘S"}));
    EXPECT_TRUE(monitor.shortcuts().empty());
    EXPECT_EQ(monitor.actions().size(), 1u);
    monitor.hooks.clear();
    a->setEnabled(true);
    EXPECT_EQ(monitor.hooks, (std::vector<std::string>{"will add ⌘S", "did add ⌘S"}));
    EXPECT_EQ(monitor.enabledActionsForShortcut(*shortcut(kKeyS, kCommand), KRKeyEventKindDown).size(), 1u);
    EXPECT_EQ(monitor.enabledActionsForShortcut(*shortcut(kKeyS, kCommand), KRKeyEventKindUp).size(), 1u);
}

TEST_F(ShortcutMonitors, TheLastFiledIsTriedFirstAndAddingAgainMovesItThere) {
    auto a = action(kKeyS), b = action(kKeyS);
    monitor.addAction(a, KRKeyEventKindDown);
    monitor.addAction(b, KRKeyEventKindDown);
    auto order = [&] {
        return monitor.enabledActionsForShortcut(*shortcut(kKeyS, kCommand), KRKeyEventKindDown);
    };
    EXPECT_EQ(order(), (std::vector<std::shared_ptr<KRShortcutAction>>{a, b}));
    monitor.addAction(a, KRKeyEventKindDown);
    EXPECT_EQ(order(), (std::vector<std::shared_ptr<KRShortcutAction>>{b, a}));
    EXPECT_EQ(monitor.shortcuts().size(), 1u);
    EXPECT_EQ(monitor.actionsForKeyEvent(KRKeyEventKindDown).size(), 2u);
}

TEST_F(ShortcutMonitors, ChangingAShortcutRefilesInsideOnePairOfNotices) {
    auto a = action(kKeyS);
    monitor.addAction(a, KRKeyEventKindDown);
    monitor.hooks.clear();
    NoticeRecorder recorder;
    recorder.observe(monitor, {"shortcuts"});
    a->setShortcut(shortcut(kKeyT, kCommand));
    EXPECT_EQ(monitor.hooks,
              (std::vector<std::string>{"will remove ⌘S", "did remove ⌘S", "will add ⌘T", "did add ⌘T"}));
    EXPECT_EQ(recorder.notices, (std::vector<std::string>{"prior shortcuts", "shortcuts"}));
    ASSERT_EQ(monitor.shortcuts().size(), 1u);
    EXPECT_TRUE(monitor.shortcuts()[0]->isEqual(shortcut(kKeyT, kCommand).get()));
    EXPECT_TRUE(monitor.enabledActionsForShortcut(*shortcut(kKeyS, kCommand), KRKeyEventKindDown).empty());
}

TEST_F(ShortcutMonitors, AnActionWithoutShortcutCountsOnlyAsAnAction) {
    auto a = KRShortcutAction::create();
    monitor.addAction(a, KRKeyEventKindDown);
    EXPECT_EQ(monitor.actions().size(), 1u);
    EXPECT_TRUE(monitor.shortcuts().empty());
    EXPECT_TRUE(monitor.hooks.empty());
    a->setShortcut(shortcut(kKeyS, kShift));
    EXPECT_EQ(monitor.shortcuts().size(), 1u);
    EXPECT_TRUE(monitor.enabledActionsForShortcut(*shortcut(kKeyT, 0), KRKeyEventKindDown).empty());
}

TEST_F(ShortcutMonitors, KeyEquivalentsDescriptionsAndRemovingEverything) {
    EXPECT_EQ(monitor.debugDescription(), "No Shortcuts");
    EXPECT_EQ(monitor.addAction("copy:", "", 0), nullptr);
    EXPECT_TRUE(monitor.actions().empty());
    auto copy = monitor.addAction("copy:", "⌘C", 4);
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isEnabled());
    EXPECT_EQ(copy->tag(), 4);
    EXPECT_EQ(copy->action(), "copy:");
    EXPECT_EQ(copy->target(), std::static_pointer_cast<NSObject>(NSApplication::sharedApplication()));
    EXPECT_EQ(monitor.actionsForKeyEvent(KRKeyEventKindDown),
              std::vector<std::shared_ptr<KRShortcutAction>>{copy});
    const std::string description = monitor.debugDescription();
    EXPECT_EQ(description.rfind("Key Down Shortcuts: {\n\t⌘C: {\n\t\t<KRShortcutAction: ", 0), 0u)
        << description;
    EXPECT_EQ(description.substr(description.size() - 5), "\t}\n}\n");

    monitor.addAction(action(kKeyS), KRKeyEventKindUp);
    monitor.hooks.clear();
    monitor.removeAllActions();
    EXPECT_EQ(monitor.hooks, (std::vector<std::string>{"will remove ⌘C", "will remove ⌘S", "did remove ⌘S",
                                                       "did remove ⌘C"}));
    EXPECT_EQ(monitor.debugDescription(), "No Shortcuts");
    copy->setEnabled(false);  // no longer observed: nothing happens
    EXPECT_EQ(monitor.hooks.size(), 4u);
}

TEST_F(ShortcutMonitors, OtherKindsAndAThirdAdditionRaise) {
    auto a = action(kKeyS);
    const std::function<void()> calls[] = {
        [&] { monitor.addAction(a, 12); },
        [&] { monitor.removeAction(a, 12); },
        [&] { monitor.actionsForKeyEvent(12); },
        [&] { monitor.enabledActionsForShortcut(*a->shortcut(), 12); },
    };
    for (const auto& call : calls) {
        try {
            call();
            ADD_FAILURE() << "kind 12 was accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.name(), NSInvalidArgumentException);
            EXPECT_EQ(e.reason(), "Unexpected keyboard event type 12");
        }
    }
    monitor.addAction(a, KRKeyEventKindDown);
    monitor.addAction(a, KRKeyEventKindUp);
    try {
        monitor.addAction(a, KRKeyEventKindDown);
        ADD_FAILURE() << "a third addition was accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), NSInternalInconsistencyException);
        EXPECT_EQ(e.reason(), "Action is added too many times");
    }
    EXPECT_EQ(monitor.shortcuts().size(), 1u);
}

// Threads enabling and disabling their actions while another files and removes others: every
// shortcut's filings stay counted right, and a consistency check never fires.
TEST_F(ShortcutMonitors, ThreadsEnablingActionsWhileOthersAreFiledKeepTheCounts) {
    KRShortcutMonitor plain;
    std::vector<std::vector<std::shared_ptr<KRShortcutAction>>> toggled(4);
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 4; ++i) {
            toggled[t].push_back(action(uint16_t(i), kCommand));
            plain.addAction(toggled[t].back(), i % 2 ? KRKeyEventKindDown : KRKeyEventKindUp);
        }
    }
    std::vector<std::future<void>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [&, t] {
            for (int round = 0; round < 200; ++round)
                for (const auto& a : toggled[t]) a->setEnabled(round % 2 == 1);
        }));
    }
    workers.push_back(std::async(std::launch::async, [&] {
        for (int round = 0; round < 200; ++round) {
            auto a = action(uint16_t(round % 4), kCommand);
            plain.addAction(a, KRKeyEventKindDown);
            plain.addAction(a, KRKeyEventKindUp);
            plain.removeAction(a);
        }
    }));
    for (auto& worker : workers) ASSERT_EQ(worker.wait_for(kTestPatience), std::future_status::ready);
    for (auto& worker : workers) worker.get();

    // Every toggled action ended enabled: each key has its four actions filed once.
    for (uint16_t key = 0; key < 4; ++key) {
        auto s = shortcut(key, kCommand);
        const size_t filed = plain.enabledActionsForShortcut(*s, KRKeyEventKindDown).size() +
                             plain.enabledActionsForShortcut(*s, KRKeyEventKindUp).size();
        EXPECT_EQ(filed, 4u) << key;
    }
    EXPECT_EQ(plain.shortcuts().size(), 4u);
    EXPECT_EQ(plain.actions().size(), 16u);
    for (const auto& actions : toggled)
        for (const auto& a : actions) a->setEnabled(false);
    EXPECT_TRUE(plain.shortcuts().empty());
}

}  // namespace
