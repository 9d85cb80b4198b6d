#include "quorvane/ShowSpacesManager.h"

#include "platform/appkit/NSScreen.h"
#include "platform/foundation/FatalError.h"
#include "platform/foundation/SharedInstance.h"
#include "quorvane/SpaceView.h"

namespace {
constinit SharedInstance<ShowSpacesManager> sharedManager;
}  // namespace

std::shared_ptr<ShowSpacesManager> ShowSpacesManager::shared() {
    return sharedManager.get();
}

void ShowSpacesManager::showSpace(const std::optional<std::string>& name,
                                  std::shared_ptr<MASShortcut> shortcut, const Coordinates& coordinates) {
    if (timer_) timer_->invalidate();
    if (groupWindow_) groupWindow_->close();
    auto [x1, y1, x2, y2] = coordinates;
    auto screens = NSScreen::screens();
    if (screens.empty()) fatalError("Screen not available");
    CGFloat height = y2 - y1, width = x2 - x1;
    CGFloat primaryHeight = screens.front()->frame().size.height;
    showSpaceWindow(name, std::move(shortcut), {x1, primaryHeight - y1 - height, width, height});
}

void ShowSpacesManager::showSpaceWindow(const std::optional<std::string>& name,
                                        std::shared_ptr<MASShortcut> shortcut, const CGRect& frame) {
    if (groupWindow_) groupWindow_->close();
    auto view = std::make_shared<SpaceView>(frame);
    view->setGroupName(name);
    view->groupNameLabel()->setName(name);
    if (name) view->groupNameLabel()->textField()->setStringValue(*name);
    view->setGroupKey(shortcut);
    view->groupKeyShortcutView()->setShortcutValue(shortcut);

    groupWindow_ = std::make_shared<BorderlessWindow>(frame, false);
    groupWindow_->setContentView(view);
    groupWindow_->makeKeyAndOrderFront(nullptr);

    std::weak_ptr<ShowSpacesManager> weak = weak_from_this();
    timer_ = NSTimer::scheduledTimerWithTimeInterval(kShowDuration, false, [weak](NSTimer&) {
        auto self = weak.lock();
        if (!self) return;
        if (self->groupWindow_) self->groupWindow_->close();
        if (self->timer_) self->timer_->invalidate();
    });
}
