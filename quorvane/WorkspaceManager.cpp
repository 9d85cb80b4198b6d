#include "quorvane/WorkspaceManager.h"

#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "quorvane/UsageEvents.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/WindowActions.h"
#include "quorvane/WindowFinder.h"

namespace {
constinit SharedInstance<WorkspaceManager> sharedManager;

std::shared_ptr<MASShortcut> resizeShortcut(const std::shared_ptr<MASShortcut>& shortcut) {
    if (!shortcut) return nullptr;
    auto modifier = UserDefaultsManager::storedResizeModifier();
    if (!modifier) return nullptr;
    NSEventModifierFlags flags = shortcut->modifierFlags() | *modifier;
    if (flags == shortcut->modifierFlags()) return nullptr;
    return MASShortcut::shortcutWithKeyCode(shortcut->keyCode(), flags);
}
}  // namespace

std::shared_ptr<WorkspaceManager> WorkspaceManager::shared() {
    return sharedManager.get();
}

void WorkspaceManager::resetSharedInstance() {
    sharedManager.reset();
}

std::vector<CGRect> WorkspaceManager::currentScreenFrames() const {
    return UserDefaultsManager::currentScreenFrames();
}

void WorkspaceManager::observeScreenChanges() {
    auto& center = NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(
        NSApplicationDidChangeScreenParametersNotification,
        [](const Notification&) {
            auto post = [] { NotificationCenter::defaultCenter().post(kUpdateWorkspaceNotification); };
            if (DispatchQueue::isMainThread()) {
                post();
            } else {
                DispatchQueue::main()->async(post);
            }
        },
        NSApplication::sharedApplication().get()));
    std::weak_ptr<WorkspaceManager> weak = weak_from_this();
    observers_.push_back(center.addObserver(kUpdateWorkspaceNotification, [weak](const Notification&) {
        if (auto self = weak.lock()) self->initialWorkspaceSetup();
    }));
}

void WorkspaceManager::registerWorkspaceShortcuts() {
    if (auto monitor = MASShortcutMonitor::sharedMonitor()) monitor->unregisterAllShortcuts();
    auto frames = currentScreenFrames();
    for (const auto& workspace : UserDefaultsManager::loadWorkspaces()) {
        if (!workspace->matches(frames)) continue;
        for (const auto& group : workspace->groups()) registerSpaceShortcut(group);
        registerResizeShortcuts(workspace->groups());
        return;
    }
    UserDefaultsManager::addWorkspace(frames);
}

void WorkspaceManager::registerSpaceShortcut(const std::shared_ptr<Group>& group) {
    auto monitor = MASShortcutMonitor::sharedMonitor();
    if (!group || !group->shortcut() || !monitor) return;
    std::weak_ptr<WorkspaceManager> weak = weak_from_this();
    monitor->registerShortcut(group->shortcut(), [weak, group] {
        if (auto self = weak.lock()) self->activateSpace(group);
    });
}

void WorkspaceManager::registerResizeShortcut(const std::shared_ptr<MASShortcut>& shortcut,
                                              const Coordinates& coordinates) {
    auto monitor = MASShortcutMonitor::sharedMonitor();
    auto resize = resizeShortcut(shortcut);
    if (!resize || !monitor) return;
    std::weak_ptr<WorkspaceManager> weak = weak_from_this();
    monitor->registerShortcut(resize, [weak, coordinates] {
        if (auto self = weak.lock()) self->resizeIntoSpace(coordinates);
    });
}

void WorkspaceManager::unregisterResizeShortcut(const std::shared_ptr<MASShortcut>& shortcut) {
    auto monitor = MASShortcutMonitor::sharedMonitor();
    if (auto resize = resizeShortcut(shortcut); resize && monitor) monitor->unregisterShortcut(resize);
}

void WorkspaceManager::registerResizeShortcuts(const std::vector<std::shared_ptr<Group>>& groups) {
    for (const auto& group : groups) registerResizeShortcut(group->shortcut(), group->coordinates());
}

void WorkspaceManager::unregisterResizeShortcuts(const std::vector<std::shared_ptr<Group>>& groups) {
    for (const auto& group : groups) unregisterResizeShortcut(group->shortcut());
}

void WorkspaceManager::activateSpace(const std::shared_ptr<Group>& group) {
    focusWindowInSpace(group->coordinates(), group->size(), minimumWindowHeight, looseTolerance);
}

void WorkspaceManager::resizeIntoSpace(const Coordinates& coordinates) {
    UsageEvents::record("resized");
    resizeFocusedWindowIntoSpace(coordinates, minimumWindowHeight);
}
