#pragma once
// An immutable RGBA colour (components 0...1 in the device RGB space). Colours compare by value.
#include <optional>
#include <string>

#include "platform/foundation/Geometry.h"

// The accent the user chose for controls.
enum class NSControlTint : unsigned { Default = 0, Blue = 1, Graphite = 6, Clear = 7 };
inline constexpr NSControlTint NSDefaultControlTint = NSControlTint::Default;
inline constexpr NSControlTint NSBlueControlTint = NSControlTint::Blue;
inline constexpr NSControlTint NSGraphiteControlTint = NSControlTint::Graphite;
inline constexpr NSControlTint NSClearControlTint = NSControlTint::Clear;
// Posted by the application object when the user picks another control tint.
inline constexpr const char* NSControlTintDidChangeNotification = "NSControlTintDidChangeNotification";

class NSColor {
  public:
    static NSColor colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    static NSColor colorWithWhite(CGFloat white, CGFloat alpha);

    static NSColor clearColor();
    static NSColor whiteColor();
    static NSColor blackColor();
    static NSColor grayColor();  // white 0.5
    static NSColor redColor();
    static NSColor blueColor();
    // The system's semantic colours, in their light appearance.
    static NSColor secondaryLabelColor();    // black at 50 %
    static NSColor separatorColor();         // black at 10 %
    static NSColor windowBackgroundColor();  // white 0.93
    // A colour of a catalog by name; the "System" catalog holds the semantic colours (labelColor,
    // controlTextColor, disabledControlTextColor, windowBackgroundColor, ...). None for a catalog or
    // name the system does not have.
    static std::optional<NSColor> colorWithCatalogName(const std::string& catalog, const std::string& name);

    // The user's control tint (blue unless set); a test sets it to try another.
    static NSControlTint currentControlTint();
    static void setCurrentControlTint(NSControlTint tint);

    NSColor colorWithAlphaComponent(CGFloat alpha) const;

    CGFloat redComponent() const { return r_; }
    CGFloat greenComponent() const { return g_; }
    CGFloat blueComponent() const { return b_; }
    CGFloat alphaComponent() const { return a_; }

    // Makes this the fill and stroke colour of the current graphics context.
    void set() const;
    void setFill() const;
    void setStroke() const;

    bool operator==(const NSColor&) const = default;

    constexpr NSColor() = default;  // opaque black

  private:
    constexpr NSColor(CGFloat r, CGFloat g, CGFloat b, CGFloat a) : r_(r), g_(g), b_(b), a_(a) {}
    CGFloat r_ = 0, g_ = 0, b_ = 0, a_ = 1;
};
