#include "quorvane/GroupCollectionViewItem.h"

#include <algorithm>

#include "platform/masshortcut/MASShortcutMonitor.h"
#include "quorvane/Extensions.h"
#include "quorvane/ShowSpacesManager.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/WorkspaceManager.h"

namespace {

bool sameShortcut(const std::shared_ptr<MASShortcut>& a, const std::shared_ptr<MASShortcut>& b) {
    if (!a || !b) return !a && !b;
    return *a == *b;
}

bool sameSpace(const Group& a, const Group& b) {
    return a.name() == b.name() && a.coordinates() == b.coordinates() && a.size() == b.size() &&
           sameShortcut(a.shortcut(), b.shortcut());
}

void unregisterSpaceHotkey(const std::shared_ptr<MASShortcut>& shortcut) {
    if (!shortcut) return;
    if (auto monitor = MASShortcutMonitor::sharedMonitor()) monitor->unregisterShortcut(shortcut);
}

}  // namespace

GroupCollectionViewItem::GroupCollectionViewItem()
    : tooltipViewText_(std::make_shared<NSTextField>()),
      tooltipView_(std::make_shared<NSView>()),
      strictSpaceButton_(std::make_shared<Button>()),
      windowRectangle_(std::make_shared<SpaceRectangleView>()),
      spaceNameTextField_(std::make_shared<GroupTextField>()),
      shortcutView_(ShortcutView::make()) {
    tooltipViewText_->setStringValue(kTooltipText);
    tooltipViewText_->setEditable(false);
    tooltipViewText_->setBezeled(false);
    tooltipViewText_->setBackgroundColor(NSColor::clearColor());
    tooltipViewText_->setTextColor(NSColor::blackColor());
    tooltipViewText_->setFont(NSFont::systemFontOfSize(12, NSFontWeightMedium));
    tooltipViewText_->setAlignment(NSTextAlignment::Center);

    tooltipView_->setWantsLayer(true);
    tooltipView_->layer()->setMasksToBounds(false);
    tooltipView_->layer()->setZPosition(100);
    tooltipView_->layer()->setCornerRadius(8);
    tooltipView_->layer()->setBackgroundColor(NSColor::whiteColor());
    tooltipView_->setShadow(NSShadow{NSColor::blackColor().colorWithAlphaComponent(0.4), {0, -2}, 6});

    strictSpaceButton_->setWantsLayer(true);
    strictSpaceButton_->layer()->setCornerRadius(5);
    strictSpaceButton_->setContentTintColor(NSColor::whiteColor());
    strictSpaceButton_->setImagePosition(NSCellImagePosition::ImageOnly);
    strictSpaceButton_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints(
        {strictSpaceButton_->widthAnchor().constraintEqualToConstant(18),
         strictSpaceButton_->heightAnchor().constraintEqualToConstant(18)});
    strictSpaceButton_->setAction("updateStrictSpace");

    spaceNameTextField_->setFont(NSFont::systemFontOfSize(14, NSFontWeightRegular));
    spaceNameTextField_->setDrawsBackground(false);
    spaceNameTextField_->setBezeled(false);
    spaceNameTextField_->setPlaceholderString("Enter space name ...");
    spaceNameTextField_->setFocusRingType(NSFocusRingType::None);

    registerAction("updateStrictSpace", [this](NSObject*) { updateStrictSpace(); });
}

void GroupCollectionViewItem::loadView() {
    setView(std::make_shared<NSView>(CGRect{0, 0, 462, 42}));
}

