#include "quorvane/AdvancedViewController.h"

#include <algorithm>

#include "login_item/LaunchAtLogin.h"
#include "platform/appkit/NSStackView.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FatalError.h"
#include "quorvane/Extensions.h"
#include "quorvane/PaneIdentifiers.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/WorkspaceManager.h"

namespace {

constexpr CGFloat kFooterInset = 30;

std::shared_ptr<NSTextField> label(std::string text, NSFontWeight weight) {
    auto field = NSTextField::labelWithString(std::move(text));
    field->setFont(NSFont::systemFontOfSize(13, weight));
    return field;
}

std::shared_ptr<NSStackView> stack(const std::vector<std::shared_ptr<NSView>>& views,
                                   NSLayoutAttribute alignment, NSUserInterfaceLayoutOrientation orientation,
                                   CGFloat spacing) {
    auto stack = NSStackView::stackViewWithViews(views);
    stack->setAlignment(alignment);
    stack->setOrientation(orientation);
    stack->setSpacing(spacing);
    return stack;
}

constexpr auto kVertical = NSUserInterfaceLayoutOrientation::Vertical;
constexpr auto kHorizontal = NSUserInterfaceLayoutOrientation::Horizontal;

}  // namespace

AdvancedViewController::AdvancedViewController()
    : startupText_(label("Startup:", NSFontWeightMedium)),
      windowText_(label("Resize Key", NSFontWeightMedium)),
      versionSeparator_(std::make_shared<NSView>()),
      versionLabel_(label("", NSFontWeightRegular)),
      launchAtLoginCheckbox_(NSButton::checkboxWithTitle("Launch at Login", nullptr, "")),
      shortcutLabel_(label("Resize window into specific space", NSFontWeightRegular)),
      infoButton_(std::make_shared<InfoButton>(kInfoText)),
      shortcutSegmentedControl_(NSSegmentedControl::segmentedControlWithLabels(
          {"\u21E7", "\u2303", "\u2325", "\u2318"}, NSSegmentSwitchTracking::SelectOne, nullptr, "")),
      keys_{NSEventModifierFlagShift, NSEventModifierFlagControl, NSEventModifierFlagOption,
            NSEventModifierFlagCommand} {
    versionSeparator_->setWantsLayer(true);
    versionSeparator_->layer()->setBackgroundColor(hexColor("#EFEFEF", 1.0));
    versionLabel_->setTextColor(hexColor("#959596", 0.8));

    auto& control = *shortcutSegmentedControl_;
    control.setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({control.widthAnchor().constraintEqualToConstant(150),
                                             control.heightAnchor().constraintEqualToConstant(22)});
    control.setFont(NSFont::systemFontOfSize(13));
    control.setSegmentCount(static_cast<int>(keys_.size()));

    registerAction("segmentSelectedWithSender:", [this](NSObject* sender) { segmentSelected(sender); });
}

Settings::PaneIdentifier AdvancedViewController::paneIdentifier() const {
    return generalPaneIdentifier();
}

std::shared_ptr<NSImage> AdvancedViewController::toolbarItemIcon() const {
    auto image = NSImage::imageNamed("general");
    if (!image) fatalError("Image \"general\" not available");
    return image;
}

bool AdvancedViewController::launchAtLogin() const {
    return LaunchAtLogin::isEnabled();
}

void AdvancedViewController::setLaunchAtLogin(bool enabled) {
    LaunchAtLogin::setEnabled(enabled);
}

std::optional<Value> AdvancedViewController::valueForKey(std::string_view key) const {
    if (key == kLaunchAtLoginKey) return Value(launchAtLogin());
    return SettingsPane::valueForKey(key);
}

bool AdvancedViewController::setValueForKey(const Value& value, std::string_view key) {
    if (key != kLaunchAtLoginKey) return SettingsPane::setValueForKey(value, key);
    auto enabled = value.asBool();
    if (!enabled) return false;
    setLaunchAtLogin(*enabled);
    return true;
}

