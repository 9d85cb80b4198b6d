#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "platform/foundation/Exception.h"
#include "shortcut_recorder/tests/ActionFixture.h"

namespace {

constexpr uint16_t kKeyA = 0;
constexpr uint16_t kKeyF = 3;

// Each test has its own home and its own system bindings file.
class LocalShortcutMonitors : public ActionTest {
  protected:
    LocalShortcutMonitors() {
        const char* base = std::getenv("QUORVANE_TEST_TMP");
        root = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().c_str()) /
               ("local-monitor-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(root / "home" / "Library" / "KeyBindings");
        std::filesystem::create_directories(root / "appkit");
        environment.set("HOME", (root / "home").c_str());
        environment.set("QUORVANE_APPKIT_RESOURCES", (root / "appkit").c_str());
        writeSystem("{ \"^f\" = \"moveForward:\"; \"@a\" = \"selectAll:\"; }");
    }
    ~LocalShortcutMonitors() override { std::filesystem::remove_all(root); }

    void writeSystem(const std::string& text) {
        std::ofstream(root / "appkit" / "StandardKeyBinding.dict") << text;
    }
    void writeUser(const std::string& text) {
        std::ofstream(root / "home" / "Library" / "KeyBindings" / "DefaultKeyBinding.dict") << text;
    }
    static std::shared_ptr<NSEvent> keyDown(uint16_t keyCode, uint64_t flags) {
        return NSEvent::keyEvent(NSEventType::KeyDown, keyCode, "", flags, nullptr);
    }
    static std::vector<std::string> selectors(const std::vector<std::shared_ptr<KRShortcutAction>>& actions) {
        std::vector<std::string> out;
        for (const auto& a : actions) out.push_back(a->action());
        return out;
    }

