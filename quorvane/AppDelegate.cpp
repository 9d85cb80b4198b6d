#include "quorvane/AppDelegate.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "Settings/SettingsWindowController.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sparkle/SUUpdater.h"
#include "platform/zudedaro/ZUDApp.h"
#include "quorvane/AdvancedViewController.h"
#include "quorvane/PaneIdentifiers.h"
#include "quorvane/UsageEvents.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/ViewController.h"
#include "quorvane/WorkspaceManager.h"

AppDelegate::AppDelegate() {
    registerAction("openPreferences", [this](NSObject*) { openPreferences(); });
    registerAction("checkForUpdates", [this](NSObject*) { checkForUpdates(); });
    registerAction("quitApp", [this](NSObject*) { quitApp(); });
}

void AppDelegate::applicationWillFinishLaunching(const Notification&) {
    if (auto w = window()) w->orderOut(this);
}

void AppDelegate::applicationDidFinishLaunching(const Notification&) {
    startTelemetry();
    completeLaunch();
}

bool AppDelegate::applicationShouldHandleReopen(NSApplication&, bool) {
    openPreferences();
    return true;
}

void AppDelegate::applicationWillTerminate(const Notification&) {
    NSApplication::sharedApplication()->terminate(nullptr);
}

namespace {
// The agent's app secret for the reporting client, passed bare.
constexpr const char* kDudIzizozAppSecret = "5b0e8a3c-29d4-4f6b-8c71-e3a94d0f6b12";
// Sends the reporting client's logs to another collector, such as a local one.
constexpr const char* kLogUrlVariable = "QUORVANE_LOG_URL";
// The reporting client's log level as its number (2 verbose to 7 assert, 99 none).
constexpr const char* kLogLevelVariable = "QUORVANE_LOG_LEVEL";

std::optional<DIZLogLevel> logLevelFromEnvironment() {
    const char* text = std::getenv(kLogLevelVariable);
    if (!text) return std::nullopt;
    int level = 0;
    const char* end = text + std::strlen(text);
    auto [parsed, error] = std::from_chars(text, end, level);
    if (error != std::errc() || parsed != end) return std::nullopt;
    if ((level < static_cast<int>(DIZLogLevel::Verbose) || level > static_cast<int>(DIZLogLevel::Assert)) &&
        level != static_cast<int>(DIZLogLevel::None))
        return std::nullopt;
    return static_cast<DIZLogLevel>(level);
}
}  // namespace

// Both telemetry clients start before anything else of the agent runs, so that every usage event
// reaches them; a client that fails to start leaves the agent working without it.
void AppDelegate::startTelemetry() {
    ZUDApp::configure();
    if (const char* logUrl = std::getenv(kLogUrlVariable); logUrl && *logUrl) DIZDudIzizoz::setLogUrl(logUrl);
    if (auto level = logLevelFromEnvironment()) DIZDudIzizoz::setLogLevel(*level);
    DIZDudIzizoz::start(kDudIzizozAppSecret, {&DIZAnalytics::classObject(), &DIZCrashes::classObject()});
}

void AppDelegate::completeLaunch() {
    auto defaults = UserDefaults::standardUserDefaults();
    if (!defaults->boolForKey(UserDefaultsManager::kFirstLaunchKey)) {
        defaults->setObject(true, UserDefaultsManager::kFirstLaunchKey);
        UserDefaultsManager::saveResizeModifier(NSEventModifierFlagShift);
    }

    auto manager = WorkspaceManager::shared();
    manager->registerWorkspaceShortcuts();
    manager->observeScreenChanges();

    setupStatusItem();

    if (!AXIsProcessTrusted()) {
        Dictionary options{{kAXTrustedCheckOptionPrompt, true}};
        AXIsProcessTrustedWithOptions(&options);
    }
}

void AppDelegate::setupStatusItem() {
    auto icon = NSImage::imageNamed(kIconImageName);
    if (icon) icon->setSize({18, 18});
    statusBarItem_ = NSStatusBar::systemStatusBar()->statusItemWithLength(NSVariableStatusItemLength);

    auto menu = std::make_shared<NSMenu>();
    auto spaces = std::make_shared<NSMenuItem>("Spaces ...", "openPreferences", "");
    spaces->setImage(NSImage::imageNamed(kSpacesImageName));
    menu->addItem(spaces);
    menu->addItem(NSMenuItem::separatorItem());
    menu->addItemWithTitle("Check for updates...", "checkForUpdates", "");
    menu->addItem(NSMenuItem::separatorItem());
    auto app = menu->addItemWithTitle("quorvane", "", "");
    app->setSubmenu(makeAppSubmenu());

    statusBarItem_->setMenu(menu);
    statusBarItem_->setVisible(true);
    statusBarItem_->button()->setImage(icon);
}

std::shared_ptr<NSMenu> AppDelegate::makeAppSubmenu() {
    auto submenu = std::make_shared<NSMenu>();
    submenu->addItemWithTitle("Quit", "quitApp", "");
    return submenu;
}

void AppDelegate::openPreferences() {
    if (auto w = window()) w->orderOut(this);
    preferencesWindowController()->show(spacesPaneIdentifier());
    UsageEvents::record("opened_preferences");
}

const std::vector<std::shared_ptr<SettingsPane>>& AppDelegate::preferences() {
    if (preferences_.empty())
        preferences_ = {std::make_shared<ViewController>(), std::make_shared<AdvancedViewController>()};
    return preferences_;
}

const std::shared_ptr<SettingsWindowController>& AppDelegate::preferencesWindowController() {
    if (!preferencesWindowController_)
        preferencesWindowController_ = std::make_shared<SettingsWindowController>(
            preferences(), Settings::Style::toolbarItems, false, false);
    return preferencesWindowController_;
}

void AppDelegate::checkForUpdates() {
    if (auto updater = SUUpdater::sharedUpdater()) updater->checkForUpdates(this);
}

void AppDelegate::quitApp() {
    NSApplication::sharedApplication()->terminate(this);
}

MainInterface loadMainInterface() {
    auto delegate = std::make_shared<AppDelegate>();
    auto window = std::make_shared<NSWindow>(CGRect{0, 0, 480, 270},
                                             NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                             NSBackingStoreType::Buffered, false);
    window->setTitle("quorvane");
    window->setReleasedWhenClosed(false);
    window->makeKeyAndOrderFront(nullptr);
    delegate->setWindow(window);
    return {delegate, window};
}