void GroupCollectionViewItem::viewDidLoad() {
    NSCollectionViewItem::viewDidLoad();
    auto self = sharedAs<GroupCollectionViewItem>();
    spaceNameTextField_->setDelegate(self);
    strictSpaceButton_->setTarget(std::static_pointer_cast<NSObject>(self));
    configureRow();
    view()->addTrackingArea(std::make_shared<NSTrackingArea>(
        view()->frame(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways, self));
}

void GroupCollectionViewItem::viewDidAppear() {
    NSCollectionViewItem::viewDidAppear();
    if (toggleTracked_) return;
    toggleTracked_ = true;
    strictSpaceButton_->addTrackingArea(std::make_shared<NSTrackingArea>(
        strictSpaceButton_->bounds(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways,
        sharedAs<GroupCollectionViewItem>()));
}

void GroupCollectionViewItem::layOut() {
    // Once per row: a reused row keeps its layout.
    if (laidOut_) return;
    laidOut_ = true;
    auto& row = *view();
    for (NSView* control :
         {static_cast<NSView*>(windowRectangle_.get()), static_cast<NSView*>(spaceNameTextField_.get()),
          static_cast<NSView*>(shortcutView_.get()), static_cast<NSView*>(strictSpaceButton_.get())}) {
        row.addSubview(control->sharedAs<NSView>());
        control->setTranslatesAutoresizingMaskIntoConstraints(false);
        control->centerYAnchor().constraintEqualToAnchor(row.centerYAnchor(), 0)->setActive(true);
    }
    NSLayoutConstraint::activateConstraints({
        windowRectangle_->leftAnchor().constraintEqualToAnchor(row.leftAnchor(), 8),
        windowRectangle_->widthAnchor().constraintEqualToConstant(28),
        windowRectangle_->heightAnchor().constraintEqualToConstant(14),
        spaceNameTextField_->leftAnchor().constraintEqualToAnchor(windowRectangle_->rightAnchor(), 8),
        spaceNameTextField_->widthAnchor().constraintEqualToConstant(150),
        shortcutView_->rightAnchor().constraintEqualToAnchor(row.rightAnchor(), -4),
        shortcutView_->widthAnchor().constraintEqualToConstant(138),
        shortcutView_->heightAnchor().constraintEqualToConstant(26),
        strictSpaceButton_->rightAnchor().constraintEqualToAnchor(shortcutView_->leftAnchor(), -6),
    });
    tooltipView_->addSubview(tooltipViewText_);
    tooltipViewText_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        tooltipViewText_->centerXAnchor().constraintEqualToAnchor(tooltipView_->centerXAnchor()),
        tooltipViewText_->centerYAnchor().constraintEqualToAnchor(tooltipView_->centerYAnchor()),
    });
}

void GroupCollectionViewItem::applyLook(const char* background, const char* nameColour,
                                        bool whiteNameBackground) {
    auto& row = *view();
    row.setWantsLayer(true);
    row.layer()->setBackgroundColor(hexColor(background, 1.0));
    spaceNameTextField_->setTextColor(hexColor(nameColour, 1.0));
    spaceNameTextField_->setDrawsBackground(true);
    spaceNameTextField_->setBackgroundColor(whiteNameBackground ? std::optional(NSColor::whiteColor())
                                                                : std::nullopt);
}

void GroupCollectionViewItem::setSelected(bool selected) {
    NSCollectionViewItem::setSelected(selected);
    if (selected) {
        applyLook("#EAF2FF", "#3B82F6", false);
        windowRectangle_->setBlueHighlight();
    } else {
        applyLook("#FFFFFF", "#262626", true);
        windowRectangle_->clearHighlight();
    }
}

void GroupCollectionViewItem::configureRow() {
    auto& row = *view();
    row.setWantsLayer(true);
    row.layer()->setBackgroundColor(NSColor::whiteColor());
    row.layer()->setCornerRadius(5);
    spaceNameTextField_->setTextColor(hexColor("#262626", 1.0));
    spaceNameTextField_->setBackgroundColor(NSColor::whiteColor());
    windowRectangle_->clearHighlight();

    if (group_) {
        const auto& c = group_->coordinates();
        windowRectangle_->setCoordinates(std::vector<CGFloat>(c.begin(), c.end()));
    } else {
        windowRectangle_->setCoordinates(std::nullopt);
    }
    layOut();
    spaceNameTextField_->setStringValue(group_ ? group_->name() : "");
    shortcutView_->setRecording(false);
    shortcutView_->setShortcutValue(group_ ? group_->shortcut() : nullptr);
    chooseStrictImage();
    std::weak_ptr<GroupCollectionViewItem> weak = sharedAs<GroupCollectionViewItem>();
    windowRectangle_->setOnClick([weak] {
        if (auto self = weak.lock()) self->showGroupSpace();
    });
}

void GroupCollectionViewItem::chooseStrictImage() {
    bool loose = group_ && group_->size() == kLooseSize;
    auto image = NSImage::imageNamed(loose ? "bolt-outline" : "bolt-solid");
    if (image) image->setSize({16, 16});
    strictSpaceButton_->setImage(image);
}

