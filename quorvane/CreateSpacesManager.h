#pragma once
// Opens the create-space overlay, one borderless window per screen, and answers the floating
// menu's Cancel, Delete and mode switch for all of them at once.
#include <memory>
#include <vector>

#include "quorvane/BorderlessWindow.h"
#include "quorvane/CreateSpaceView.h"

class CreateSpacesManager : public NSObject {
  public:
    using CreateHandler = CreateSpaceView::CreationHandler;

    static std::shared_ptr<CreateSpacesManager> shared();

    CreateSpacesManager();

    // `onCreate` receives the name, the optional shortcut and the four global coordinates when the
    // user presses Done on a preview; every overlay closes right after.
    void showCreateOverlay(CreateHandler onCreate);
    std::shared_ptr<CreateSpaceView> makeCreateSpaceView(CreateHandler onCreate);

    // Cancel: removes the previews and closes every overlay.
    void closeAllWindows();
    // Delete: removes the preview from every overlay.
    void removeAllViews();
    // The mode switch: every overlay changes mode and loses its preview.
    void switchModes();

    // The overlays open now, one entry per screen.
    const std::vector<std::shared_ptr<BorderlessWindow>>& windows() const { return windows_; }
    const std::vector<std::shared_ptr<CreateSpaceView>>& views() const { return views_; }

  private:
    std::vector<std::shared_ptr<BorderlessWindow>> windows_;
    std::vector<std::shared_ptr<CreateSpaceView>> views_;
};
