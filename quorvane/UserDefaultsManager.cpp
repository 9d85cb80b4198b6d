#include "quorvane/UserDefaultsManager.h"

#include "platform/appkit/NSScreen.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "quorvane/ModifierFlag.h"

namespace UserDefaultsManager {
namespace {
std::shared_ptr<UserDefaults> defaults() {
    return UserDefaults::standardUserDefaults();
}

const ArchiveClassList& workspaceClasses() {
    static const ArchiveClassList classes{Workspace::archiveClass(), Group::archiveClass(),
                                          MASShortcut::archiveClass()};
    return classes;
}

// The stored list was written by this program alone; anything else is kept aside for inspection
// instead of stopping the agent at every launch.
void keepUnreadableArchive(const Data& data) {
    if (storedData(kWorkspaceBackupKey) != data) defaults()->setObject(Value(data), kWorkspaceBackupKey);
}

std::shared_ptr<Workspace> currentWorkspace(const std::vector<std::shared_ptr<Workspace>>& workspaces) {
    auto frames = currentScreenFrames();
    for (const auto& workspace : workspaces)
        if (workspace->matches(frames)) return workspace;
    return nullptr;
}
}  // namespace

std::optional<Data> storedData(const std::string& key) {
    auto value = defaults()->objectForKey(key);
    if (!value || !value->isData()) return std::nullopt;
    return *value->asData();
}

std::vector<CGRect> currentScreenFrames() {
    std::vector<CGRect> frames;
    for (const auto& screen : NSScreen::screens()) frames.push_back(screen->frame());
    return frames;
}

std::vector<std::shared_ptr<Workspace>> loadWorkspaces() {
    auto data = storedData(kWorkspaceKey);
    if (!data) return {};
    UnarchiveOptions options;
    options.requiresSecureCoding = false;
    auto root = KeyedUnarchiver::unarchivedObject(*data, workspaceClasses(), nullptr, options);
    auto workspaces = root ? root->arrayOf<Workspace>() : std::nullopt;
    if (!workspaces) {
        keepUnreadableArchive(*data);
        return {};
    }
    return *workspaces;
}

void saveWorkspaces(const std::vector<std::shared_ptr<Workspace>>& workspaces) {
    auto data = KeyedArchiver::archivedDataWithRootObject(Archived(workspaces), false);
    if (data) defaults()->setObject(Value(std::move(*data)), kWorkspaceKey);
}

void addWorkspace(const std::vector<CGRect>& screens) {
    auto workspaces = loadWorkspaces();
    workspaces.push_back(std::make_shared<Workspace>(screens));
    saveWorkspaces(workspaces);
}

std::vector<std::shared_ptr<Group>> currentGroups() {
    auto workspace = currentWorkspace(loadWorkspaces());
    return workspace ? workspace->groups() : std::vector<std::shared_ptr<Group>>{};
}

void replaceCurrentGroups(std::vector<std::shared_ptr<Group>> groups) {
    auto workspaces = loadWorkspaces();
    auto workspace = currentWorkspace(workspaces);
    if (!workspace) return;
    workspace->setGroups(std::move(groups));
    saveWorkspaces(workspaces);
}

std::shared_ptr<Group> addGroup(std::string name, std::shared_ptr<MASShortcut> shortcut, CGFloat x1,
                                CGFloat y1, CGFloat x2, CGFloat y2) {
    auto group = std::make_shared<Group>(std::move(name), std::move(shortcut), Coordinates{x1, y1, x2, y2});
    auto workspaces = loadWorkspaces();
    auto workspace = currentWorkspace(workspaces);
    if (!workspace) {
        workspace = std::make_shared<Workspace>(currentScreenFrames());
        workspaces.push_back(workspace);
    }
    auto groups = workspace->groups();
    groups.push_back(group);
    workspace->setGroups(std::move(groups));
    saveWorkspaces(workspaces);
    return group;
}

void saveResizeModifier(std::optional<NSEventModifierFlags> modifier) {
    auto data = PropertyListEncoder().encode(ModifierFlag(modifier));
    if (data) defaults()->setObject(Value(std::move(*data)), kResizeKey);
}

std::optional<NSEventModifierFlags> storedResizeModifier() {
    auto data = storedData(kResizeKey);
    if (!data) return std::nullopt;
    auto flag = PropertyListDecoder().decode<ModifierFlag>(*data);
    return flag ? flag->key() : std::nullopt;
}
}  // namespace UserDefaultsManager
