#include "Settings/ToolbarItemStyleViewController.h"

#include "platform/foundation/FatalError.h"

ToolbarItemStyleViewController::ToolbarItemStyleViewController(
    std::shared_ptr<NSToolbar> toolbar, std::vector<std::shared_ptr<SettingsPane>> panes)
    : toolbar_(std::move(toolbar)), panes_(std::move(panes)) {
    registerAction("toolbarItemSelected:", [this](NSObject* sender) { toolbarItemSelected(sender); });
}

std::vector<std::string> ToolbarItemStyleViewController::toolbarItemIdentifiers() {
    std::vector<std::string> out;
    for (const auto& pane : panes_) out.push_back(pane->paneIdentifier().rawValue);
    return out;
}

std::shared_ptr<NSToolbarItem> ToolbarItemStyleViewController::toolbarItem(const std::string& identifier) {
    for (const auto& pane : panes_) {
        if (pane->paneIdentifier().rawValue != identifier) continue;
        auto item = std::make_shared<NSToolbarItem>(identifier);
        item->setLabel(pane->paneTitle());
        item->setImage(pane->toolbarItemIcon());
        item->setTarget(sharedAs<NSObject>());
        item->setAction("toolbarItemSelected:");
        return item;
    }
    fatalError("Settings: no pane has the toolbar item identifier \"" + identifier + "\"");
}

void ToolbarItemStyleViewController::selectTab(int index) {
    if (index < 0 || index >= static_cast<int>(panes_.size())) fatalError("Settings: tab index out of range");
    toolbar_->setSelectedItemIdentifier(panes_[index]->paneIdentifier().rawValue);
}

void ToolbarItemStyleViewController::toolbarItemSelected(NSObject* sender) {
    auto delegate = delegate_.lock();
    auto* item = dynamic_cast<NSToolbarItem*>(sender);
    if (!delegate || !item) return;
    delegate->activateTab(Settings::PaneIdentifier(item->itemIdentifier()), true);
}
