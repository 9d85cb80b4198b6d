#pragma once
// The white bar at the bottom of an overlay: Cancel, Delete, the mode switch and Done, with a
// tooltip over the button under the pointer. The mode button shows the icon of the other mode.
#include <memory>

#include "platform/appkit/NSTextField.h"
#include "quorvane/Button.h"
#include "quorvane/DividerView.h"

class FloatingMenu : public NSView {
  public:
    static constexpr const char* kDoneTooltip = "Create Space";
    static constexpr const char* kDeleteTooltip = "Delete Space";
    static constexpr const char* kCancelTooltip = "Cancel";
    static constexpr const char* kCustomModeTooltip = "Turn on Custom Mode";
    static constexpr const char* kGridModeTooltip = "Turn on Grid Mode";

    explicit FloatingMenu(CGRect frame = {});

    bool isGrid() const { return isGrid_; }
    const std::shared_ptr<NSTextField>& tooltipTextField() const { return tooltipTextField_; }
    const std::shared_ptr<NSView>& tooltipView() const { return tooltipView_; }
    const std::shared_ptr<Button>& doneButton() const { return doneButton_; }
    const std::shared_ptr<Button>& cancelButton() const { return cancelButton_; }
    const std::shared_ptr<Button>& selectionModeButton() const { return selectionModeButton_; }
    const std::shared_ptr<Button>& deleteButton() const { return deleteButton_; }

    void showTooltip(const NSButton& button, const std::string& text);
    void toggleSelectionModeImage();

    void drawRect(const CGRect& dirtyRect) override;
    void mouseEntered(const NSEvent& event) override;
    void mouseExited(const NSEvent& event) override;

  private:
    void addButtonTrackingAreas();

    bool isGrid_ = true;
    std::shared_ptr<NSTextField> tooltipTextField_;
    std::shared_ptr<NSView> tooltipView_;
    std::shared_ptr<Button> doneButton_, cancelButton_, selectionModeButton_, deleteButton_;
    std::shared_ptr<DividerView> firstDivider_, secondDivider_;
    bool tracking_ = false;
};
