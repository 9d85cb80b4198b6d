#pragma once
// The look controls are drawn with, known by name. The current appearance is the application's
// (Aqua unless set); a view's effective appearance is its own, else its ancestors', else that one.
#include <memory>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* NSAppearanceNameAqua = "NSAppearanceNameAqua";
inline constexpr const char* NSAppearanceNameDarkAqua = "NSAppearanceNameDarkAqua";
inline constexpr const char* NSAppearanceNameVibrantLight = "NSAppearanceNameVibrantLight";
inline constexpr const char* NSAppearanceNameVibrantDark = "NSAppearanceNameVibrantDark";
inline constexpr const char* NSAppearanceNameAccessibilityHighContrastAqua =
    "NSAppearanceNameAccessibilityHighContrastAqua";
inline constexpr const char* NSAppearanceNameAccessibilityHighContrastDarkAqua =
    "NSAppearanceNameAccessibilityHighContrastDarkAqua";
inline constexpr const char* NSAppearanceNameAccessibilityHighContrastVibrantLight =
    "NSAppearanceNameAccessibilityHighContrastVibrantLight";
inline constexpr const char* NSAppearanceNameAccessibilityHighContrastVibrantDark =
    "NSAppearanceNameAccessibilityHighContrastVibrantDark";

class NSAppearance {
  public:
    // One object per name; null for a name the system does not have.
    static std::shared_ptr<NSAppearance> appearanceNamed(const std::string& name);
    static std::shared_ptr<NSAppearance> currentAppearance();
    // Null goes back to Aqua.
    static void setCurrentAppearance(std::shared_ptr<NSAppearance> appearance);

    const std::string& name() const { return name_; }
    // The first of `names` this look can stand in for: itself, then the look it varies (a
    // high-contrast look its plain one), then, for a dark look, dark Aqua, then Aqua.
    std::optional<std::string> bestMatchFromAppearancesWithNames(const std::vector<std::string>& names) const;

    explicit NSAppearance(std::string name) : name_(std::move(name)) {}

  private:
    std::string name_;
};
