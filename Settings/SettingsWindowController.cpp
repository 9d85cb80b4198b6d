#include "Settings/SettingsWindowController.h"

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSToolbar.h"
#include "platform/foundation/FatalError.h"
#include "platform/foundation/ProcessInfo.h"

namespace {

std::vector<std::shared_ptr<SettingsPane>> converted(
    const std::vector<std::shared_ptr<SettingsPaneConvertible>>& in) {
    std::vector<std::shared_ptr<SettingsPane>> out;
    for (const auto& convertible : in) out.push_back(convertible->settingsPane());
    return out;
}

std::shared_ptr<NSWindow> makeWindow(const std::vector<std::shared_ptr<SettingsPane>>& panes) {
    if (panes.empty()) fatalError("Settings: a settings window needs at least one pane");
    CGRect content = panes.front()->view()->bounds();
    return std::make_shared<UserInteractionPausableWindow>(
        content, NSWindowStyleMaskTitled | NSWindowStyleMaskClosable, NSBackingStoreType::Buffered, true);
}

}  // namespace

SettingsWindowController::SettingsWindowController(std::vector<std::shared_ptr<SettingsPane>> panes,
                                                   Settings::Style style, bool animated,
                                                   bool hidesToolbarForSingleItem)
    : NSWindowController(makeWindow(panes)),
      tabViewController_(std::make_shared<SettingsTabViewController>()),
      hidesToolbarForSingleItem_(hidesToolbarForSingleItem) {
    auto& w = *window();
    w.setContentViewController(tabViewController_);
    bool hideTitle = style == Settings::Style::segmentedControl && panes.size() != 1;
    w.setTitleVisibility(hideTitle ? NSWindowTitleVisibility::Hidden : NSWindowTitleVisibility::Visible);
    if (ProcessInfo::isOperatingSystemAtLeastVersion({11, 0, 0}) && style == Settings::Style::toolbarItems)
        w.setToolbarStyle(NSWindowToolbarStyle::Preference);
    tabViewController_->setIsAnimated(animated);
    tabViewController_->setUp(std::move(panes), style);
    updateToolbarVisibility();
}

SettingsWindowController::SettingsWindowController(
    const std::vector<std::shared_ptr<SettingsPaneConvertible>>& panes, Settings::Style style, bool animated,
    bool hidesToolbarForSingleItem)
    : SettingsWindowController(converted(panes), style, animated, hidesToolbarForSingleItem) {}

SettingsWindowController::SettingsWindowController(std::shared_ptr<NSWindow>) : NSWindowController(nullptr) {
    fatalError("init(window:) is not supported, use init(panes:style:animated:hidesToolbarForSingleItem:)");
}

SettingsWindowController::SettingsWindowController(KeyedUnarchiver&) : NSWindowController(nullptr) {
    fatalError("init(coder:) is not supported, use init(panes:style:animated:hidesToolbarForSingleItem:)");
}

void SettingsWindowController::setHidesToolbarForSingleItem(bool hides) {
    hidesToolbarForSingleItem_ = hides;
    updateToolbarVisibility();
}

void SettingsWindowController::updateToolbarVisibility() {
    if (!window() || !window()->toolbar()) return;
    bool hide = hidesToolbarForSingleItem_ && tabViewController_->panes().size() <= 1;
    window()->toolbar()->setVisible(!hide);
}

void SettingsWindowController::show(const std::optional<Settings::PaneIdentifier>& pane) {
    if (pane) {
        tabViewController_->activateTab(*pane, false);
    } else if (!tabViewController_->activeTab()) {
        tabViewController_->activateTab(0, false);
    }
    showWindow(this);
    if (auto& w = window()) {
        w->center();
        w->setFrameUsingName(kFrameAutosaveName);
        w->setFrameAutosaveName(kFrameAutosaveName);
    }
    NSApplication::sharedApplication()->activateIgnoringOtherApps(true);
}

std::shared_ptr<NSObject> SettingsWindowController::supplementalTargetForAction(std::string_view action,
                                                                                NSObject* sender) {
    if (auto target = NSWindowController::supplementalTargetForAction(action, sender)) return target;
    const auto& active = tabViewController_->activeTab();
    if (!active) return nullptr;
    auto pane = tabViewController_->panes().at(*active);
    auto answers = [&](const std::shared_ptr<NSObject>& target) {
        return target && dynamic_cast<NSResponder*>(target.get()) && target->respondsToSelector(action);
    };
    auto target = NSApplication::sharedApplication()->targetForAction(action, pane.get(), sender);
    if (answers(target)) return target;
    target = pane->supplementalTargetForAction(action, sender);
    if (answers(target)) return target;
    return nullptr;
}
