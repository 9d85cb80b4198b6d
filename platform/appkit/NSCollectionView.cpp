#include "platform/appkit/NSCollectionView.h"

#include <algorithm>

NSCollectionView::NSCollectionView(CGRect frame) : NSView(frame) {
    registerAction("deselectAll:", [this](NSObject*) { userSelect({}, selection_); });
}

void NSCollectionView::registerClass(ItemFactory factory, const std::string& identifier) {
    factories_[identifier] = std::move(factory);
}

std::shared_ptr<NSCollectionViewItem> NSCollectionView::makeItemWithIdentifier(const std::string& identifier,
                                                                               const NSIndexPath&) {
    std::shared_ptr<NSCollectionViewItem> item;
    auto& pool = reusable_[identifier];
    if (!pool.empty()) {
        item = pool.front();
        pool.erase(pool.begin());
    } else if (auto factory = factories_.find(identifier); factory != factories_.end()) {
        item = factory->second();
    }
    if (!item) return nullptr;
    item->collectionView_ = this;
    identifiers_[item.get()] = identifier;
    item->view();
    return item;
}

void NSCollectionView::reloadData() {
    for (auto& item : items_) {
        item->view()->removeFromSuperview();
        item->setSelected(false);
        reusable_[identifiers_[item.get()]].push_back(item);
    }
    items_.clear();
    selection_.clear();
    auto source = dataSource_.lock();
    if (!source) return;
    int count = std::max(0, source->numberOfItemsInSection(*this, 0));
    for (int i = 0; i < count; ++i) {
        auto item = source->itemForRepresentedObjectAtIndexPath(*this, {0, i});
        if (!item) continue;
        items_.push_back(item);
        addSubview(item->view());
    }
    setFrameSize({frame().size.width, contentHeight()});
    layout();
}

CGFloat NSCollectionView::contentHeight() const {
    if (items_.empty()) return 0;
    CGFloat n = CGFloat(items_.size());
    return n * layout_.itemSize.height + (n - 1) * layout_.minimumLineSpacing;
}

void NSCollectionView::layout() {
    for (size_t i = 0; i < items_.size(); ++i) {
        CGFloat y = CGFloat(i) * (layout_.itemSize.height + layout_.minimumLineSpacing);
        items_[i]->view()->setFrame({0, y, layout_.itemSize.width, layout_.itemSize.height});
    }
    NSView::layout();
}

int NSCollectionView::numberOfItemsInSection(int section) const {
    return section == 0 ? static_cast<int>(items_.size()) : 0;
}

std::shared_ptr<NSCollectionViewItem> NSCollectionView::itemAtIndexPath(const NSIndexPath& path) const {
    if (path.section != 0 || path.item < 0 || path.item >= static_cast<int>(items_.size())) return nullptr;
    return items_[path.item];
}

void NSCollectionView::selectItemsAtIndexPaths(const NSIndexPathSet& paths,
                                               NSCollectionViewScrollPosition position) {
    scrollPosition_ = position;
    for (const auto& path : paths) {
        if (!itemAtIndexPath(path)) continue;
        if (!multiple_) deselectItemsAtIndexPaths(selection_);
        selection_.insert(path);
        itemAtIndexPath(path)->setSelected(true);
    }
}

void NSCollectionView::deselectItemsAtIndexPaths(const NSIndexPathSet& given) {
    // The caller may pass the selection itself.
    NSIndexPathSet paths = given;
    for (const auto& path : paths) {
        if (!selection_.erase(path)) continue;
        if (auto item = itemAtIndexPath(path)) item->setSelected(false);
    }
}

void NSCollectionView::userSelect(const NSIndexPathSet& select, const NSIndexPathSet& deselect) {
    NSIndexPathSet dropped = deselect;
    deselectItemsAtIndexPaths(dropped);
    for (const auto& path : select) {
        selection_.insert(path);
        if (auto item = itemAtIndexPath(path)) item->setSelected(true);
    }
    auto delegate = delegate_.lock();
    if (!delegate) return;
    if (!dropped.empty()) delegate->didDeselectItemsAtIndexPaths(*this, dropped);
    if (!select.empty()) delegate->didSelectItemsAtIndexPaths(*this, select);
}

void NSCollectionView::mouseDown(const NSEvent& event) {
    CGPoint point = convertPointFromView(event.locationInWindow(), nullptr);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (!CGRectContainsPoint(items_[i]->view()->frame(), point)) continue;
        NSIndexPath path{0, static_cast<int>(i)};
        if (!selectable_ || selection_.count(path)) return;
        userSelect({path}, multiple_ ? NSIndexPathSet{} : selection_);
        return;
    }
    userSelect({}, selection_);
}
