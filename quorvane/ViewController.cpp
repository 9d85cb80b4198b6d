#include "quorvane/ViewController.h"

#include "platform/appkit/NSStackView.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FatalError.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "quorvane/CreateSpacesManager.h"
#include "quorvane/Extensions.h"
#include "quorvane/GroupCollectionViewItem.h"
#include "quorvane/PaneIdentifiers.h"
#include "quorvane/UsageEvents.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/WorkspaceManager.h"

namespace {
std::shared_ptr<NSImage> sizedImage(const char* name, std::optional<CGFloat> width,
                                    std::optional<CGFloat> height) {
    auto image = NSImage::imageNamed(name);
    if (image) image->setSize({width.value_or(image->size().width), height.value_or(image->size().height)});
    return image;
}
}  // namespace

ViewController::ViewController(GroupsSource storedGroups)
    : emptySpacesTextField_(NSTextField::wrappingLabelWithString(kEmptyText)),
      spacesLabel_(NSTextField::labelWithString("Spaces")),
      editSpacesButton_(std::make_shared<CubeButton>()),
      deleteSpacesButton_(std::make_shared<CubeButton>()),
      collectionView_(std::make_shared<NSCollectionView>()),
      scrollView_(std::make_shared<NSScrollView>()),
      infoButton_(std::make_shared<InfoButton>(kInfoText)),
      storedGroups_(std::move(storedGroups)) {
    emptySpacesTextField_->setFont(NSFont::systemFontOfSize(13, NSFontWeightSemibold));
    emptySpacesTextField_->setTextColor(hexColor("#626264", 1.0));
    emptySpacesTextField_->setSelectable(false);
    emptySpacesTextField_->setHidden(true);
    emptySpacesTextField_->setAlignment(NSTextAlignment::Center);
    emptySpacesTextField_->setPreferredMaxLayoutWidth(215);

    spacesLabel_->setFont(NSFont::systemFontOfSize(15, NSFontWeightSemibold));

    auto plus = editSpacesButton_->button();
    plus->setImage(sizedImage("plus", 12.5, 12.5));
    plus->setImagePosition(NSCellImagePosition::ImageOnly);
    plus->setAction("createNewGroup");
    plus->layer()->setBackgroundColor(hexColor("#EAF2FF", 1.0));

    deleteSpacesButton_->setWantsLayer(true);
    deleteSpacesButton_->layer()->setOpacity(0.3f);
    auto minus = deleteSpacesButton_->button();
    minus->setImage(sizedImage("minus", 12.5, std::nullopt));
    minus->setImagePosition(NSCellImagePosition::ImageOnly);
    minus->setAction("deleteSelectedSpace");
    minus->setEnabled(false);

    collectionView_->setCollectionViewLayout({NSCollectionViewScrollDirection::Vertical, 4, 4, {462, 36}});
    collectionView_->setSelectable(true);
    collectionView_->setAllowsMultipleSelection(false);
    collectionView_->registerClass([] { return std::make_shared<GroupCollectionViewItem>(); },
                                   GroupCollectionViewItem::kIdentifier);

    scrollView_->setScrollerInsets({0, 0, 0, -100});

    registerAction("createNewGroup", [this](NSObject*) { createNewGroup(); });
    registerAction("deleteSelectedSpace", [this](NSObject*) { deleteSelectedSpace(); });
}

Settings::PaneIdentifier ViewController::paneIdentifier() const {
    return spacesPaneIdentifier();
}

std::shared_ptr<NSImage> ViewController::toolbarItemIcon() const {
    auto image = NSImage::imageNamed("spaces");
    if (!image) fatalError("Image \"spaces\" not available");
    return image;
}

void ViewController::loadView() {
    setView(std::make_shared<NSView>(CGRect{0, 0, 510, 330}));
}

void ViewController::viewDidLoad() {
    SettingsPane::viewDidLoad();
    auto& root = *view();
    setPreferredContentSize({510, 330});
    auto self = sharedAs<ViewController>();
    collectionView_->setDelegate(self);
    collectionView_->setDataSource(self);
    scrollView_->setDocumentView(collectionView_);
    root.setWantsLayer(true);
    root.layer()->setBackgroundColor(NSColor::whiteColor());

    auto title = NSStackView::stackViewWithViews({spacesLabel_, infoButton_});
    title->setSpacing(5);
    auto buttons = NSStackView::stackViewWithViews({editSpacesButton_, deleteSpacesButton_});
    buttons->setDistribution(NSStackViewDistribution::EqualSpacing);
    buttons->setSpacing(0);
    for (const auto& cube : {editSpacesButton_, deleteSpacesButton_})
        NSLayoutConstraint::activateConstraints(
            {cube->widthAnchor().constraintEqualToConstant(CubeButton::SIZE),
             cube->heightAnchor().constraintEqualToConstant(CubeButton::SIZE)});
    auto header = NSStackView::stackViewWithViews({title, buttons});
    header->setDistribution(NSStackViewDistribution::EqualCentering);
    root.addSubview(header);
    pinEdges(*header, {.top = root.topAnchor(),
                       .left = root.leftAnchor(),
                       .right = root.rightAnchor(),
                       .paddingTop = 16,
                       .paddingLeft = 24,
                       .paddingRight = 24,
                       .height = 28});

    root.addSubview(scrollView_);
    pinEdges(*scrollView_, {.top = spacesLabel_->bottomAnchor(),
                            .left = root.leftAnchor(),
                            .bottom = root.bottomAnchor(),
                            .right = root.rightAnchor(),
                            .paddingTop = 16,
                            .paddingLeft = 24,
                            .paddingRight = 24});

    root.addSubview(emptySpacesTextField_);
    emptySpacesTextField_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        emptySpacesTextField_->centerXAnchor().constraintEqualToAnchor(root.centerXAnchor()),
        emptySpacesTextField_->centerYAnchor().constraintEqualToAnchor(root.centerYAnchor(), 0),
    });

    std::weak_ptr<ViewController> weak = self;
    updateObserver_ = NotificationCenter::defaultCenter().addObserver(
        WorkspaceManager::kUpdateWorkspaceNotification, [weak](const Notification&) {
            if (auto pane = weak.lock()) pane->reloadList();
        });
    collectionView_->reloadData();
}

