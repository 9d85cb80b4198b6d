#pragma once
// The toolbar look with one segmented control, centred between two flexible spaces, whose
// segments are the panes; every segment is as wide as the widest title needs.
#include <memory>
#include <optional>
#include <vector>

#include "Settings/SettingsPane.h"
#include "Settings/SettingsStyleController.h"
#include "platform/appkit/NSSegmentedControl.h"

class KeyedUnarchiver;

class SegmentedControlStyleViewController : public NSViewController, public SettingsStyleController {
  public:
    static constexpr const char* kToolbarItemIdentifier = "toolbarSegmentedControlItem";
    static constexpr const char* kControlIdentifier = "toolbarSegmentedControl";
    static constexpr const char* kSegmentItemPrefix = "segment-";

    SegmentedControlStyleViewController();
    // Not offered: stops the program.
    explicit SegmentedControlStyleViewController(KeyedUnarchiver& coder);

    void setPanes(std::vector<std::shared_ptr<SettingsPane>> panes) { panes_ = std::move(panes); }

    std::shared_ptr<SettingsStyleControllerDelegate> delegate() const override { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<SettingsStyleControllerDelegate>& delegate) override {
        delegate_ = delegate;
    }
    bool keepsWindowCentered() const override { return true; }
    std::vector<std::string> toolbarItemIdentifiers() override;
    std::shared_ptr<NSToolbarItem> toolbarItem(const std::string& identifier) override;
    void selectTab(int index) override;

    void segmentedControlAction(NSObject* sender);
    void segmentedControlMenuAction(NSObject* sender);

    // The common size of the segments: the widest and the tallest title, plus 36 × 12.
    static CGSize segmentSize(const std::vector<std::shared_ptr<SettingsPane>>& panes);

  protected:
    void loadView() override;

  private:
    std::shared_ptr<NSSegmentedControl> makeSegmentedControl(
        const std::vector<std::shared_ptr<SettingsPane>>& panes);

    std::optional<std::vector<std::shared_ptr<SettingsPane>>> panes_;
    std::weak_ptr<SettingsStyleControllerDelegate> delegate_;
};
