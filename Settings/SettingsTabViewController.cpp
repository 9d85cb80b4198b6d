#include "Settings/SettingsTabViewController.h"

#include "Settings/Localization.h"
#include "Settings/SegmentedControlStyleViewController.h"
#include "Settings/ToolbarItemStyleViewController.h"
#include "platform/appkit/NSAnimationContext.h"
#include "platform/appkit/NSWindow.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FatalError.h"
#include "platform/foundation/ProcessInfo.h"

std::vector<ConstraintPtr> constrainToSuperviewEdges(NSView& view) {
    if (!view.superview()) fatalError("Settings: a pane view needs a superview to be pinned to");
    std::vector<ConstraintPtr> constraints;
    for (const char* format : {"H:|-0-[subview]-0-|", "V:|-0-[subview]-0-|"}) {
        auto made = NSLayoutConstraint::constraintsWithVisualFormat(format, "subview", &view);
        constraints.insert(constraints.end(), made.begin(), made.end());
    }
    view.setTranslatesAutoresizingMaskIntoConstraints(false);
    view.superview()->addConstraints(constraints);
    return constraints;
}

void SettingsTabViewController::loadView() {
    auto view = std::make_shared<NSView>();
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    setView(view);
}

NSWindow& SettingsTabViewController::requireWindow() const {
    NSWindow* window = const_cast<SettingsTabViewController*>(this)->view()->window();
    if (!window) fatalError("Settings: the settings view is not in a window");
    return *window;
}

void SettingsTabViewController::requireIndex(int index) const {
    if (index < 0 || index >= static_cast<int>(panes_.size()))
        fatalError("Settings: pane index out of range");
}

void SettingsTabViewController::setUp(std::vector<std::shared_ptr<SettingsPane>> panes,
                                      Settings::Style style) {
    panes_ = std::move(panes);
    style_ = style;
    setChildViewControllers({panes_.begin(), panes_.end()});

    auto toolbar = std::make_shared<NSToolbar>(kToolbarIdentifier);
    toolbar->setAllowsUserCustomization(false);
    toolbar->setDisplayMode(NSToolbarDisplayMode::IconAndLabel);
    toolbar->setShowsBaselineSeparator(true);
    toolbar->setDelegate(sharedAs<SettingsTabViewController>());

    if (style == Settings::Style::segmentedControl) {
        auto segmented = std::make_shared<SegmentedControlStyleViewController>();
        segmented->setPanes(panes_);
        styleController_ = segmented;
    } else {
        styleController_ = std::make_shared<ToolbarItemStyleViewController>(toolbar, panes_);
    }
    styleController_->setDelegate(sharedAs<SettingsTabViewController>());

    requireWindow().setToolbar(toolbar);
}

void SettingsTabViewController::activateTab(int index, bool animated) {
    if (!activeTab_)
        showInitialPane(index);
    else if (index != *activeTab_)
        switchPane(index, animated);
    activeTab_ = index;
    if (!styleController_) fatalError("Settings: the tab view controller was not set up");
    styleController_->selectTab(index);
    requireWindow().setTitle(windowTitle(index));
}

void SettingsTabViewController::activateTab(const Settings::PaneIdentifier& identifier, bool animated) {
    int index = 0;
    for (size_t i = 0; i < panes_.size(); ++i) {
        if (panes_[i]->paneIdentifier() == identifier) {
            index = static_cast<int>(i);
            break;
        }
    }
    activateTab(index, animated);
}

void SettingsTabViewController::showInitialPane(int index) {
    requireIndex(index);
    auto& pane = panes_[index];
    view()->addSubview(pane->view());
    activeChildViewConstraints_ = constrainToSuperviewEdges(*pane->view());
    resizeWindow(*pane, false);
}

