#include "platform/appkit/NSStatusBar.h"

std::shared_ptr<NSStatusBar> NSStatusBar::systemStatusBar() {
    static auto* bar = new std::shared_ptr<NSStatusBar>(std::make_shared<NSStatusBar>());
    return *bar;
}

std::shared_ptr<NSStatusItem> NSStatusBar::statusItemWithLength(CGFloat length) {
    auto item = std::make_shared<NSStatusItem>(length);
    std::erase_if(items_, [](auto& weak) { return weak.expired(); });
    items_.push_back(item);
    return item;
}

void NSStatusBar::removeStatusItem(const std::shared_ptr<NSStatusItem>& item) {
    std::erase_if(items_, [&](auto& weak) { return weak.expired() || weak.lock() == item; });
}

std::vector<std::shared_ptr<NSStatusItem>> NSStatusBar::statusItems() const {
    std::vector<std::shared_ptr<NSStatusItem>> out;
    for (const auto& weak : items_)
        if (auto item = weak.lock()) out.push_back(item);
    return out;
}
