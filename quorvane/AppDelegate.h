#pragma once
// The application delegate: launches the agent (telemetry, first-launch defaults, hotkeys, the
// status item, the Accessibility prompt) and answers the status menu and the reopen request.
#include <memory>
#include <vector>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSMenu.h"
#include "platform/appkit/NSObject.h"
#include "platform/appkit/NSStatusBar.h"
#include "platform/appkit/NSWindow.h"

class SettingsPane;
class SettingsWindowController;

class AppDelegate : public NSObject, public NSApplicationDelegate {
  public:
    static constexpr const char* kIconImageName = "icon";
    static constexpr const char* kSpacesImageName = "menubar-spaces";

    AppDelegate();

    // The main interface's window: hidden at launch, since the agent lives in the status bar.
    std::shared_ptr<NSWindow> window() const { return window_.lock(); }
    void setWindow(const std::shared_ptr<NSWindow>& window) { window_ = window; }
    const std::shared_ptr<NSStatusItem>& statusBarItem() const { return statusBarItem_; }

    void applicationWillFinishLaunching(const Notification& notification) override;
    void applicationDidFinishLaunching(const Notification& notification) override;
    bool applicationShouldHandleReopen(NSApplication& sender, bool hasVisibleWindows) override;
    // Terminating again is how the application object is told to finish; it ignores the repeat.
    void applicationWillTerminate(const Notification& notification) override;

    void startTelemetry();
    void completeLaunch();
    void setupStatusItem();
    std::shared_ptr<NSMenu> makeAppSubmenu();

    // The status menu's actions, also reachable by selector along the responder chain.
    // Shows the preferences window on the "Spaces" pane, building it on first use.
    void openPreferences();
    void checkForUpdates();
    void quitApp();

    // The two preference panes, "Spaces" then "General", and their window; each is built on first
    // use and kept for the life of the process.
    const std::vector<std::shared_ptr<SettingsPane>>& preferences();
    const std::shared_ptr<SettingsWindowController>& preferencesWindowController();

  private:
    std::weak_ptr<NSWindow> window_;
    std::shared_ptr<NSStatusItem> statusBarItem_;
    std::vector<std::shared_ptr<SettingsPane>> preferences_;
    std::shared_ptr<SettingsWindowController> preferencesWindowController_;
};

// What the application's main interface brings: the delegate and the window its outlet names.
struct MainInterface {
    std::shared_ptr<AppDelegate> delegate;
    std::shared_ptr<NSWindow> window;
};
MainInterface loadMainInterface();