void SettingsTabViewController::switchPane(int index, bool animated) {
    if (!activeTab_) {
        showInitialPane(index);
        return;
    }
    requireIndex(*activeTab_);
    requireIndex(index);
    std::shared_ptr<NSViewController> from = panes_[*activeTab_];
    std::shared_ptr<NSViewController> to = panes_[index];
    bool animate = ProcessInfo::isOperatingSystemAtLeastVersion({10, 14, 0}) && animated && isAnimated_;

    view()->removeConstraints(activeChildViewConstraints_);
    to->view()->setTranslatesAutoresizingMaskIntoConstraints(false);
    std::weak_ptr<SettingsTabViewController> weak = sharedAs<SettingsTabViewController>();
    std::weak_ptr<NSViewController> weakTo = to;
    auto completion = [weak, weakTo] {
        auto self = weak.lock();
        auto pane = weakTo.lock();
        if (self && pane && pane->view()->superview())
            self->activeChildViewConstraints_ = constrainToSuperviewEdges(*pane->view());
    };
    if (animate)
        animateTransition(from, to, NSViewControllerTransitionCrossfade, completion);
    else
        transition(from, to, NSViewControllerTransitionNone, completion);
}

void SettingsTabViewController::animateTransition(const std::shared_ptr<NSViewController>& from,
                                                  const std::shared_ptr<NSViewController>& to,
                                                  NSViewControllerTransitionOptions options,
                                                  std::function<void()> completion) {
    NSAnimationContext::runAnimationGroup([&](NSAnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(kAnimationDuration);
        context.setTimingFunction(
            CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionEaseInEaseOut));
        resizeWindow(*to, true);
        transition(from, to, options, std::move(completion));
    });
}

void SettingsTabViewController::transitionFromViewController(const std::shared_ptr<NSViewController>& from,
                                                             const std::shared_ptr<NSViewController>& to,
                                                             NSViewControllerTransitionOptions options,
                                                             std::function<void()> completion) {
    constexpr NSViewControllerTransitionOptions animationOptions = 0x1F1;
    if (options != 0 && (options & animationOptions) == options)
        animateTransition(from, to, options, std::move(completion));
    else
        transition(from, to, options, std::move(completion));
}

void SettingsTabViewController::resizeWindow(NSViewController& pane, bool animated) {
    NSWindow& window = requireWindow();
    CGSize fitting = pane.view()->fittingSize();
    CGSize size = window.frameRectForContentRect({{0, 0}, fitting}).size;
    CGRect old = window.frame();
    bool centred = styleController_ && styleController_->keepsWindowCentered();
    CGFloat x = centred ? old.origin.x + (old.size.width - size.width) * 0.5 : old.origin.x;
    CGFloat y = old.origin.y + (old.size.height - size.height);
    CGRect frame{x, y, size.width, size.height};
    if (animated)
        window.animator().setFrame(frame, false);
    else
        window.setFrame(frame, false);
}

namespace {
std::string applicationName() {
    auto bundle = Bundle::mainBundle();
    for (const char* key : {"CFBundleDisplayName", "CFBundleName", "CFBundleExecutable"}) {
        auto value = bundle->objectForInfoDictionaryKey(key);
        if (value && value->isString()) return *value->asString();
    }
    return "<Unknown App Name>";
}
}  // namespace

std::string SettingsTabViewController::windowTitle(int index) const {
    if (panes_.size() > 1) {
        requireIndex(index);
        return panes_[index]->paneTitle();
    }
    auto word = ProcessInfo::isOperatingSystemAtLeastVersion({13, 0, 0})
                    ? Localization::Identifier::settings
                    : Localization::Identifier::preferences;
    return applicationName() + " " + Localization::word(word);
}

std::vector<std::string> SettingsTabViewController::toolbarDefaultItemIdentifiers(NSToolbar& toolbar) {
    return toolbarAllowedItemIdentifiers(toolbar);
}

std::vector<std::string> SettingsTabViewController::toolbarAllowedItemIdentifiers(NSToolbar&) {
    return styleController_ ? styleController_->toolbarItemIdentifiers() : std::vector<std::string>{};
}

std::vector<std::string> SettingsTabViewController::toolbarSelectableItemIdentifiers(NSToolbar&) {
    if (style_ == Settings::Style::segmentedControl || !styleController_) return {};
    return styleController_->toolbarItemIdentifiers();
}

std::shared_ptr<NSToolbarItem> SettingsTabViewController::toolbarItemForItemIdentifier(
    NSToolbar&, const std::string& identifier, bool) {
    if (identifier == NSToolbarFlexibleSpaceItemIdentifier || !styleController_) return nullptr;
    return styleController_->toolbarItem(identifier);
}
