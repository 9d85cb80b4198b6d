#pragma once
// Keeps the global hotkeys in step with the screens and the stored spaces: the hotkeys of the
// workspace matching the current screens are registered at launch and after every screen change
// (a new arrangement gets an empty workspace of its own), and the preferences add and remove
// single hotkeys through the operations below.
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "quorvane/Group.h"

class WorkspaceManager : public std::enable_shared_from_this<WorkspaceManager> {
  public:
    // Posted with no object after every change of the screens.
    static constexpr const char* kUpdateWorkspaceNotification = "updateWS";

    static std::shared_ptr<WorkspaceManager> shared();
    // Drops the shared instance and its observers (tests start each launch afresh).
    static void resetSharedInstance();

    std::vector<CGRect> currentScreenFrames() const;
    // Installs the screen-change observers; once, at launch.
    void observeScreenChanges();
    void initialWorkspaceSetup() { registerWorkspaceShortcuts(); }
    void registerWorkspaceShortcuts();

    void registerSpaceShortcut(const std::shared_ptr<Group>& group);
    // The resize hotkey is the shortcut with the stored resize modifier added. There is none
    // without a stored modifier, and none when the shortcut already holds the modifier: it would
    // be the space's own hotkey, which unregistering it would then remove.
    void registerResizeShortcut(const std::shared_ptr<MASShortcut>& shortcut, const Coordinates& coordinates);
    void unregisterResizeShortcut(const std::shared_ptr<MASShortcut>& shortcut);
    void registerResizeShortcuts(const std::vector<std::shared_ptr<Group>>& groups);
    void unregisterResizeShortcuts(const std::vector<std::shared_ptr<Group>>& groups);

    // The space hotkey's action: reads the group's coordinates and size at each press.
    void activateSpace(const std::shared_ptr<Group>& group);
    // The resize hotkey's action, on the rectangle taken when it was registered.
    void resizeIntoSpace(const Coordinates& coordinates);

  private:
    std::vector<NotificationCenter::Token> observers_;
};
