#include "platform/appkit/NSStatusBar.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<NSStatusBar> sharedBar;
}  // namespace

std::shared_ptr<NSStatusBar> NSStatusBar::systemStatusBar() {
    return sharedBar.get();
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
