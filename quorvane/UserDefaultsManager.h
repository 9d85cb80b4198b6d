#pragma once
// The agent's own settings in the standard user defaults: all workspaces as one keyed archive, the
// resize modifier as a property list, and the first-launch flag. Nothing is held in memory: every
// operation reads the stored list afresh and writes the whole list back when it changes it.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Geometry.h"
#include "quorvane/Group.h"
#include "quorvane/Workspace.h"

namespace UserDefaultsManager {
inline constexpr const char* kWorkspaceKey = "workspaceKey";
// Where an archive that cannot be read is kept, before anything overwrites it.
inline constexpr const char* kWorkspaceBackupKey = "workspaceKey.corrupt";
inline constexpr const char* kResizeKey = "resizeShortcutKey";
inline constexpr const char* kFirstLaunchKey = "firstLaunch";

// The value under `key` when it is data.
std::optional<Data> storedData(const std::string& key);
// The frame of every attached screen, in the platform's order.
std::vector<CGRect> currentScreenFrames();

// The stored workspaces in the order they were added. An archive that cannot be read is copied
// to kWorkspaceBackupKey and reads as no workspaces.
std::vector<std::shared_ptr<Workspace>> loadWorkspaces();
// A list that cannot be archived leaves the stored one as it was.
void saveWorkspaces(const std::vector<std::shared_ptr<Workspace>>& workspaces);
void addWorkspace(const std::vector<CGRect>& screens);

// The groups of the first stored workspace that matches the current screens.
std::vector<std::shared_ptr<Group>> currentGroups();
// Stores nothing when no workspace matches the current screens.
void replaceCurrentGroups(std::vector<std::shared_ptr<Group>> groups);
// Appends a new space (size "all") to the current workspace, creating that workspace first when
// no stored one matches the current screens, so the space is always saved.
std::shared_ptr<Group> addGroup(std::string name, std::shared_ptr<MASShortcut> shortcut, CGFloat x1,
                                CGFloat y1, CGFloat x2, CGFloat y2);

void saveResizeModifier(std::optional<NSEventModifierFlags> modifier);
// None when nothing readable with a flag set is stored.
std::optional<NSEventModifierFlags> storedResizeModifier();
}  // namespace UserDefaultsManager
