#pragma once
// The entry point of the settings window: made once with its panes, it shows the window on a pane,
// remembers the window's frame across launches and sends menu actions on to the shown pane.
#include <memory>
#include <optional>
#include <vector>

#include "Settings/SettingsPane.h"
#include "Settings/SettingsTabViewController.h"
#include "Settings/UserInteractionPausableWindow.h"
#include "platform/appkit/NSWindowController.h"

class KeyedUnarchiver;

class SettingsWindowController : public NSWindowController {
  public:
    // The name the window's frame is saved under.
    static constexpr const char* kFrameAutosaveName = "org.quorvane.Settings.SettingsFrameAutosave";

    // `panes` must not be empty. Make the controller with std::make_shared.
    SettingsWindowController(std::vector<std::shared_ptr<SettingsPane>> panes, Settings::Style style,
                             bool animated, bool hidesToolbarForSingleItem);
    SettingsWindowController(const std::vector<std::shared_ptr<SettingsPaneConvertible>>& panes,
                             Settings::Style style, bool animated, bool hidesToolbarForSingleItem);
    // Not offered: each stops the program.
    explicit SettingsWindowController(std::shared_ptr<NSWindow> window);
    explicit SettingsWindowController(KeyedUnarchiver& coder);

    const std::shared_ptr<SettingsTabViewController>& tabViewController() const { return tabViewController_; }
    bool isAnimated() const { return tabViewController_->isAnimated(); }
    void setIsAnimated(bool animated) { tabViewController_->setIsAnimated(animated); }
    bool hidesToolbarForSingleItem() const { return hidesToolbarForSingleItem_; }
    void setHidesToolbarForSingleItem(bool hides);

    // Selects the pane (the first when the identifier names none; without one, the active pane
    // stays) and brings the window to the front, at its saved frame or else centred.
    void show(const std::optional<Settings::PaneIdentifier>& pane = std::nullopt);

    std::shared_ptr<NSObject> supplementalTargetForAction(std::string_view action, NSObject* sender) override;

  private:
    void updateToolbarVisibility();

    std::shared_ptr<SettingsTabViewController> tabViewController_;
    bool hidesToolbarForSingleItem_ = false;
};
