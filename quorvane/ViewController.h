#pragma once
// The "Spaces" pane: the spaces of the current screen arrangement, one row each, with "+" to draw
// a new space on the create-space overlay and "−" to delete the selected one. The pane reads the
// stored spaces once per reload of the list and builds every row of that reload from them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Settings/SettingsPane.h"
#include "platform/appkit/NSCollectionView.h"
#include "platform/appkit/NSScrollView.h"
#include "platform/appkit/NSTextField.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/masshortcut/MASShortcut.h"
#include "quorvane/CubeButton.h"
#include "quorvane/InfoButton.h"
#include "quorvane/UserDefaultsManager.h"

class ViewController : public SettingsPane,
                       public NSCollectionViewDataSource,
                       public NSCollectionViewDelegate {
  public:
    static constexpr const char* kEmptyText = "Start creating spaces by clicking the \u201C+\u201D button";
    static constexpr const char* kInfoText = "A \"space\" is a designated area on your screen where you can "
                                             "resize to and cycle between windows within it.";

    // Reads the spaces of the current screens; a test may count the reads.
    using GroupsSource = std::function<std::vector<std::shared_ptr<Group>>()>;

    explicit ViewController(GroupsSource storedGroups = UserDefaultsManager::currentGroups);

    Settings::PaneIdentifier paneIdentifier() const override;
    std::string paneTitle() const override { return "Spaces"; }
    // Stops the process when the "spaces" image is missing.
    std::shared_ptr<NSImage> toolbarItemIcon() const override;

    const std::shared_ptr<NSTextField>& emptySpacesTextField() const { return emptySpacesTextField_; }
    const std::shared_ptr<NSTextField>& spacesLabel() const { return spacesLabel_; }
    const std::shared_ptr<CubeButton>& editSpacesButton() const { return editSpacesButton_; }
    const std::shared_ptr<CubeButton>& deleteSpacesButton() const { return deleteSpacesButton_; }
    const std::shared_ptr<NSCollectionView>& collectionView() const { return collectionView_; }
    const std::shared_ptr<NSScrollView>& scrollView() const { return scrollView_; }
    const std::shared_ptr<InfoButton>& infoButton() const { return infoButton_; }

    void createNewGroup();
    void addCreatedGroup(const std::string& name, const std::shared_ptr<MASShortcut>& shortcut, CGFloat x1,
                         CGFloat y1, CGFloat x2, CGFloat y2);
    void deleteSelectedSpace();
    void reloadList();

    int numberOfItemsInSection(NSCollectionView& view, int section) override;
    std::shared_ptr<NSCollectionViewItem> itemForRepresentedObjectAtIndexPath(
        NSCollectionView& view, const NSIndexPath& path) override;
    void didSelectItemsAtIndexPaths(NSCollectionView& view, const NSIndexPathSet& paths) override;
    void didDeselectItemsAtIndexPaths(NSCollectionView& view, const NSIndexPathSet& paths) override;

    void mouseDown(const NSEvent& event) override;
    void viewWillAppear() override;
    void viewDidAppear() override;

  protected:
    void loadView() override;
    void viewDidLoad() override;

  private:
    // Nothing selected: "+" works, "−" does not; a selection swaps the looks.
    void showLooksForSelection(bool selected);

    std::shared_ptr<NSTextField> emptySpacesTextField_;
    std::shared_ptr<NSTextField> spacesLabel_;
    std::shared_ptr<CubeButton> editSpacesButton_;
    std::shared_ptr<CubeButton> deleteSpacesButton_;
    std::shared_ptr<NSCollectionView> collectionView_;
    std::shared_ptr<NSScrollView> scrollView_;
    std::shared_ptr<InfoButton> infoButton_;
    NotificationCenter::Token updateObserver_;
    GroupsSource storedGroups_;
    // The spaces as the current reload read them: decoding the stored archive once per row made
    // opening the pane quadratic in the number of spaces.
    std::vector<std::shared_ptr<Group>> rows_;
};
