#include "Settings/SegmentedControlStyleViewController.h"

#include <algorithm>

#include "platform/appkit/NSMenu.h"
#include "platform/appkit/NSStringDrawing.h"
#include "platform/foundation/FatalError.h"

SegmentedControlStyleViewController::SegmentedControlStyleViewController() {
    registerAction("segmentedControlAction:", [this](NSObject* sender) { segmentedControlAction(sender); });
    registerAction("segmentedControlMenuAction:",
                   [this](NSObject* sender) { segmentedControlMenuAction(sender); });
}

SegmentedControlStyleViewController::SegmentedControlStyleViewController(KeyedUnarchiver&) {
    fatalError("init(coder:) has not been implemented");
}

void SegmentedControlStyleViewController::loadView() {
    if (!panes_) fatalError("Settings: the segmented control needs its panes before its view");
    setView(makeSegmentedControl(*panes_));
}

std::vector<std::string> SegmentedControlStyleViewController::toolbarItemIdentifiers() {
    return {NSToolbarFlexibleSpaceItemIdentifier, kToolbarItemIdentifier,
            NSToolbarFlexibleSpaceItemIdentifier};
}

std::shared_ptr<NSToolbarItem> SegmentedControlStyleViewController::toolbarItem(
    const std::string& identifier) {
    if (identifier != kToolbarItemIdentifier)
        fatalError("Settings: unknown toolbar item \"" + identifier + "\"");
    auto group = std::make_shared<NSToolbarItemGroup>(identifier);
    if (std::dynamic_pointer_cast<NSSegmentedControl>(view())) group->setView(view());
    std::vector<std::shared_ptr<NSToolbarItem>> subitems;
    const auto& panes = panes_.value_or(std::vector<std::shared_ptr<SettingsPane>>{});
    for (size_t i = 0; i < panes.size(); ++i) {
        std::string title = panes[i]->paneTitle();
        auto item = std::make_shared<NSToolbarItem>(kSegmentItemPrefix + title);
        item->setLabel(title);
        auto menuItem = std::make_shared<NSMenuItem>(title, "segmentedControlMenuAction:", "");
        menuItem->setTag(static_cast<int>(i));
        menuItem->setTarget(sharedAs<NSObject>());
        item->setMenuFormRepresentation(menuItem);
        subitems.push_back(item);
    }
    group->setSubitems(std::move(subitems));
    return group;
}

void SegmentedControlStyleViewController::selectTab(int index) {
    auto control = std::dynamic_pointer_cast<NSSegmentedControl>(view());
    if (!control) fatalError("Settings: the segmented style's view is not a segmented control");
    control->setSelectedSegment(index);
}

void SegmentedControlStyleViewController::segmentedControlAction(NSObject* sender) {
    auto delegate = delegate_.lock();
    auto* control = dynamic_cast<NSSegmentedControl*>(sender);
    if (delegate && control) delegate->activateTab(control->selectedSegment(), true);
}

void SegmentedControlStyleViewController::segmentedControlMenuAction(NSObject* sender) {
    auto delegate = delegate_.lock();
    auto* item = dynamic_cast<NSMenuItem*>(sender);
    if (delegate && item) delegate->activateTab(item->tag(), true);
}

CGSize SegmentedControlStyleViewController::segmentSize(
    const std::vector<std::shared_ptr<SettingsPane>>& panes) {
    TextAttributes attributes{
        NSFont::systemFontOfSize(NSFont::systemFontSizeForControlSize(NSControlSize::Regular)), {}};
    CGFloat width = 0, height = 0;
    for (const auto& pane : panes) {
        CGSize size = NSStringSize(pane->paneTitle(), attributes);
        width = std::max(width, size.width);
        height = std::max(height, size.height);
    }
    return {width + 36, height + 12};
}

std::shared_ptr<NSSegmentedControl> SegmentedControlStyleViewController::makeSegmentedControl(
    const std::vector<std::shared_ptr<SettingsPane>>& panes) {
    auto control = std::make_shared<NSSegmentedControl>();
    int n = static_cast<int>(panes.size());
    control->setSegmentCount(n);
    control->setSegmentStyle(NSSegmentStyle::TexturedSquare);
    control->setTarget(sharedAs<NSObject>());
    control->setAction("segmentedControlAction:");
    control->setIdentifier(kControlIdentifier);
    control->setControlSize(NSControlSize::Regular);
    control->setTrackingMode(NSSegmentSwitchTracking::SelectOne);
    CGSize segment = segmentSize(panes);
    control->setFrame({0, 0, segment.width * n + n + 1, segment.height});
    for (int i = 0; i < n; ++i) {
        control->setLabel(panes[i]->paneTitle(), i);
        control->setWidth(segment.width, i);
        control->setTag(i, i);
    }
    return control;
}