void ViewController::reloadList() {
    collectionView_->reloadData();
}

// A reload asks for the count first and then for each row, so the count reads the store.
int ViewController::numberOfItemsInSection(NSCollectionView&, int) {
    rows_ = storedGroups_();
    int count = static_cast<int>(rows_.size());
    emptySpacesTextField_->setHidden(count != 0);
    return count;
}

std::shared_ptr<NSCollectionViewItem> ViewController::itemForRepresentedObjectAtIndexPath(
    NSCollectionView& view, const NSIndexPath& path) {
    auto item = std::dynamic_pointer_cast<GroupCollectionViewItem>(
        view.makeItemWithIdentifier(GroupCollectionViewItem::kIdentifier, path));
    if (!item) fatalError("Spaces rows must be GroupCollectionViewItem");
    item->setGroup(path.item >= 0 && static_cast<size_t>(path.item) < rows_.size() ? rows_[path.item]
                                                                                   : nullptr);
    std::weak_ptr<GroupCollectionViewItem> weak = item;
    item->shortcutView()->setShortcutValueChange([weak](MASShortcutView&) {
        if (auto row = weak.lock()) row->shortcutChanged();
    });
    item->setIndexPath(path);
    item->configureRow();
    return item;
}

void ViewController::showLooksForSelection(bool selected) {
    if (selected) {
        editSpacesButton_->disable();
        deleteSpacesButton_->enable();
    } else {
        editSpacesButton_->enable();
        deleteSpacesButton_->disable();
    }
}

void ViewController::didSelectItemsAtIndexPaths(NSCollectionView& view, const NSIndexPathSet& paths) {
    int last = view.numberOfItemsInSection(0) - 1;
    if (auto delegate = view.delegate()) delegate->didDeselectItemsAtIndexPaths(view, {NSIndexPath{0, last}});
    if (paths.empty()) return;
    if (auto item = std::dynamic_pointer_cast<GroupCollectionViewItem>(view.itemAtIndexPath(*paths.begin())))
        item->setSelected(true);
    showLooksForSelection(true);
}

void ViewController::didDeselectItemsAtIndexPaths(NSCollectionView& view, const NSIndexPathSet& paths) {
    if (paths.empty()) return;
    if (auto item = std::dynamic_pointer_cast<GroupCollectionViewItem>(view.itemAtIndexPath(*paths.begin())))
        item->setSelected(false);
    showLooksForSelection(false);
}

void ViewController::mouseDown(const NSEvent& event) {
    SettingsPane::mouseDown(event);
    collectionView_->deselectItemsAtIndexPaths(collectionView_->selectionIndexPaths());
    showLooksForSelection(false);
}

void ViewController::viewWillAppear() {
    SettingsPane::viewWillAppear();
    showLooksForSelection(false);
}

void ViewController::viewDidAppear() {
    SettingsPane::viewDidAppear();
    if (NSWindow* window = view()->window()) window->setLevel(NSFloatingWindowLevel);
}

void ViewController::createNewGroup() {
    auto self = sharedAs<ViewController>();
    CreateSpacesManager::shared()->showCreateOverlay(
        [self](const std::string& name, const std::shared_ptr<MASShortcut>& shortcut, CGFloat x1, CGFloat y1,
               CGFloat x2, CGFloat y2) { self->addCreatedGroup(name, shortcut, x1, y1, x2, y2); });
}

void ViewController::addCreatedGroup(const std::string& name, const std::shared_ptr<MASShortcut>& shortcut,
                                     CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
    auto group = UserDefaultsManager::addGroup(name, shortcut, x1, y1, x2, y2);
    auto manager = WorkspaceManager::shared();
    manager->registerSpaceShortcut(group);
    manager->registerResizeShortcut(group->shortcut(), group->coordinates());
    collectionView_->reloadData();
    std::weak_ptr<NSCollectionView> list = collectionView_;
    DispatchQueue::main()->async([list] {
        auto view = list.lock();
        if (!view) return;
        int last = view->numberOfItemsInSection(0) - 1;
        view->selectItemsAtIndexPaths({NSIndexPath{0, last}}, NSCollectionViewScrollPositionBottom);
    });
    UsageEvents::record("created_space");
}

void ViewController::deleteSelectedSpace() {
    const auto& selection = collectionView_->selectionIndexPaths();
    if (selection.empty()) return;
    int index = selection.begin()->item;
    auto before = UserDefaultsManager::currentGroups();
    auto after = UserDefaultsManager::currentGroups();
    // A selection beyond the stored list (the store changed without a reload) deletes nothing.
    if (index < 0 || static_cast<size_t>(index) >= after.size()) return;
    after.erase(after.begin() + index);
    UserDefaultsManager::replaceCurrentGroups(after);
    auto shortcut = before[index]->shortcut();
    if (shortcut)
        if (auto monitor = MASShortcutMonitor::sharedMonitor()) monitor->unregisterShortcut(shortcut);
    WorkspaceManager::shared()->unregisterResizeShortcut(shortcut);
    collectionView_->reloadData();
    showLooksForSelection(false);
    UsageEvents::record("deleted_space");
}
