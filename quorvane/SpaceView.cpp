#include "quorvane/SpaceView.h"

#include "platform/appkit/NSVisualEffectView.h"
#include "platform/appkit/NSWindow.h"
#include "quorvane/Extensions.h"

SpaceView::SpaceView(CGRect frame)
    : NSView(frame),
      groupNameLabel_(std::make_shared<SpaceTextField>()),
      groupKeyShortcutView_(SpaceShortcutView::make()) {
    setWantsLayer(true);
    registerAction("createSpace", [this](NSObject*) { createSpace(); });

    // The translucent background goes underneath, so the fields stay above it and take the clicks.
    auto background = std::make_shared<NSVisualEffectView>(bounds());
    background->setBlendingMode(NSVisualEffectBlendingMode::BehindWindow);
    background->setMaterial(NSVisualEffectMaterial::Light);
    background->setState(NSVisualEffectState::Active);
    background->setWantsLayer(true);
    background->layer()->setBackgroundColor(NSColor::colorWithWhite(1.0, 0.25));
    background->layer()->setCornerRadius(10);
    addSubview(background);

    auto stack = NSStackView::stackViewWithViews({groupNameLabel_, groupKeyShortcutView_});
    stack->setWantsLayer(true);
    stack->setOrientation(NSUserInterfaceLayoutOrientation::Vertical);
    stack->setSpacing(9);
    addSubview(stack);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        stack->centerXAnchor().constraintEqualToAnchor(centerXAnchor(), 0),
        stack->centerYAnchor().constraintEqualToAnchor(centerYAnchor(), 0),
        groupKeyShortcutView_->widthAnchor().constraintEqualToConstant(175),
        groupKeyShortcutView_->heightAnchor().constraintEqualToConstant(36),
    });
    updateContent();
}

void SpaceView::setEditable(bool editable) {
    editable_ = editable;
    updateContent();
}

void SpaceView::setGroupName(std::optional<std::string> name) {
    groupName_ = std::move(name);
    updateContent();
}

void SpaceView::updateContent() {
    groupNameLabel_->textField()->setEditable(editable_);
    groupKeyShortcutView_->setEditable(editable_);
    // A given name, even an empty one, is shown as it is.
    if (!groupName_)
        groupNameLabel_->textField()->setPlaceholderString(editable_ ? kEditableNamePlaceholder
                                                                     : kReadOnlyNamePlaceholder);
    else
        groupNameLabel_->textField()->setPlaceholderString("");
    bool recordable = groupKeyShortcutView_->shortcutValue() || editable_;
    groupKeyShortcutView_->setPlaceholder(recordable ? ShortcutView::kPlaceholder
                                                     : kReadOnlyShortcutPlaceholder);
}

void SpaceView::drawRect(const CGRect& dirty) {
    NSView::drawRect(dirty);
    layer()->setMasksToBounds(true);
    layer()->setBorderWidth(5);
    layer()->setBorderColor(hexColor("#3B82F6", 1.0));
    layer()->setCornerRadius(8);
    updateContent();
}

void SpaceView::mouseDown(const NSEvent& event) {
    NSView::mouseDown(event);
    NSWindow* w = window();
    if (w && w->firstResponder() == groupKeyShortcutView_.get()) w->makeFirstResponder(nullptr);
    groupKeyShortcutView_->setRecording(false);
}

void SpaceView::resetCursorRects() {
    addCursorRect(bounds(), NSCursor::arrowCursor());
}

void SpaceView::createSpace() {
    if (onCreateHandler_)
        onCreateHandler_(groupNameLabel_->textField()->stringValue(), groupKeyShortcutView_->shortcutValue());
}
