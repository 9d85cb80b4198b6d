#pragma once
// The toolbar look with one button per pane, in pane order; the selected pane's button shows as
// selected.
#include <memory>
#include <vector>

#include "Settings/SettingsPane.h"
#include "Settings/SettingsStyleController.h"

class ToolbarItemStyleViewController : public NSObject, public SettingsStyleController {
  public:
    ToolbarItemStyleViewController(std::shared_ptr<NSToolbar> toolbar,
                                   std::vector<std::shared_ptr<SettingsPane>> panes);

    std::shared_ptr<SettingsStyleControllerDelegate> delegate() const override { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<SettingsStyleControllerDelegate>& delegate) override {
        delegate_ = delegate;
    }
    bool keepsWindowCentered() const override { return false; }
    std::vector<std::string> toolbarItemIdentifiers() override;
    std::shared_ptr<NSToolbarItem> toolbarItem(const std::string& identifier) override;
    void selectTab(int index) override;

    // The action of every pane button.
    void toolbarItemSelected(NSObject* sender);

  private:
    std::shared_ptr<NSToolbar> toolbar_;
    std::vector<std::shared_ptr<SettingsPane>> panes_;
    std::weak_ptr<SettingsStyleControllerDelegate> delegate_;
};
