#include "platform/appkit/NSMenu.h"

#include "platform/appkit/NSApplication.h"

NSMenuItem::NSMenuItem(std::string title, std::string action, std::string keyEquivalent)
    : title_(std::move(title)), action_(std::move(action)), keyEquivalent_(std::move(keyEquivalent)) {}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
    auto item = std::make_shared<NSMenuItem>("", "", "");
    item->separator_ = true;
    return item;
}

void NSMenuItem::setSubmenu(std::shared_ptr<NSMenu> submenu) {
    if (submenu_) submenu_->supermenuItem_.reset();
    submenu_ = std::move(submenu);
    if (submenu_) submenu_->supermenuItem_ = sharedAs<NSMenuItem>();
}

std::shared_ptr<NSMenuItem> NSMenuItem::parentItem() const {
    auto holder = menu();
    return holder ? holder->supermenuItem() : nullptr;
}

void NSMenu::addItem(std::shared_ptr<NSMenuItem> item) {
    item->menu_ = weak_from_this();
    items_.push_back(std::move(item));
}

std::shared_ptr<NSMenuItem> NSMenu::addItemWithTitle(std::string title, std::string action,
                                                     std::string keyEquivalent) {
    auto item = std::make_shared<NSMenuItem>(std::move(title), std::move(action), std::move(keyEquivalent));
    addItem(item);
    return item;
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTitle(const std::string& title) const {
    for (const auto& item : items_)
        if (!item->isSeparatorItem() && item->title() == title) return item;
    return nullptr;
}

bool NSMenu::performActionForItemAtIndex(size_t index) {
    if (index >= items_.size()) return false;
    auto item = items_[index];
    if (item->isSeparatorItem() || item->action().empty()) return false;
    return NSApplication::sharedApplication()->sendAction(item->action(), item->target().get(), item.get());
}
