#pragma once
// A list of items laid out by a flow layout (one column when scrolling vertically), made by the
// data source and reused across reloads. Clicking an item selects it and tells the delegate;
// selecting or deselecting from code tells nobody.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/appkit/NSViewController.h"

struct NSIndexPath {
    int section = 0;
    int item = 0;
    auto operator<=>(const NSIndexPath&) const = default;
};
using NSIndexPathSet = std::set<NSIndexPath>;

class NSCollectionView;

class NSCollectionViewItem : public NSViewController {
  public:
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected) { selected_ = selected; }
    NSCollectionView* collectionView() const { return collectionView_; }

  private:
    friend class NSCollectionView;
    bool selected_ = false;
    NSCollectionView* collectionView_ = nullptr;
};

enum class NSCollectionViewScrollDirection { Vertical = 0, Horizontal = 1 };

struct NSCollectionViewFlowLayout {
    NSCollectionViewScrollDirection scrollDirection = NSCollectionViewScrollDirection::Vertical;
    CGFloat minimumInteritemSpacing = 10;
    CGFloat minimumLineSpacing = 10;
    CGSize itemSize{50, 50};
};

using NSCollectionViewScrollPosition = uint32_t;
inline constexpr NSCollectionViewScrollPosition NSCollectionViewScrollPositionNone = 0;
inline constexpr NSCollectionViewScrollPosition NSCollectionViewScrollPositionTop = 1 << 0;
inline constexpr NSCollectionViewScrollPosition NSCollectionViewScrollPositionBottom = 1 << 2;

class NSCollectionViewDataSource {
  public:
    virtual ~NSCollectionViewDataSource() = default;
    virtual int numberOfItemsInSection(NSCollectionView& view, int section) = 0;
    virtual std::shared_ptr<NSCollectionViewItem> itemForRepresentedObjectAtIndexPath(
        NSCollectionView& view, const NSIndexPath& path) = 0;
};

class NSCollectionViewDelegate {
  public:
    virtual ~NSCollectionViewDelegate() = default;
    virtual void didSelectItemsAtIndexPaths(NSCollectionView&, const NSIndexPathSet&) {}
    virtual void didDeselectItemsAtIndexPaths(NSCollectionView&, const NSIndexPathSet&) {}
};

class NSCollectionView : public NSView {
  public:
    using ItemFactory = std::function<std::shared_ptr<NSCollectionViewItem>()>;

    explicit NSCollectionView(CGRect frame = {});

    const NSCollectionViewFlowLayout& collectionViewLayout() const { return layout_; }
    void setCollectionViewLayout(const NSCollectionViewFlowLayout& layout) { layout_ = layout; }
    // Held weakly.
    void setDataSource(const std::shared_ptr<NSCollectionViewDataSource>& source) { dataSource_ = source; }
    void setDelegate(const std::shared_ptr<NSCollectionViewDelegate>& delegate) { delegate_ = delegate; }
    std::shared_ptr<NSCollectionViewDelegate> delegate() const { return delegate_.lock(); }
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }
    bool allowsMultipleSelection() const { return multiple_; }
    void setAllowsMultipleSelection(bool allows) { multiple_ = allows; }

    void registerClass(ItemFactory factory, const std::string& identifier);
    // A reused item of that identifier when one is free, else a new one.
    std::shared_ptr<NSCollectionViewItem> makeItemWithIdentifier(const std::string& identifier,
                                                                 const NSIndexPath& path);

    // Asks the data source for every item again; the selection is dropped.
    void reloadData();
    int numberOfItemsInSection(int section) const;
    std::shared_ptr<NSCollectionViewItem> itemAtIndexPath(const NSIndexPath& path) const;
    const std::vector<std::shared_ptr<NSCollectionViewItem>>& visibleItems() const { return items_; }

    const NSIndexPathSet& selectionIndexPaths() const { return selection_; }
    void selectItemsAtIndexPaths(const NSIndexPathSet& paths, NSCollectionViewScrollPosition position);
    void deselectItemsAtIndexPaths(const NSIndexPathSet& paths);
    NSCollectionViewScrollPosition lastScrollPosition() const { return scrollPosition_; }

    bool isFlipped() const override { return true; }
    void layout() override;
    // A click on an item selects it; a click between items deselects everything.
    void mouseDown(const NSEvent& event) override;

  private:
    void userSelect(const NSIndexPathSet& select, const NSIndexPathSet& deselect);
    CGFloat contentHeight() const;

    NSCollectionViewFlowLayout layout_;
    std::weak_ptr<NSCollectionViewDataSource> dataSource_;
    std::weak_ptr<NSCollectionViewDelegate> delegate_;
    bool selectable_ = false, multiple_ = false;
    std::map<std::string, ItemFactory> factories_;
    std::map<std::string, std::vector<std::shared_ptr<NSCollectionViewItem>>> reusable_;
    std::map<const NSCollectionViewItem*, std::string> identifiers_;
    std::vector<std::shared_ptr<NSCollectionViewItem>> items_;
    NSIndexPathSet selection_;
    NSCollectionViewScrollPosition scrollPosition_ = NSCollectionViewScrollPositionNone;
};
