#include "platform/appkit/NSToolbar.h"

bool NSToolbarItem::performAction() {
    auto target = target_.lock();
    return target && !action_.empty() && target->performSelector(action_, this);
}

const std::vector<std::shared_ptr<NSToolbarItem>>& NSToolbar::items() {
    if (items_) return *items_;
    items_.emplace();
    auto delegate = delegate_.lock();
    if (!delegate) return *items_;
    for (const auto& id : delegate->toolbarDefaultItemIdentifiers(*this)) {
        auto item = delegate->toolbarItemForItemIdentifier(*this, id, true);
        if (!item && id == NSToolbarFlexibleSpaceItemIdentifier) item = std::make_shared<NSToolbarItem>(id);
        if (item) items_->push_back(std::move(item));
    }
    return *items_;
}

std::vector<std::string> NSToolbar::itemIdentifiers() {
    std::vector<std::string> out;
    for (const auto& item : items()) out.push_back(item->itemIdentifier());
    return out;
}
