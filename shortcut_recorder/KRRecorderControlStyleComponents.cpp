#include "shortcut_recorder/KRRecorderControlStyleComponents.h"

#include <array>
#include <bit>
#include <map>
#include <mutex>

#include "platform/appkit/NSAppearance.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ProcessInfo.h"

namespace {

bool isMojaveOrLater() {
    return ProcessInfo::isOperatingSystemAtLeastVersion({10, 14, 0});
}

[[noreturn]] void raiseUnrepresentable(uint64_t value, const char* type) {
    throw Exception(NSInvalidArgumentException, std::to_string(value) + " cannot be represented as " + type);
}

// Built once: which system the process runs on does not change under it.
const std::map<std::string, KRRecorderControlStyleComponentsAppearance>& appearanceTable() {
    static const auto table = [] {
        std::map<std::string, KRRecorderControlStyleComponentsAppearance> made = {
            {NSAppearanceNameAqua, KRRecorderControlStyleComponentsAppearanceAqua},
            {NSAppearanceNameVibrantLight, KRRecorderControlStyleComponentsAppearanceVibrantLight},
            {NSAppearanceNameVibrantDark, KRRecorderControlStyleComponentsAppearanceVibrantDark},
        };
        if (isMojaveOrLater())
            made[NSAppearanceNameDarkAqua] = KRRecorderControlStyleComponentsAppearanceDarkAqua;
        return made;
    }();
    return table;
}

}  // namespace

KRRecorderControlStyleComponentsAppearance KRComponentsAppearanceForAppearanceName(const std::string& name) {
    const auto& table = appearanceTable();
    if (auto it = table.find(name); it != table.end()) return it->second;
    if (!isMojaveOrLater()) return KRRecorderControlStyleComponentsAppearanceUnspecified;
    auto appearance = NSAppearance::appearanceNamed(name);
    if (!appearance) return KRRecorderControlStyleComponentsAppearanceUnspecified;
    std::vector<std::string> names;
    for (const auto& [known, number] : table) names.push_back(known);
    auto match = appearance->bestMatchFromAppearancesWithNames(names);
    if (!match) return KRRecorderControlStyleComponentsAppearanceUnspecified;
    return table.at(*match);
}

std::string KRAppearanceNameForComponentsAppearance(KRRecorderControlStyleComponentsAppearance appearance) {
    switch (appearance) {
        case KRRecorderControlStyleComponentsAppearanceAqua:
            return NSAppearanceNameAqua;
        case KRRecorderControlStyleComponentsAppearanceVibrantLight:
            return NSAppearanceNameVibrantLight;
        case KRRecorderControlStyleComponentsAppearanceVibrantDark:
            return NSAppearanceNameVibrantDark;
        case KRRecorderControlStyleComponentsAppearanceDarkAqua:
            if (isMojaveOrLater()) return NSAppearanceNameDarkAqua;
            break;
    }
    raiseUnrepresentable(appearance, "NSAppearanceName");
}

KRRecorderControlStyleComponentsTint KRComponentsTintForControlTint(NSControlTint tint) {
    switch (tint) {
        case NSControlTint::Blue:
            return KRRecorderControlStyleComponentsTintBlue;
        case NSControlTint::Graphite:
            return KRRecorderControlStyleComponentsTintGraphite;
        default:
            return KRRecorderControlStyleComponentsTintUnspecified;
    }
}

NSControlTint KRControlTintForComponentsTint(KRRecorderControlStyleComponentsTint tint) {
    if (tint == KRRecorderControlStyleComponentsTintBlue) return NSBlueControlTint;
    if (tint == KRRecorderControlStyleComponentsTintGraphite) return NSGraphiteControlTint;
    raiseUnrepresentable(tint, "NSControlTint");
}

KRRecorderControlStyleComponentsLayoutDirection KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(
    NSUserInterfaceLayoutDirection direction) {
    switch (direction) {
        case NSUserInterfaceLayoutDirection::LeftToRight:
            return KRRecorderControlStyleComponentsLayoutDirectionLeftToRight;
        case NSUserInterfaceLayoutDirection::RightToLeft:
            return KRRecorderControlStyleComponentsLayoutDirectionRightToLeft;
    }
    return KRRecorderControlStyleComponentsLayoutDirectionUnspecified;
}

