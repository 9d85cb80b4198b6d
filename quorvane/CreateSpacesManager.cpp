#include "quorvane/CreateSpacesManager.h"

#include "platform/appkit/NSScreen.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<CreateSpacesManager> sharedManager;
}  // namespace

std::shared_ptr<CreateSpacesManager> CreateSpacesManager::shared() {
    return sharedManager.get();
}

CreateSpacesManager::CreateSpacesManager() {
    registerAction("closeAllWindows", [this](NSObject*) { closeAllWindows(); });
    registerAction("removeAllViews", [this](NSObject*) { removeAllViews(); });
    registerAction("switchModes", [this](NSObject*) { switchModes(); });
}

void CreateSpacesManager::showCreateOverlay(CreateHandler onCreate) {
    for (const auto& screen : NSScreen::screens()) {
        auto window = std::make_shared<BorderlessWindow>(screen->visibleFrame(), true);
        auto view = makeCreateSpaceView(onCreate);
        window->setContentView(view);
        window->makeKeyAndOrderFront(nullptr);
        views_.push_back(view);
        windows_.push_back(window);
    }
}

std::shared_ptr<CreateSpaceView> CreateSpacesManager::makeCreateSpaceView(CreateHandler onCreate) {
    auto view = CreateSpaceView::make();
    auto self = sharedAs<CreateSpacesManager>();
    const auto& menu = view->floatingMenu();
    menu->cancelButton()->setTarget(self);
    menu->cancelButton()->setAction("closeAllWindows");
    menu->selectionModeButton()->setTarget(self);
    menu->selectionModeButton()->setAction("switchModes");
    menu->deleteButton()->setTarget(self);
    menu->deleteButton()->setAction("removeAllViews");

    std::weak_ptr<CreateSpacesManager> weak = self;
    view->setOnCreation([weak, onCreate](const std::string& name,
                                         const std::shared_ptr<MASShortcut>& shortcut, CGFloat x1, CGFloat y1,
                                         CGFloat x2, CGFloat y2) {
        if (onCreate) onCreate(name, shortcut, x1, y1, x2, y2);
        if (auto manager = weak.lock()) manager->closeAllWindows();
    });
    view->setRemoveSubViews([weak] {
        if (auto manager = weak.lock()) manager->removeAllViews();
    });
    return view;
}

void CreateSpacesManager::closeAllWindows() {
    for (const auto& view : views_) view->removeSpaceView();
    // Closed overlays are never shown again, so the lists drop them.
    auto windows = std::move(windows_);
    auto views = std::move(views_);
    windows_.clear();
    views_.clear();
    for (const auto& window : windows)
        if (window) window->close();
}

void CreateSpacesManager::removeAllViews() {
    for (const auto& view : views_) view->removeSpaceView();
    CreateSpaceView::setShowMessage(true);
}

void CreateSpacesManager::switchModes() {
    for (const auto& view : views_) view->toggleMode();
    for (const auto& view : views_) view->removeSpaceView();
    CreateSpaceView::setShowMessage(true);
}
