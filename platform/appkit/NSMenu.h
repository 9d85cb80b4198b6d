#pragma once
// Menus as a model that can be read and clicked: items with titles, images, key equivalents,
// submenus and actions. An item sends its action to its target, or, without one, along the
// application's responder chain to the application delegate.
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSObject.h"

class NSMenu;

class NSMenuItem : public NSObject {
  public:
    NSMenuItem(std::string title, std::string action, std::string keyEquivalent);
    static std::shared_ptr<NSMenuItem> separatorItem();

    bool isSeparatorItem() const { return separator_; }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
    const std::shared_ptr<NSImage>& image() const { return image_; }
    void setImage(std::shared_ptr<NSImage> image) { image_ = std::move(image); }
    std::shared_ptr<NSObject> target() const { return target_.lock(); }
    void setTarget(const std::shared_ptr<NSObject>& target) { target_ = target; }
    // Command unless set otherwise, as for every new item.
    NSEventModifierFlags keyEquivalentModifierMask() const { return keyEquivalentModifierMask_; }
    void setKeyEquivalentModifierMask(NSEventModifierFlags mask) { keyEquivalentModifierMask_ = mask; }
    const std::shared_ptr<NSMenu>& submenu() const { return submenu_; }
    // The submenu's items then have this item as their parent.
    void setSubmenu(std::shared_ptr<NSMenu> submenu);
    // The menu holding this item; null until it is added to one.
    std::shared_ptr<NSMenu> menu() const { return menu_.lock(); }
    // The item whose submenu holds this item; null for an item of a top-level menu.
    std::shared_ptr<NSMenuItem> parentItem() const;
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

  private:
    std::string title_;
    std::string action_;
    std::string keyEquivalent_;
    std::shared_ptr<NSImage> image_;
    std::weak_ptr<NSObject> target_;
    NSEventModifierFlags keyEquivalentModifierMask_ = NSEventModifierFlagCommand;
    std::shared_ptr<NSMenu> submenu_;
    std::weak_ptr<NSMenu> menu_;
    int tag_ = 0;
    bool separator_ = false;
    friend class NSMenu;
};

// Made as a shared object, so that its items and its parent item can refer back to it.
class NSMenu : public std::enable_shared_from_this<NSMenu> {
  public:
    explicit NSMenu(std::string title = {}) : title_(std::move(title)) {}

    const std::string& title() const { return title_; }
    void addItem(std::shared_ptr<NSMenuItem> item);
    // The item this menu is the submenu of.
    std::shared_ptr<NSMenuItem> supermenuItem() const { return supermenuItem_.lock(); }
    std::shared_ptr<NSMenuItem> addItemWithTitle(std::string title, std::string action,
                                                 std::string keyEquivalent);
    const std::vector<std::shared_ptr<NSMenuItem>>& itemArray() const { return items_; }
    size_t numberOfItems() const { return items_.size(); }
    std::shared_ptr<NSMenuItem> itemWithTitle(const std::string& title) const;
    // The user picks the item: its action is sent; false when nobody answered it (or it has
    // none: a separator or a submenu's parent).
    bool performActionForItemAtIndex(size_t index);

  private:
    std::string title_;
    std::vector<std::shared_ptr<NSMenuItem>> items_;
    std::weak_ptr<NSMenuItem> supermenuItem_;
    friend class NSMenuItem;
};
