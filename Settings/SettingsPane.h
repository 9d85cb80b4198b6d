#pragma once
// A pane of the settings window: a view controller that names itself, titles its tab and gives
// its toolbar icon. The package asks for these often, so they should be cheap and stable.
#include <memory>
#include <string>

#include "Settings/Settings.h"
#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSViewController.h"

class SettingsPane : public NSViewController {
  public:
    virtual Settings::PaneIdentifier paneIdentifier() const = 0;
    virtual std::string paneTitle() const = 0;
    virtual std::shared_ptr<NSImage> toolbarItemIcon() const = 0;
};

// Anything that can be shown as a pane.
class SettingsPaneConvertible {
  public:
    virtual ~SettingsPaneConvertible() = default;
    virtual std::shared_ptr<SettingsPane> settingsPane() = 0;
};
