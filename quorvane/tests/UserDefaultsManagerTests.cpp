#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "platform/foundation/UserDefaults.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/tests/DesktopFixture.h"
#include "testing/ChildProcess.h"

namespace UDM = UserDefaultsManager;

namespace {
std::shared_ptr<UserDefaults> defaults() {
    return UserDefaults::standardUserDefaults();
}

std::vector<CGRect> framesOf(const std::vector<SimulatedScreen>& screens) {
    attachScreens(screens);
    return UDM::currentScreenFrames();
}

class SettingsStore : public DesktopTest {};
}  // namespace

TEST_F(SettingsStore, EmptyDefaultsReadNothingAndWriteNothing) {
    attachScreens({kScreenA});
    EXPECT_TRUE(UDM::loadWorkspaces().empty());
    EXPECT_TRUE(UDM::currentGroups().empty());
    UDM::replaceCurrentGroups({std::make_shared<Group>("A", nullptr, Coordinates{0, 0, 1, 1})});
    EXPECT_FALSE(defaults()->objectForKey(UDM::kWorkspaceKey));
}

TEST_F(SettingsStore, AddGroupAppendsToTheCurrentWorkspace) {
    attachScreens({kScreenA});
    UDM::addWorkspace(UDM::currentScreenFrames());
    EXPECT_TRUE(UDM::currentGroups().empty());
    UDM::addGroup("Left", nullptr, 0, 25, 720, 900);
    UDM::addGroup("Right", MASShortcut::shortcutWithKeyCode(19, NSEventModifierFlagCommand), 720, 25, 1440,
                  900);

    auto workspaces = UDM::loadWorkspaces();
    ASSERT_EQ(workspaces.size(), 1u);
    auto groups = workspaces[0]->groups();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0]->name(), "Left");
    EXPECT_EQ(groups[0]->size(), "all");
    EXPECT_EQ(groups[1]->coordinates(), (Coordinates{720, 25, 1440, 900}));
    EXPECT_EQ(groups[1]->shortcut()->keyCode(), 19);
}

TEST_F(SettingsStore, AddGroupWithoutMatchingWorkspaceCreatesIt) {
    attachScreens({kScreenA});
    auto group = UDM::addGroup("Left", nullptr, 0, 25, 720, 900);
    auto groups = UDM::currentGroups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name(), group->name());
    EXPECT_EQ(UDM::loadWorkspaces().size(), 1u);
}

TEST_F(SettingsStore, WorkspacesMatchByFramesInOrder) {
    auto framesA = framesOf({kScreenA});
    auto framesBA = framesOf({kScreenB, kScreenA});
    UDM::addWorkspace(framesA);
    UDM::addWorkspace(framesBA);

    attachScreens({kScreenB, kScreenA});
    UDM::addGroup("Second", nullptr, 0, 0, 100, 100);
    auto workspaces = UDM::loadWorkspaces();
    EXPECT_TRUE(workspaces[0]->groups().empty());
    ASSERT_EQ(workspaces[1]->groups().size(), 1u);

    attachScreens({kScreenA, kScreenB});
    EXPECT_TRUE(UDM::currentGroups().empty());
    UDM::replaceCurrentGroups({});
    EXPECT_EQ(UDM::loadWorkspaces()[1]->groups().size(), 1u);

    attachScreens({});
    EXPECT_TRUE(UDM::currentGroups().empty());
    UDM::addWorkspace({});
    UDM::addGroup("Headless", nullptr, 0, 0, 1, 1);
    EXPECT_EQ(UDM::currentGroups().size(), 1u);
}

TEST_F(SettingsStore, OnlyTheFirstOfTwoEqualWorkspacesIsUsed) {
    attachScreens({kScreenA});
    UDM::addWorkspace(UDM::currentScreenFrames());
    UDM::addWorkspace(UDM::currentScreenFrames());
    UDM::addGroup("One", nullptr, 0, 0, 1, 1);
    UDM::replaceCurrentGroups({std::make_shared<Group>("Two", nullptr, Coordinates{0, 0, 2, 2})});
    auto workspaces = UDM::loadWorkspaces();
    ASSERT_EQ(workspaces.size(), 2u);
    ASSERT_EQ(workspaces[0]->groups().size(), 1u);
    EXPECT_EQ(workspaces[0]->groups()[0]->name(), "Two");
    EXPECT_TRUE(workspaces[1]->groups().empty());
}