void AdvancedViewController::loadView() {
    setView(std::make_shared<NSView>(CGRect{{0, 0}, kViewSize}));
}

void AdvancedViewController::viewDidLoad() {
    SettingsPane::viewDidLoad();
    setPreferredContentSize(kViewSize);
    auto self = sharedAs<NSObject>();
    shortcutSegmentedControl_->setTarget(self);
    shortcutSegmentedControl_->setAction("segmentSelectedWithSender:");
    launchAtLoginCheckbox_->bind("value", self, kLaunchAtLoginKey);
    layOut(*view());
    showStoredResizeKey();
    showVersion();
}

void AdvancedViewController::layOut(NSView& root) {
    root.setWantsLayer(true);
    root.layer()->setBackgroundColor(NSColor::whiteColor());

    auto resizeKey =
        stack({shortcutLabel_, shortcutSegmentedControl_}, NSLayoutAttribute::Left, kVertical, 10);
    auto resizeTitle = stack({windowText_, infoButton_}, NSLayoutAttribute::CenterY, kHorizontal, 2);
    auto left = stack({startupText_, resizeTitle}, NSLayoutAttribute::Right, kVertical, 24);
    auto right = stack({launchAtLoginCheckbox_, resizeKey}, NSLayoutAttribute::Top, kVertical, 24);
    auto main = stack({left, right}, NSLayoutAttribute::Top, kHorizontal, 16);
    root.addSubview(main);
    main->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints(
        {main->centerXAnchor().constraintEqualToAnchor(root.centerXAnchor()),
         main->topAnchor().constraintEqualToAnchor(root.topAnchor(), 20)});

    auto footer = stack({versionSeparator_, versionLabel_}, NSLayoutAttribute::CenterX, kVertical, 5);
    versionSeparator_->setTranslatesAutoresizingMaskIntoConstraints(false);
    // The line spans the footer; a stack gives a view without a width of its own none at all.
    NSLayoutConstraint::activateConstraints(
        {versionSeparator_->heightAnchor().constraintEqualToConstant(1.5),
         versionSeparator_->widthAnchor().constraintEqualToConstant(kViewSize.width - 2 * kFooterInset)});
    root.addSubview(footer);
    pinEdges(*footer, {.left = root.leftAnchor(),
                       .bottom = root.bottomAnchor(),
                       .right = root.rightAnchor(),
                       .paddingLeft = kFooterInset,
                       .paddingBottom = 11,
                       .paddingRight = kFooterInset});
}

// A missing, unreadable or unknown key selects no segment.
void AdvancedViewController::showStoredResizeKey() {
    auto stored = UserDefaultsManager::storedResizeModifier();
    if (!stored) return;
    auto at = std::find(keys_.begin(), keys_.end(), *stored);
    if (at != keys_.end()) shortcutSegmentedControl_->setSelected(true, static_cast<int>(at - keys_.begin()));
}

void AdvancedViewController::showVersion() {
    auto version = Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (const std::string* text = version ? version->asString() : nullptr)
        versionLabel_->setStringValue("quorvane v" + *text);
}

void AdvancedViewController::segmentSelected(NSObject* sender) {
    auto* control = dynamic_cast<NSSegmentedControl*>(sender);
    if (!control) return;
    int index = control->selectedSegment();
    if (index < 0 || index >= static_cast<int>(keys_.size())) return;
    NSEventModifierFlags flags = keys_[index];

    auto manager = WorkspaceManager::shared();
    // The old hotkeys are found through the key still stored, so they go before the save.
    if (UserDefaultsManager::storedResizeModifier())
        manager->unregisterResizeShortcuts(UserDefaultsManager::currentGroups());
    UserDefaultsManager::saveResizeModifier(flags);
    manager->registerResizeShortcuts(UserDefaultsManager::currentGroups());
}
