#pragma once
// One row of the Spaces pane: the space's small map, its name, the strict-size toggle and its
// hotkey. Every edit is stored at once and, where it touches the hotkey, registered again. A row
// acts only while the stored space at its index is still the one it shows: a row left over from
// before the list changed edits nothing.
#include <memory>
#include <optional>

#include "platform/appkit/NSCollectionView.h"
#include "quorvane/Button.h"
#include "quorvane/Group.h"
#include "quorvane/GroupTextField.h"
#include "quorvane/ShortcutView.h"
#include "quorvane/SpaceRectangleView.h"

class GroupCollectionViewItem : public NSCollectionViewItem, public NSTextFieldDelegate {
  public:
    static constexpr const char* kIdentifier = "GroupCollectionViewItem";
    static constexpr const char* kTooltipText =
        "Only cycle to windows that \n are the same size as the space";
    static constexpr const char* kStrictSize = "10";

    GroupCollectionViewItem();

    bool isHovered() const { return isHovered_; }
    const std::shared_ptr<NSTextField>& tooltipViewText() const { return tooltipViewText_; }
    const std::shared_ptr<NSView>& tooltipView() const { return tooltipView_; }
    const std::shared_ptr<Button>& strictSpaceButton() const { return strictSpaceButton_; }
    const std::shared_ptr<SpaceRectangleView>& windowRectangle() const { return windowRectangle_; }
    const std::shared_ptr<GroupTextField>& spaceNameTextField() const { return spaceNameTextField_; }
    const std::shared_ptr<ShortcutView>& shortcutView() const { return shortcutView_; }
    const std::shared_ptr<Group>& group() const { return group_; }
    void setGroup(std::shared_ptr<Group> group) { group_ = std::move(group); }
    const std::optional<NSIndexPath>& indexPath() const { return indexPath_; }
    void setIndexPath(std::optional<NSIndexPath> path) { indexPath_ = path; }

    void setSelected(bool selected) override;
    void configureRow();
    void updateStrictSpace();
    void controlTextDidEndEditing(NSTextField& field) override;
    void shortcutChanged();
    void showGroupSpace();

    void mouseEntered(const NSEvent& event) override;
    void mouseExited(const NSEvent& event) override;
    void viewDidAppear() override;

  protected:
    void loadView() override;
    void viewDidLoad() override;

  private:
    struct StoredRow {
        std::vector<std::shared_ptr<Group>> groups;
        size_t index;
    };
    // The stored list and this row's place in it, when that place still holds this row's space.
    std::optional<StoredRow> storedRow() const;
    void updateShortcut(const StoredRow& stored);
    void chooseStrictImage();
    void applyLook(const char* background, const char* nameColour, bool whiteNameBackground);
    void showTooltip();
    void layOut();

    bool isHovered_ = false;
    std::shared_ptr<NSTextField> tooltipViewText_;
    std::shared_ptr<NSView> tooltipView_;
    std::shared_ptr<Button> strictSpaceButton_;
    std::shared_ptr<SpaceRectangleView> windowRectangle_;
    std::shared_ptr<GroupTextField> spaceNameTextField_;
    std::shared_ptr<ShortcutView> shortcutView_;
    std::shared_ptr<Group> group_;
    std::optional<NSIndexPath> indexPath_;
    bool laidOut_ = false;
    bool toggleTracked_ = false;
};