    std::filesystem::path root;
};

TEST_F(LocalShortcutMonitors, FactoriesFillTheirTables) {
    struct Case {
        std::shared_ptr<KRLocalShortcutMonitor> monitor;
        size_t actions;
    } cases[] = {
        {KRLocalShortcutMonitor::mainMenuShortcuts(), 47}, {KRLocalShortcutMonitor::clipboardShortcuts(), 6},
        {KRLocalShortcutMonitor::windowShortcuts(), 3},    {KRLocalShortcutMonitor::documentShortcuts(), 7},
        {KRLocalShortcutMonitor::appShortcuts(), 3},
    };
    for (const auto& c : cases) EXPECT_EQ(c.monitor->actions().size(), c.actions);

    auto menu = KRLocalShortcutMonitor::mainMenuShortcuts();
    auto tagsOf = [&](const std::string& selector) {
        std::vector<int64_t> tags;
        for (const auto& a : menu->actionsForKeyEvent(KRKeyEventKindDown))
            if (a->action() == selector) tags.push_back(a->tag());
        return tags;
    };
    EXPECT_EQ(tagsOf("performTextFinderAction:"), (std::vector<int64_t>{1, 12, 2, 3, 7}));
    EXPECT_EQ(tagsOf("addFontTrait:"), (std::vector<int64_t>{2, 1}));
    EXPECT_EQ(tagsOf("modifyFont:"), (std::vector<int64_t>{3, 3, 4, 4}));

    // Save As differs between the document table and the main menu.
    auto document = KRLocalShortcutMonitor::documentShortcuts();
    EXPECT_EQ(
        selectors(document->enabledActionsForShortcut(*shortcut(1, kShift | kCommand), KRKeyEventKindDown)),
        std::vector<std::string>{"duplicateDocument:"});
    EXPECT_EQ(selectors(menu->enabledActionsForShortcut(*shortcut(1, kShift | kCommand), KRKeyEventKindDown)),
              std::vector<std::string>{"saveDocumentAs:"});
}

TEST_F(LocalShortcutMonitors, StandardShortcutsAddOneActionPerBoundSelector) {
    writeUser("{ \"^y\" = (\"first:\", \"second:\", \"third:\"); }");
    auto standard = KRLocalShortcutMonitor::standardShortcuts();
    EXPECT_EQ(standard->actions().size(), 61u + 2u + 3u);
    EXPECT_EQ(selectors(standard->enabledActionsForShortcut(*shortcut(16, kControl), KRKeyEventKindDown)),
              (std::vector<std::string>{"yank:", "first:", "second:", "third:"}));

    // The binding for ⌘A is tried first; a target that cannot answer it gets the table's action.
    auto both = std::make_shared<ActionTarget>();
    struct SelectAllOnly : NSObject {
        SelectAllOnly() {
            registerMethod("selectAll:", {"v", 3}, [this](NSObject*) {
                ++calls;
                return true;
            });
        }
        int calls = 0;
    };
    struct Everything : SelectAllOnly {
        Everything() {
            registerMethod("selectAll:", {"c", 3}, [this](NSObject*) {
                ++calls;
                return false;
            });
        }
    };
    SelectAllOnly selectAll;
    EXPECT_TRUE(standard->handleEvent(*keyDown(kKeyA, kCommand), &selectAll));
    EXPECT_EQ(selectAll.calls, 1);
    Everything refusing;
    EXPECT_FALSE(standard->handleEvent(*keyDown(kKeyA, kCommand), &refusing));
    EXPECT_EQ(refusing.calls, 2);  // the binding's action, then the table's
}

TEST_F(LocalShortcutMonitors, ANoopBindingLeavesTheKeyDoingNothing) {
    writeUser("/* mine */ { \"^f\" = \"noop:\"; \"^b\" = \"\"; \"^x\" = { \"^s\" = \"save:\"; }; }");
    auto standard = KRLocalShortcutMonitor::standardShortcuts();
    auto controlF = shortcut(kKeyF, kControl);
    EXPECT_TRUE(standard->enabledActionsForShortcut(*controlF, KRKeyEventKindDown).empty());
    for (const auto& s : standard->shortcuts()) EXPECT_FALSE(s->isEqual(controlF.get())) << s->description();
    ActionTarget target;
    EXPECT_FALSE(standard->handleEvent(*keyDown(kKeyF, kControl), &target));
    EXPECT_TRUE(target.calls.empty());

    EXPECT_EQ(standard->actions().size(), 61u + 1u - 2u);  // ^f and ^b of the table and the system are out

    // The removed table action is no longer the monitor's: disabling it or changing its shortcut
    // later leaves the monitor consistent.
    auto monitor = std::make_shared<KRLocalShortcutMonitor>();
    auto tableAction = monitor->addAction("moveForward:", "⌃F", 0);
    monitor->updateWithCocoaTextKeyBindings();
    EXPECT_TRUE(monitor->enabledActionsForShortcut(*controlF, KRKeyEventKindDown).empty());
    EXPECT_NO_THROW(tableAction->setEnabled(false));
    EXPECT_NO_THROW(tableAction->setEnabled(true));
    EXPECT_NO_THROW(tableAction->setShortcut(shortcut(kKeyA, kOption)));
    EXPECT_TRUE(monitor->enabledActionsForShortcut(*shortcut(kKeyA, kOption), KRKeyEventKindDown).empty());
    EXPECT_TRUE(trace.count("#Error unable to read user key bindings") == 0);
}

TEST_F(LocalShortcutMonitors, MissingFilesAreLoggedAndReadAsEmpty) {
    auto user = KRLocalShortcutMonitor::parseUserKeyBindings();
    EXPECT_TRUE(user.empty());
    auto lines = trace.lines();
    EXPECT_EQ(lines.size(), 1u);  // the debug line only
    auto line = std::find_if(lines.begin(), lines.end(), [](const TraceLine& l) {
        return l.message == "#Error unable to read user key bindings";
    });
    ASSERT_NE(line, lines.end());
    EXPECT_EQ(line->level, TraceLevel::Debug);
    EXPECT_NE(line->payload.asDictionary()->find("error"), nullptr);

    writeSystem("{ unbalanced");
    EXPECT_TRUE(KRLocalShortcutMonitor::parseSystemKeyBindings().empty());
    EXPECT_EQ(trace.count("#Error unable to read system key bindings"), 1u);
    EXPECT_EQ(KRLocalShortcutMonitor::standardShortcuts()->actions().size(), 61u);
}

TEST_F(LocalShortcutMonitors, TheShippedSystemBindingsRead) {
    environment.set("QUORVANE_APPKIT_RESOURCES", nullptr);
    auto system = KRLocalShortcutMonitor::parseSystemKeyBindings();
    EXPECT_GT(system.size(), 10u);
    EXPECT_EQ(trace.count("#Error unable to read system key bindings"), 0u);
    EXPECT_GT(KRLocalShortcutMonitor::standardShortcuts()->actions().size(), 61u + 10u);
}

TEST_F(LocalShortcutMonitors, OnlyKeyEventsAreHandled) {
    auto monitor = KRLocalShortcutMonitor::appShortcuts();
    auto click = NSEvent::mouseEvent(NSEventType::LeftMouseDown, {0, 0}, nullptr);
    EXPECT_FALSE(monitor->handleEvent(*click, nullptr));
    EXPECT_EQ(trace.count("#Error Not a keyboard event"), 1u);
}

}  // namespace
