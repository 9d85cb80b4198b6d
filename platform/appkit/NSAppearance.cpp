#include "platform/appkit/NSAppearance.h"

#include <algorithm>
#include <array>
#include <mutex>

namespace {

struct Look {
    const char* name;
    const char* base;  // the look this one varies; itself for a plain look
    bool dark;
};

constexpr std::array<Look, 8> kLooks = {{
    {NSAppearanceNameAqua, NSAppearanceNameAqua, false},
    {NSAppearanceNameDarkAqua, NSAppearanceNameDarkAqua, true},
    {NSAppearanceNameVibrantLight, NSAppearanceNameVibrantLight, false},
    {NSAppearanceNameVibrantDark, NSAppearanceNameVibrantDark, true},
    {NSAppearanceNameAccessibilityHighContrastAqua, NSAppearanceNameAqua, false},
    {NSAppearanceNameAccessibilityHighContrastDarkAqua, NSAppearanceNameDarkAqua, true},
    {NSAppearanceNameAccessibilityHighContrastVibrantLight, NSAppearanceNameVibrantLight, false},
    {NSAppearanceNameAccessibilityHighContrastVibrantDark, NSAppearanceNameVibrantDark, true},
}};

const Look* lookNamed(const std::string& name) {
    for (const auto& look : kLooks)
        if (name == look.name) return &look;
    return nullptr;
}

std::mutex gMutex;
std::shared_ptr<NSAppearance> gCurrent;

}  // namespace

std::shared_ptr<NSAppearance> NSAppearance::appearanceNamed(const std::string& name) {
    static const auto all = [] {
        std::vector<std::shared_ptr<NSAppearance>> made;
        for (const auto& look : kLooks) made.push_back(std::make_shared<NSAppearance>(look.name));
        return made;
    }();
    for (const auto& appearance : all)
        if (appearance->name() == name) return appearance;
    return nullptr;
}

std::shared_ptr<NSAppearance> NSAppearance::currentAppearance() {
    std::lock_guard lock(gMutex);
    return gCurrent ? gCurrent : appearanceNamed(NSAppearanceNameAqua);
}

void NSAppearance::setCurrentAppearance(std::shared_ptr<NSAppearance> appearance) {
    std::lock_guard lock(gMutex);
    gCurrent = std::move(appearance);
}

std::optional<std::string> NSAppearance::bestMatchFromAppearancesWithNames(
    const std::vector<std::string>& names) const {
    const Look* look = lookNamed(name_);
    std::vector<std::string> preference = {name_};
    if (look) {
        preference.push_back(look->base);
        if (look->dark) preference.push_back(NSAppearanceNameDarkAqua);
    }
    preference.push_back(NSAppearanceNameAqua);
    for (const auto& candidate : preference)
        if (std::find(names.begin(), names.end(), candidate) != names.end()) return candidate;
    return std::nullopt;
}