TEST_F(SettingsStore, UnreadableArchiveIsKeptAsideAndReplacedByTheNextSave) {
    auto archive = [](Archived root) { return *KeyedArchiver::archivedDataWithRootObject(root, false); };
    auto workspace = std::make_shared<Workspace>(std::vector<CGRect>{});
    struct Case {
        const char* what;
        Data bytes;
    } cases[] = {
        {"garbage", dataFromString("not an archive at all")},
        {"truncated",
         [&] {
             auto bytes = archive(Archived(std::vector<std::shared_ptr<Workspace>>{workspace}));
             bytes.resize(bytes.size() / 2);
             return bytes;
         }()},
        {"root not a list", archive(Archived(workspace))},
        {"list of strings", archive(Archived(Value(Value::Array{"a"})))},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        attachScreens({kScreenA});
        defaults()->removeObjectForKey(UDM::kWorkspaceBackupKey);
        defaults()->setObject(Value(c.bytes), UDM::kWorkspaceKey);

        EXPECT_TRUE(UDM::loadWorkspaces().empty());
        EXPECT_TRUE(UDM::currentGroups().empty());
        EXPECT_EQ(UDM::storedData(UDM::kWorkspaceBackupKey), c.bytes);

        UDM::addGroup("Fresh", nullptr, 0, 0, 1, 1);
        ASSERT_EQ(UDM::currentGroups().size(), 1u);
        EXPECT_EQ(UDM::storedData(UDM::kWorkspaceBackupKey), c.bytes);
    }
}

TEST_F(SettingsStore, ResizeModifier) {
    EXPECT_FALSE(UDM::storedResizeModifier());
    UDM::saveResizeModifier(NSEventModifierFlagShift);
    EXPECT_EQ(UDM::storedResizeModifier(), 0x20000u);
    UDM::saveResizeModifier(NSEventModifierFlagControl);
    EXPECT_EQ(UDM::storedResizeModifier(), 0x40000u);
    UDM::saveResizeModifier(std::nullopt);
    EXPECT_FALSE(UDM::storedResizeModifier());
    EXPECT_TRUE(UDM::storedData(UDM::kResizeKey));

    for (Value junk : {Value(dataFromString("junk")), Value("0x20000"), Value(131072)}) {
        defaults()->setObject(junk, UDM::kResizeKey);
        EXPECT_FALSE(UDM::storedResizeModifier());
    }
}

// Runs only as the second process of StoredSpacesSurviveTheProcess, in the home it inherits.
TEST(SettingsStoreChild, StoresASpaceAndTheModifier) {
    if (!std::getenv("QUORVANE_SETTINGS_CHILD")) GTEST_SKIP() << "runs as a child process only";
    // The agent's bundle names the settings suite, as in the parent.
    Bundle::setMainBundle(agentBundle());
    attachScreens({kScreenA, kScreenB});
    UDM::addGroup("Left", MASShortcut::shortcutWithKeyCode(18, 0x180000), 0, 25, 720, 900);
    UDM::saveResizeModifier(NSEventModifierFlagControl);
}

TEST_F(SettingsStore, StoredSpacesSurviveTheProcess) {
    attachScreens({kScreenA, kScreenB});
    const pid_t child = spawnThisTestBinary("SettingsStoreChild.StoresASpaceAndTheModifier",
                                            {.environment = {"QUORVANE_SETTINGS_CHILD=1"}, .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    UserDefaults::resetStandardUserDefaults();
    auto groups = UDM::currentGroups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name(), "Left");
    EXPECT_EQ(*groups[0]->shortcut(), MASShortcut(18, 0x180000));
    EXPECT_EQ(UDM::storedResizeModifier(), NSEventModifierFlagControl);
}
