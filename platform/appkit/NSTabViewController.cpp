#include "platform/appkit/NSTabViewController.h"

void NSTabViewController::addTabViewItem(const std::shared_ptr<NSViewController>& controller) {
    if (!controller) return;
    addChildViewController(controller);
    if (selected_ < 0) setSelectedTabViewItemIndex(0);
}

void NSTabViewController::setSelectedTabViewItemIndex(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(childViewControllers().size()) || index == selected_)
        return;
    selected_ = index;
    if (isViewLoaded()) showSelectedTab();
}

void NSTabViewController::loadView() {
    setView(std::make_shared<NSView>());
    showSelectedTab();
}

void NSTabViewController::showSelectedTab() {
    const auto& container = view();
    auto shown = container->subviews();
    for (const auto& subview : shown) subview->removeFromSuperview();
    if (selected_ < 0) return;
    auto tabView = childViewControllers()[static_cast<size_t>(selected_)]->view();
    tabView->setFrame(container->bounds());
    container->addSubview(tabView);
}