std::optional<GroupCollectionViewItem::StoredRow> GroupCollectionViewItem::storedRow() const {
    if (!group_ || !indexPath_ || indexPath_->item < 0) return std::nullopt;
    auto groups = UserDefaultsManager::currentGroups();
    auto index = static_cast<size_t>(indexPath_->item);
    if (index >= groups.size() || !sameSpace(*groups[index], *group_)) return std::nullopt;
    return StoredRow{std::move(groups), index};
}

void GroupCollectionViewItem::updateStrictSpace() {
    auto stored = storedRow();
    if (!stored) return;
    std::string size = stored->groups[stored->index]->size() == kLooseSize ? kStrictSize : kLooseSize;
    group_->setSize(size);
    stored->groups[stored->index] = group_;
    chooseStrictImage();
    UserDefaultsManager::replaceCurrentGroups(stored->groups);
    unregisterSpaceHotkey(group_->shortcut());
    WorkspaceManager::shared()->registerSpaceShortcut(group_);
}

void GroupCollectionViewItem::controlTextDidEndEditing(NSTextField&) {
    auto stored = storedRow();
    if (!stored) return;
    std::string name = spaceNameTextField_->stringValue();
    stored->groups[stored->index]->setName(name);
    group_->setName(name);
    UserDefaultsManager::replaceCurrentGroups(stored->groups);
}

void GroupCollectionViewItem::shortcutChanged() {
    shortcutView_->shortcutValidator()->setAllowAnyShortcutWithOptionModifier(true);
    auto shortcut = shortcutView_->shortcutValue();
    if (shortcut && !shortcutView_->isRecording()) return;
    auto stored = storedRow();
    if (!stored) return;
    updateShortcut(*stored);
    if (!shortcut) return;
    auto manager = WorkspaceManager::shared();
    manager->registerSpaceShortcut(group_);
    manager->registerResizeShortcut(shortcut, group_->coordinates());
}

void GroupCollectionViewItem::updateShortcut(const StoredRow& stored) {
    auto oldShortcut = stored.groups[stored.index]->shortcut();
    unregisterSpaceHotkey(group_->shortcut());
    WorkspaceManager::shared()->unregisterResizeShortcut(oldShortcut);
    auto value = shortcutView_->shortcutValue();
    stored.groups[stored.index]->setShortcut(value);
    UserDefaultsManager::replaceCurrentGroups(stored.groups);
    group_->setShortcut(value);
}

void GroupCollectionViewItem::showGroupSpace() {
    if (!group_) return;
    ShowSpacesManager::shared()->showSpace(group_->name(), group_->shortcut(), group_->coordinates());
}

void GroupCollectionViewItem::mouseEntered(const NSEvent& event) {
    NSCollectionViewItem::mouseEntered(event);
    CGPoint point = view()->convertPointFromView(event.locationInWindow(), nullptr);
    if (CGRectContainsPoint(strictSpaceButton_->frame(), point)) showTooltip();
    if (isSelected()) return;
    isHovered_ = true;
    applyLook("#F5F5F5", "#262626", false);
    windowRectangle_->setDarkHighlight();
}

void GroupCollectionViewItem::mouseExited(const NSEvent& event) {
    NSCollectionViewItem::mouseExited(event);
    CGPoint point = view()->convertPointFromView(event.locationInWindow(), nullptr);
    if (!CGRectContainsPoint(strictSpaceButton_->frame(), point)) tooltipView_->removeFromSuperview();
    if (isSelected()) return;
    isHovered_ = false;
    applyLook("#FFFFFF", "#262626", true);
    windowRectangle_->clearHighlight();
}

void GroupCollectionViewItem::showTooltip() {
    NSView* container = collectionView();
    for (int step = 0; step < 3 && container; ++step) container = container->superview();
    if (!container) return;
    CGSize text = tooltipViewText_->intrinsicContentSize();
    CGSize box{text.width + 20, text.height + 15};
    CGRect toggle = strictSpaceButton_->frame();
    CGPoint origin =
        view()->convertPointToView({toggle.midX() - box.width / 2, toggle.maxY() + 5}, container);
    CGRect bounds = container->bounds();
    origin.x = std::min(bounds.maxX() - box.width, std::max(origin.x, 0.0));
    origin.y = std::min(bounds.maxY() - box.height, std::max(origin.y, 0.0));
    tooltipView_->setFrame({origin, box});
    container->addSubview(tooltipView_);
}
