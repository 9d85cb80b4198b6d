#pragma once
// A window toolbar whose items its delegate supplies by identifier, in the delegate's default
// order; the standard flexible space is supplied by the toolbar itself. The items are made when
// the toolbar first needs them (attached to a window, or asked for them).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSObject.h"

class NSMenuItem;
class NSToolbar;
class NSView;

inline constexpr const char* NSToolbarFlexibleSpaceItemIdentifier = "NSToolbarFlexibleSpaceItem";

enum class NSToolbarDisplayMode { Default = 0, IconAndLabel = 1, IconOnly = 2, LabelOnly = 3 };

class NSToolbarItem : public NSObject {
  public:
    explicit NSToolbarItem(std::string itemIdentifier) : identifier_(std::move(itemIdentifier)) {}

    const std::string& itemIdentifier() const { return identifier_; }
    const std::string& label() const { return label_; }
    void setLabel(std::string label) { label_ = std::move(label); }
    const std::shared_ptr<NSImage>& image() const { return image_; }
    void setImage(std::shared_ptr<NSImage> image) { image_ = std::move(image); }
    std::shared_ptr<NSObject> target() const { return target_.lock(); }
    void setTarget(const std::shared_ptr<NSObject>& target) { target_ = target; }
    const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    const std::shared_ptr<NSView>& view() const { return view_; }
    void setView(std::shared_ptr<NSView> view) { view_ = std::move(view); }
    const std::shared_ptr<NSMenuItem>& menuFormRepresentation() const { return menuForm_; }
    void setMenuFormRepresentation(std::shared_ptr<NSMenuItem> item) { menuForm_ = std::move(item); }

    // A click on the item: sends its action to its target.
    bool performAction();

  private:
    std::string identifier_, label_, action_;
    std::shared_ptr<NSImage> image_;
    std::weak_ptr<NSObject> target_;
    std::shared_ptr<NSView> view_;
    std::shared_ptr<NSMenuItem> menuForm_;
};

class NSToolbarItemGroup : public NSToolbarItem {
  public:
    using NSToolbarItem::NSToolbarItem;
    const std::vector<std::shared_ptr<NSToolbarItem>>& subitems() const { return subitems_; }
    void setSubitems(std::vector<std::shared_ptr<NSToolbarItem>> items) { subitems_ = std::move(items); }

  private:
    std::vector<std::shared_ptr<NSToolbarItem>> subitems_;
};

class NSToolbarDelegate {
  public:
    virtual ~NSToolbarDelegate() = default;
    virtual std::vector<std::string> toolbarDefaultItemIdentifiers(NSToolbar& toolbar) = 0;
    virtual std::vector<std::string> toolbarAllowedItemIdentifiers(NSToolbar& toolbar) = 0;
    virtual std::vector<std::string> toolbarSelectableItemIdentifiers(NSToolbar&) { return {}; }
    // Null lets the toolbar supply a standard item (the flexible space).
    virtual std::shared_ptr<NSToolbarItem> toolbarItemForItemIdentifier(NSToolbar& toolbar,
                                                                        const std::string& identifier,
                                                                        bool willBeInsertedIntoToolbar) = 0;
};

class NSToolbar : public NSObject {
  public:
    explicit NSToolbar(std::string identifier) : identifier_(std::move(identifier)) {}

    const std::string& identifier() const { return identifier_; }
    std::shared_ptr<NSToolbarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<NSToolbarDelegate>& delegate) { delegate_ = delegate; }
    bool allowsUserCustomization() const { return allowsCustomization_; }
    void setAllowsUserCustomization(bool allows) { allowsCustomization_ = allows; }
    NSToolbarDisplayMode displayMode() const { return displayMode_; }
    void setDisplayMode(NSToolbarDisplayMode mode) { displayMode_ = mode; }
    bool showsBaselineSeparator() const { return baselineSeparator_; }
    void setShowsBaselineSeparator(bool shows) { baselineSeparator_ = shows; }
    bool isVisible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }
    const std::optional<std::string>& selectedItemIdentifier() const { return selected_; }
    void setSelectedItemIdentifier(std::optional<std::string> identifier) {
        selected_ = std::move(identifier);
    }

    const std::vector<std::shared_ptr<NSToolbarItem>>& items();
    std::vector<std::string> itemIdentifiers();

  private:
    std::string identifier_;
    std::weak_ptr<NSToolbarDelegate> delegate_;
    bool allowsCustomization_ = false;
    NSToolbarDisplayMode displayMode_ = NSToolbarDisplayMode::Default;
    bool baselineSeparator_ = true;
    bool visible_ = true;
    std::optional<std::string> selected_;
    std::optional<std::vector<std::shared_ptr<NSToolbarItem>>> items_;
};