NSUserInterfaceLayoutDirection KRUserInterfaceLayoutDirectionForComponentsLayoutDirection(
    KRRecorderControlStyleComponentsLayoutDirection direction) {
    if (direction == KRRecorderControlStyleComponentsLayoutDirectionLeftToRight)
        return NSUserInterfaceLayoutDirection::LeftToRight;
    if (direction == KRRecorderControlStyleComponentsLayoutDirectionRightToLeft)
        return NSUserInterfaceLayoutDirection::RightToLeft;
    raiseUnrepresentable(direction, "NSUserInterfaceLayoutDirection");
}

// --- Components --------------------------------------------------------------------------------

namespace {
struct Made : KRRecorderControlStyleComponents {
    Made(uint64_t a, uint64_t acc, uint64_t d, uint64_t t) : KRRecorderControlStyleComponents(a, acc, d, t) {}
};
}  // namespace

KRComponentsPtr KRRecorderControlStyleComponents::init() {
    return initWithAppearance(0, 0, 0, 0);
}

KRComponentsPtr KRRecorderControlStyleComponents::initWithAppearance(uint64_t appearance,
                                                                     uint64_t accessibility,
                                                                     uint64_t layoutDirection,
                                                                     uint64_t tint) {
    NSAssert(appearance < KRRecorderControlStyleComponentsAppearanceMax,
             "anAppearance is outside of the allowed range.");
    NSAssert(tint < KRRecorderControlStyleComponentsTintMax, "aTint is outside of the allowed range.");
    NSAssert((accessibility & ~KRRecorderControlStyleComponentsAccessibilityMask) == 0,
             "anAccessibility is outside of the allowed range.");
    NSAssert(!(accessibility & KRRecorderControlStyleComponentsAccessibilityNone) ||
                 accessibility == KRRecorderControlStyleComponentsAccessibilityNone,
             "None cannot be combined with other accessibility options.");
    NSAssert(layoutDirection < KRRecorderControlStyleComponentsLayoutDirectionMax,
             "aDirection is outside of the allowed range.");
    return std::make_shared<Made>(appearance, accessibility, layoutDirection, tint);
}

KRComponentsPtr KRRecorderControlStyleComponents::currentComponents() {
    return currentComponentsForView(nullptr);
}

KRComponentsPtr KRRecorderControlStyleComponents::currentComponentsForView(const NSView* view) {
    auto look = view ? view->effectiveAppearance() : NSAppearance::currentAppearance();
    uint64_t appearance = KRComponentsAppearanceForAppearanceName(look ? look->name() : std::string());
    uint64_t tint = KRComponentsTintForControlTint(NSColor::currentControlTint());
    uint64_t accessibility = NSWorkspace::sharedWorkspace()->accessibilityDisplayShouldIncreaseContrast()
                                 ? KRRecorderControlStyleComponentsAccessibilityHighContrast
                                 : KRRecorderControlStyleComponentsAccessibilityNone;
    auto direction = view ? view->userInterfaceLayoutDirection()
                          : NSApplication::sharedApplication()->userInterfaceLayoutDirection();
    return initWithAppearance(appearance, accessibility,
                              KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(direction), tint);
}

bool KRRecorderControlStyleComponents::isSpecified() const {
    return appearance_ && accessibility_ && layoutDirection_ && tint_;
}

std::string KRRecorderControlStyleComponents::stringRepresentation() const {
    static constexpr std::array<const char*, 5> appearances = {"", "-aqua", "-vibrantlight", "-darkaqua",
                                                               "-vibrantdark"};
    static constexpr std::array<const char*, 3> directions = {"", "-ltr", "-rtl"};
    static constexpr std::array<const char*, 3> tints = {"", "-blue", "-graphite"};
    NSAssert(appearance_ < appearances.size(), "Unexpected appearance.");
    NSAssert(accessibility_ <= KRRecorderControlStyleComponentsAccessibilityMask,
             "Unexpected accessibility.");
    NSAssert(layoutDirection_ < directions.size(), "Unexpected layout direction.");
    NSAssert(tint_ < tints.size(), "Unexpected tint.");
    const char* accessibility =
        (accessibility_ & KRRecorderControlStyleComponentsAccessibilityHighContrast) ? "-acc" : "";
    return std::string(appearances[appearance_]) + accessibility + directions[layoutDirection_] +
           tints[tint_];
}

