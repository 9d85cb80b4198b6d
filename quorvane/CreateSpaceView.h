#pragma once
// One overlay of the create-space flow, covering one screen's visible frame: the grid mode and the
// window-click mode, the floating menu, the message, and the preview of the selected space.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/masshortcut/MASShortcut.h"
#include "quorvane/FloatingMenu.h"
#include "quorvane/GridSelectionView.h"
#include "quorvane/MessageView.h"
#include "quorvane/SpaceView.h"
#include "quorvane/WindowSelectionView.h"

class CreateSpaceView : public NSView {
  public:
    using CreationHandler =
        std::function<void(const std::string& name, const std::shared_ptr<MASShortcut>& shortcut, CGFloat x1,
                           CGFloat y1, CGFloat x2, CGFloat y2)>;
    using Coordinates = std::array<CGFloat, 4>;

    static constexpr const char* gridText = "Create a space by dragging your mouse";
    static constexpr const char* windowText = "Create a space by clicking on a window";

    // Shared by every overlay: whether entering an overlay shows its message.
    static bool showMessage();
    static void setShowMessage(bool show);

    static std::shared_ptr<CreateSpaceView> make(CGRect frame = {});

    void setOnCreation(CreationHandler handler) { onCreation_ = std::move(handler); }
    void setRemoveSubViews(std::function<void()> handler) { removeSubViews_ = std::move(handler); }
    const std::optional<Coordinates>& coors() const { return coors_; }
    const std::shared_ptr<WindowSelectionView>& windowSelectionView() const { return windowSelectionView_; }
    const std::shared_ptr<GridSelectionView>& gridSelectionView() const { return gridSelectionView_; }
    const std::shared_ptr<FloatingMenu>& floatingMenu() const { return floatingMenu_; }
    const std::shared_ptr<SpaceView>& spaceView() const { return spaceView_; }
    const std::shared_ptr<MessageView>& messageView() const { return messageView_; }
    bool isMouseInside() const { return isMouseInside_; }
    const std::shared_ptr<NSTrackingArea>& trackingArea() const { return trackingArea_; }

    // Shows the preview at a selection given in global top-left coordinates, in place of every
    // earlier preview; a selection whose corner lies on no screen is ignored.
    void placeSpaceView(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2);
    // Takes the preview away; Done then has nothing to create.
    void removeSpaceView();
    void toggleMode();
    // Done: hands the previewed space on; nothing without a preview.
    void createSpace();

    void drawRect(const CGRect& dirtyRect) override;
    void mouseEntered(const NSEvent& event) override;
    void mouseExited(const NSEvent& event) override;
    void mouseDown(const NSEvent& event) override;

  private:
    explicit CreateSpaceView(CGRect frame);
    void setUpInWindow();
    bool onMainScreen() const;

    CreationHandler onCreation_;
    std::function<void()> removeSubViews_;
    std::optional<Coordinates> coors_;
    std::shared_ptr<WindowSelectionView> windowSelectionView_;
    std::shared_ptr<GridSelectionView> gridSelectionView_;
    std::shared_ptr<FloatingMenu> floatingMenu_;
    std::shared_ptr<SpaceView> spaceView_;
    std::shared_ptr<MessageView> messageView_;
    bool isMouseInside_ = false;
    std::shared_ptr<NSTrackingArea> trackingArea_;
};
