#pragma once
// The two looks of the settings toolbar share one interface: they supply the toolbar's items,
// show which tab is selected, and report the user's choice to their delegate.
#include <memory>
#include <string>
#include <vector>

#include "Settings/Settings.h"
#include "platform/appkit/NSToolbar.h"

class SettingsStyleControllerDelegate {
  public:
    virtual ~SettingsStyleControllerDelegate() = default;
    virtual void activateTab(const Settings::PaneIdentifier& identifier, bool animated) = 0;
    virtual void activateTab(int index, bool animated) = 0;
};

class SettingsStyleController {
  public:
    virtual ~SettingsStyleController() = default;
    // Held weakly.
    virtual std::shared_ptr<SettingsStyleControllerDelegate> delegate() const = 0;
    virtual void setDelegate(const std::shared_ptr<SettingsStyleControllerDelegate>& delegate) = 0;
    // Whether a resized window keeps its horizontal centre (else its left edge).
    virtual bool keepsWindowCentered() const = 0;
    virtual std::vector<std::string> toolbarItemIdentifiers() = 0;
    virtual std::shared_ptr<NSToolbarItem> toolbarItem(const std::string& identifier) = 0;
    virtual void selectTab(int index) = 0;
};
