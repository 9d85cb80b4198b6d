#pragma once
// The settings window's content: holds the panes as children, shows one at a time pinned to its
// view, builds the toolbar through a style controller, switches panes (animated or not), fits the
// window to the shown pane and titles the window.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Settings/SettingsPane.h"
#include "Settings/SettingsStyleController.h"
#include "platform/appkit/NSToolbar.h"
#include "platform/appkit/NSViewController.h"

class SettingsTabViewController : public NSViewController,
                                  public SettingsStyleControllerDelegate,
                                  public NSToolbarDelegate {
  public:
    static constexpr const char* kToolbarIdentifier = "SettingsToolbar";
    static constexpr double kAnimationDuration = 0.25;

    SettingsTabViewController() = default;

    const std::optional<int>& activeTab() const { return activeTab_; }
    const std::vector<std::shared_ptr<SettingsPane>>& panes() const { return panes_; }
    const std::optional<Settings::Style>& style() const { return style_; }
    const std::shared_ptr<SettingsStyleController>& settingsStyleController() const {
        return styleController_;
    }
    bool isAnimated() const { return isAnimated_; }
    void setIsAnimated(bool animated) { isAnimated_ = animated; }
    const std::vector<ConstraintPtr>& activeChildViewConstraints() const {
        return activeChildViewConstraints_;
    }

    // Once, after the controller became its window's content view controller.
    void setUp(std::vector<std::shared_ptr<SettingsPane>> panes, Settings::Style style);

    void activateTab(int index, bool animated) override;
    void activateTab(const Settings::PaneIdentifier& identifier, bool animated) override;

    // Animates (0.25 s, cross-fading, window resized to the new pane) when the options hold
    // nothing but animation options; any other call goes to the plain transition.
    void transitionFromViewController(const std::shared_ptr<NSViewController>& from,
                                      const std::shared_ptr<NSViewController>& to,
                                      NSViewControllerTransitionOptions options,
                                      std::function<void()> completion) override;

    // The active pane's title with several panes; with one, the application's name and the
    // localized word for settings (or preferences before system version 13).
    std::string windowTitle(int index) const;

    std::vector<std::string> toolbarDefaultItemIdentifiers(NSToolbar& toolbar) override;
    std::vector<std::string> toolbarAllowedItemIdentifiers(NSToolbar& toolbar) override;
    std::vector<std::string> toolbarSelectableItemIdentifiers(NSToolbar& toolbar) override;
    std::shared_ptr<NSToolbarItem> toolbarItemForItemIdentifier(NSToolbar& toolbar,
                                                                const std::string& identifier,
                                                                bool willBeInsertedIntoToolbar) override;

  protected:
    void loadView() override;

  private:
    void showInitialPane(int index);
    void switchPane(int index, bool animated);
    void animateTransition(const std::shared_ptr<NSViewController>& from,
                           const std::shared_ptr<NSViewController>& to,
                           NSViewControllerTransitionOptions options, std::function<void()> completion);
    void resizeWindow(NSViewController& pane, bool animated);
    NSWindow& requireWindow() const;
    void requireIndex(int index) const;

    std::optional<int> activeTab_;
    std::vector<std::shared_ptr<SettingsPane>> panes_;
    std::optional<Settings::Style> style_;
    std::shared_ptr<SettingsStyleController> styleController_;
    bool isAnimated_ = true;
    std::vector<ConstraintPtr> activeChildViewConstraints_;
};

// Pins `view` to all four edges of its superview (which it must have) and returns the constraints.
std::vector<ConstraintPtr> constrainToSuperviewEdges(NSView& view);