namespace {

NSComparisonResult order(bool receiverFirst) {
    return receiverFirst ? NSComparisonResult::OrderedAscending : NSComparisonResult::OrderedDescending;
}

// Position of an appearance in the preference list for `relative`, best first.
size_t appearanceRank(uint64_t relative, uint64_t appearance) {
    static constexpr std::array<std::array<uint64_t, 5>, 5> preferences = {{
        {},
        {1, 2, 3, 4, 0},
        {2, 1, 4, 3, 0},
        {3, 4, 1, 2, 0},
        {4, 3, 2, 1, 0},
    }};
    const auto& list = preferences[relative];
    return size_t(std::find(list.begin(), list.end(), appearance) - list.begin());
}

// For direction and tint: the relative value first, then the other specified one, then unspecified.
size_t choiceRank(uint64_t relative, uint64_t value) {
    if (value == relative) return 0;
    return value == 0 ? 2 : 1;
}

}  // namespace

NSComparisonResult KRRecorderControlStyleComponents::compare(
    const KRRecorderControlStyleComponents& other, const KRRecorderControlStyleComponents& relative) const {
    if (appearance_ != other.appearance_) {
        if (relative.appearance_ == 0) return NSComparisonResult::OrderedSame;
        return order(appearanceRank(relative.appearance_, appearance_) <
                     appearanceRank(relative.appearance_, other.appearance_));
    }
    if (accessibility_ != other.accessibility_) {
        int sharedMine = std::popcount(accessibility_ & relative.accessibility_);
        int sharedTheirs = std::popcount(other.accessibility_ & relative.accessibility_);
        if (sharedMine != sharedTheirs) return order(sharedMine > sharedTheirs);
        int extraMine = std::popcount(accessibility_ & ~relative.accessibility_);
        int extraTheirs = std::popcount(other.accessibility_ & ~relative.accessibility_);
        if (extraMine != extraTheirs) return order(extraMine < extraTheirs);
        return NSComparisonResult::OrderedSame;
    }
    if (layoutDirection_ != other.layoutDirection_) {
        if (relative.layoutDirection_ == 0) return NSComparisonResult::OrderedSame;
        return order(choiceRank(relative.layoutDirection_, layoutDirection_) <
                     choiceRank(relative.layoutDirection_, other.layoutDirection_));
    }
    if (tint_ != other.tint_) {
        if (relative.tint_ == 0) return NSComparisonResult::OrderedSame;
        return order(choiceRank(relative.tint_, tint_) < choiceRank(relative.tint_, other.tint_));
    }
    return NSComparisonResult::OrderedSame;
}

namespace {
bool compareComponents(const KRRecorderControlStyleComponents& self,
                       const KRRecorderControlStyleComponents& other) {
    return self.isEqualToComponents(&other);
}
}  // namespace

const KRClass<KRRecorderControlStyleComponents>& KRRecorderControlStyleComponents::componentsClass() {
    static const KRClass<KRRecorderControlStyleComponents> components{nullptr, &compareComponents};
    return components;
}

bool KRRecorderControlStyleComponents::isEqual(const KRRecorderControlStyleComponents* other) const {
    return KR_isEqual(*this, other, componentsClass());
}

bool KRRecorderControlStyleComponents::isEqualToComponents(
    const KRRecorderControlStyleComponents* other) const {
    if (other == this) return true;
    if (!other) return false;
    return appearance_ == other->appearance_ && accessibility_ == other->accessibility_ &&
           layoutDirection_ == other->layoutDirection_ && tint_ == other->tint_;
}

size_t KRRecorderControlStyleComponents::hash() const {
    return size_t(tint_ | (layoutDirection_ << 2) | (appearance_ << 4) | (accessibility_ << 7));
}
