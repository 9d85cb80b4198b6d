#pragma once
// The look a recorder-control style resource is made for: appearance, accessibility, layout
// direction and tint, each 0 when unspecified. Immutable: a copy is the same object. Also the six
// conversions between these numbers and the platform's appearance names, control tints and layout
// directions.
#include <compare>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSUserInterfaceLayoutDirection.h"
#include "shortcut_recorder/KRCommon.h"

class NSView;

using KRRecorderControlStyleComponentsAppearance = uint64_t;
inline constexpr KRRecorderControlStyleComponentsAppearance
    KRRecorderControlStyleComponentsAppearanceUnspecified = 0;
inline constexpr KRRecorderControlStyleComponentsAppearance KRRecorderControlStyleComponentsAppearanceAqua =
    1;
inline constexpr KRRecorderControlStyleComponentsAppearance
    KRRecorderControlStyleComponentsAppearanceVibrantLight = 2;
inline constexpr KRRecorderControlStyleComponentsAppearance
    KRRecorderControlStyleComponentsAppearanceDarkAqua = 3;
inline constexpr KRRecorderControlStyleComponentsAppearance
    KRRecorderControlStyleComponentsAppearanceVibrantDark = 4;
inline constexpr uint64_t KRRecorderControlStyleComponentsAppearanceMax = 5;

// A bit set.
using KRRecorderControlStyleComponentsAccessibility = uint64_t;
inline constexpr KRRecorderControlStyleComponentsAccessibility
    KRRecorderControlStyleComponentsAccessibilityUnspecified = 0;
inline constexpr KRRecorderControlStyleComponentsAccessibility
    KRRecorderControlStyleComponentsAccessibilityNone = 1 << 0;
inline constexpr KRRecorderControlStyleComponentsAccessibility
    KRRecorderControlStyleComponentsAccessibilityHighContrast = 1 << 1;
inline constexpr uint64_t KRRecorderControlStyleComponentsAccessibilityMask = 3;

using KRRecorderControlStyleComponentsLayoutDirection = uint64_t;
inline constexpr KRRecorderControlStyleComponentsLayoutDirection
    KRRecorderControlStyleComponentsLayoutDirectionUnspecified = 0;
inline constexpr KRRecorderControlStyleComponentsLayoutDirection
    KRRecorderControlStyleComponentsLayoutDirectionLeftToRight = 1;
inline constexpr KRRecorderControlStyleComponentsLayoutDirection
    KRRecorderControlStyleComponentsLayoutDirectionRightToLeft = 2;
inline constexpr uint64_t KRRecorderControlStyleComponentsLayoutDirectionMax = 3;

using KRRecorderControlStyleComponentsTint = uint64_t;
inline constexpr KRRecorderControlStyleComponentsTint KRRecorderControlStyleComponentsTintUnspecified = 0;
inline constexpr KRRecorderControlStyleComponentsTint KRRecorderControlStyleComponentsTintBlue = 1;
inline constexpr KRRecorderControlStyleComponentsTint KRRecorderControlStyleComponentsTintGraphite = 2;
inline constexpr uint64_t KRRecorderControlStyleComponentsTintMax = 3;

// From the platform: values outside the tables give 0. Towards the platform: 0 and values outside
// the tables raise an invalid-argument Exception "<n> cannot be represented as <type>". Dark aqua
// exists only on 10.14 and later.
KRRecorderControlStyleComponentsAppearance KRComponentsAppearanceForAppearanceName(const std::string& name);
std::string KRAppearanceNameForComponentsAppearance(KRRecorderControlStyleComponentsAppearance appearance);
KRRecorderControlStyleComponentsTint KRComponentsTintForControlTint(NSControlTint tint);
NSControlTint KRControlTintForComponentsTint(KRRecorderControlStyleComponentsTint tint);
KRRecorderControlStyleComponentsLayoutDirection KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(
    NSUserInterfaceLayoutDirection direction);
NSUserInterfaceLayoutDirection KRUserInterfaceLayoutDirectionForComponentsLayoutDirection(
    KRRecorderControlStyleComponentsLayoutDirection direction);

enum class NSComparisonResult { OrderedAscending = -1, OrderedSame = 0, OrderedDescending = 1 };

class KRRecorderControlStyleComponents
    : public std::enable_shared_from_this<KRRecorderControlStyleComponents> {
  public:
    using Ptr = std::shared_ptr<const KRRecorderControlStyleComponents>;

    // All unspecified.
    static Ptr init();
    // Out-of-range values are programming errors (assertions, checked in the order appearance,
    // tint, accessibility, "none" combined with another bit, direction).
    static Ptr initWithAppearance(KRRecorderControlStyleComponentsAppearance appearance,
                                  KRRecorderControlStyleComponentsAccessibility accessibility,
                                  KRRecorderControlStyleComponentsLayoutDirection layoutDirection,
                                  KRRecorderControlStyleComponentsTint tint);
    // What the system and `view` (or, without one, the application) look like now. Accessibility is
    // never unspecified: "none" or high contrast.
    static Ptr currentComponents();
    static Ptr currentComponentsForView(const NSView* view);

    KRRecorderControlStyleComponentsAppearance appearance() const { return appearance_; }
    KRRecorderControlStyleComponentsAccessibility accessibility() const { return accessibility_; }
    KRRecorderControlStyleComponentsLayoutDirection layoutDirection() const { return layoutDirection_; }
    KRRecorderControlStyleComponentsTint tint() const { return tint_; }

    bool isSpecified() const;
    // The suffix of resource names: "-darkaqua-acc-ltr-blue"; "" when nothing is specified.
    std::string stringRepresentation() const;
    std::string description() const { return stringRepresentation(); }

    // How well the receiver suits `relative` against `other`: Ascending when the receiver comes
    // first. The first field in which the two differ decides alone.
    NSComparisonResult compare(const KRRecorderControlStyleComponents& other,
                               const KRRecorderControlStyleComponents& relative) const;

    bool isEqual(const KRRecorderControlStyleComponents* other) const;
    bool isEqualToComponents(const KRRecorderControlStyleComponents* other) const;
    size_t hash() const;

    Ptr copy() const { return shared_from_this(); }

    static const KRClass<KRRecorderControlStyleComponents>& componentsClass();
    virtual const KRClass<KRRecorderControlStyleComponents>& objectClass() const { return componentsClass(); }
    virtual ~KRRecorderControlStyleComponents() = default;

  protected:
    KRRecorderControlStyleComponents(uint64_t appearance, uint64_t accessibility, uint64_t layoutDirection,
                                     uint64_t tint)
        : appearance_(appearance),
          accessibility_(accessibility),
          layoutDirection_(layoutDirection),
          tint_(tint) {}

  private:
    uint64_t appearance_;
    uint64_t accessibility_;
    uint64_t layoutDirection_;
    uint64_t tint_;
};

using KRComponentsPtr = KRRecorderControlStyleComponents::Ptr;
