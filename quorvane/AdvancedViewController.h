#pragma once
// The "General" pane: whether the agent starts at login, which modifier key turns a space's hotkey
// into its resize hotkey, and the version. The pane keeps no copy of either setting: it reads
// them when its view loads and stores every change as it is made.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Settings/SettingsPane.h"
#include "platform/appkit/NSButton.h"
#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/appkit/NSSegmentedControl.h"
#include "platform/appkit/NSTextField.h"
#include "quorvane/InfoButton.h"

class AdvancedViewController : public SettingsPane {
  public:
    static constexpr const char* kInfoText =
        "Combining a space's shortcut with the resize key moves and resizes the currently focused window "
        "into that space";
    static constexpr const char* kLaunchAtLoginKey = "launchAtLogin";
    static constexpr CGSize kViewSize{510, 250};

    AdvancedViewController();

    Settings::PaneIdentifier paneIdentifier() const override;
    std::string paneTitle() const override { return "General"; }
    // Stops the process when the "general" image is missing.
    std::shared_ptr<NSImage> toolbarItemIcon() const override;

    const std::shared_ptr<NSTextField>& startupText() const { return startupText_; }
    const std::shared_ptr<NSTextField>& windowText() const { return windowText_; }
    const std::shared_ptr<NSView>& versionSeparator() const { return versionSeparator_; }
    const std::shared_ptr<NSTextField>& versionLabel() const { return versionLabel_; }
    const std::shared_ptr<NSButton>& launchAtLoginCheckbox() const { return launchAtLoginCheckbox_; }
    const std::shared_ptr<NSTextField>& shortcutLabel() const { return shortcutLabel_; }
    const std::shared_ptr<InfoButton>& infoButton() const { return infoButton_; }
    const std::shared_ptr<NSSegmentedControl>& shortcutSegmentedControl() const {
        return shortcutSegmentedControl_;
    }
    // The flags behind the segments, in segment order: ⇧ ⌃ ⌥ ⌘.
    const std::vector<NSEventModifierFlags>& keys() const { return keys_; }

    // The login item's switch, with no state of its own.
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);
    std::optional<Value> valueForKey(std::string_view key) const override;
    bool setValueForKey(const Value& value, std::string_view key) override;

    // The segmented control's action: makes the selected segment's key the resize key, moving
    // every resize hotkey of the current spaces to it.
    void segmentSelected(NSObject* sender);

  protected:
    void loadView() override;
    void viewDidLoad() override;

  private:
    void layOut(NSView& root);
    void showStoredResizeKey();
    void showVersion();

    std::shared_ptr<NSTextField> startupText_;
    std::shared_ptr<NSTextField> windowText_;
    std::shared_ptr<NSView> versionSeparator_;
    std::shared_ptr<NSTextField> versionLabel_;
    std::shared_ptr<NSButton> launchAtLoginCheckbox_;
    std::shared_ptr<NSTextField> shortcutLabel_;
    std::shared_ptr<InfoButton> infoButton_;
    std::shared_ptr<NSSegmentedControl> shortcutSegmentedControl_;
    std::vector<NSEventModifierFlags> keys_;
};
