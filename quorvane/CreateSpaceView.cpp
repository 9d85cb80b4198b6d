#include "quorvane/CreateSpaceView.h"

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "quorvane/Extensions.h"
#include "quorvane/PointConverter.h"

namespace {
bool gShowMessage = true;

// Screen objects are made afresh on every query; the display number says which screen it is.
bool sameScreen(const std::shared_ptr<NSScreen>& a, const std::shared_ptr<NSScreen>& b) {
    if (!a || !b) return !a && !b;
    return displayID(*a) == displayID(*b) && a->frame() == b->frame();
}
}  // namespace

bool CreateSpaceView::showMessage() {
    return gShowMessage;
}
void CreateSpaceView::setShowMessage(bool show) {
    gShowMessage = show;
}

// Done and the two selection modes reach the view once it is shared, and only while it lives.
std::shared_ptr<CreateSpaceView> CreateSpaceView::make(CGRect frame) {
    std::shared_ptr<CreateSpaceView> view(new CreateSpaceView(frame));
    view->floatingMenu_->doneButton()->setTarget(view);
    std::weak_ptr<CreateSpaceView> weak = view;
    auto place = [weak](CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
        if (auto self = weak.lock()) self->placeSpaceView(x1, y1, x2, y2);
    };
    view->windowSelectionView_->setOnCreateHandler(place);
    view->gridSelectionView_->setOnCreateHandler(place);
    return view;
}

CreateSpaceView::CreateSpaceView(CGRect frame)
    : NSView(frame),
      windowSelectionView_(std::make_shared<WindowSelectionView>()),
      gridSelectionView_(std::make_shared<GridSelectionView>()),
      floatingMenu_(std::make_shared<FloatingMenu>()),
      spaceView_(std::make_shared<SpaceView>()),
      messageView_(std::make_shared<MessageView>()) {
    registerAction("createSpace", [this](NSObject*) { createSpace(); });

    // Built once.
    addSubview(gridSelectionView_);
    addSubview(windowSelectionView_);
    windowSelectionView_->setHidden(true);
    messageView_->setTitle(gridText);

    addSubview(floatingMenu_);
    floatingMenu_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        floatingMenu_->centerXAnchor().constraintEqualToAnchor(centerXAnchor()),
        floatingMenu_->bottomAnchor().constraintEqualToAnchor(bottomAnchor(), -50),
        floatingMenu_->widthAnchor().constraintEqualToConstant(270),
        floatingMenu_->heightAnchor().constraintEqualToConstant(48),
    });
    floatingMenu_->doneButton()->setAction("createSpace");

    for (NSView* mode :
         {static_cast<NSView*>(windowSelectionView_.get()), static_cast<NSView*>(gridSelectionView_.get())})
        pinEdges(
            *mode,
            {.top = topAnchor(), .left = leftAnchor(), .bottom = bottomAnchor(), .right = rightAnchor()});

    addSubview(messageView_);
    messageView_->setFrame({messageView_->frame().origin, messageView_->intrinsicContentSize()});
    messageView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        messageView_->centerXAnchor().constraintEqualToAnchor(centerXAnchor(), 0),
        messageView_->centerYAnchor().constraintEqualToAnchor(centerYAnchor(), 0),
    });
}

bool CreateSpaceView::onMainScreen() const {
    NSWindow* w = window();
    return sameScreen(NSScreen::mainScreen(), w ? w->screen() : nullptr);
}

void CreateSpaceView::drawRect(const CGRect& dirty) {
    NSView::drawRect(dirty);
    setUpInWindow();
}

void CreateSpaceView::setUpInWindow() {
    // What needs the window (its screen, a tracking area owned by this view) happens at the first
    // draw in it, and only then: later draws must not reset the mode or the message.
    if (trackingArea_ || !window()) return;
    auto self = sharedAs<CreateSpaceView>();
    if (!self) return;
    if (!onMainScreen()) {
        floatingMenu_->setHidden(true);
        messageView_->setHidden(true);
    }
    trackingArea_ = std::make_shared<NSTrackingArea>(
        bounds(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways, self);
    addTrackingArea(trackingArea_);
}

void CreateSpaceView::placeSpaceView(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
    auto local = PointConverter::rectInOverlay(x1, y1, x2, y2);
    if (!local) return;
    // Every earlier preview goes first, with the selection it stood for.
    if (removeSubViews_) removeSubViews_();
    coors_ = Coordinates{x1, y1, x2, y2};
    spaceView_ = std::make_shared<SpaceView>(*local);
    spaceView_->setWantsLayer(true);
    spaceView_->setEditable(true);
    addSubview(spaceView_);
    messageView_->setHidden(true);
    setShowMessage(false);
}

void CreateSpaceView::removeSpaceView() {
    spaceView_->removeFromSuperview();
    coors_.reset();
}

void CreateSpaceView::createSpace() {
    // The handler closes the overlays, which may release this view while it runs.
    auto self = sharedAs<CreateSpaceView>();
    std::string name = spaceView_->groupNameLabel()->textField()->stringValue();
    auto shortcut = spaceView_->groupKeyShortcutView()->shortcutValue();
    if (!coors_) return;
    auto [x1, y1, x2, y2] = *coors_;
    if (onCreation_) {
        CreationHandler handler = onCreation_;
        handler(name, shortcut, x1, y1, x2, y2);
    }
    setShowMessage(true);
}

void CreateSpaceView::toggleMode() {
    gridSelectionView_->setHidden(!gridSelectionView_->isHidden());
    windowSelectionView_->setHidden(!windowSelectionView_->isHidden());
    floatingMenu_->toggleSelectionModeImage();
    messageView_->setTitle(gridSelectionView_->isHidden() ? windowText : gridText);
    setShowMessage(true);
    if (onMainScreen()) messageView_->setHidden(false);
}

void CreateSpaceView::mouseEntered(const NSEvent& event) {
    NSView::mouseEntered(event);
    isMouseInside_ = true;
    if (NSWindow* w = window()) w->makeKeyAndOrderFront(nullptr);
    floatingMenu_->setHidden(false);
    if (showMessage()) messageView_->setHidden(false);
}

void CreateSpaceView::mouseExited(const NSEvent& event) {
    NSView::mouseExited(event);
    isMouseInside_ = false;
    floatingMenu_->setHidden(true);
    if (showMessage()) messageView_->setHidden(true);
}

void CreateSpaceView::mouseDown(const NSEvent&) {
    messageView_->setHidden(true);
}
