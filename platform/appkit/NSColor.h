#pragma once
// An immutable RGBA colour (components 0...1 in the device RGB space). Colours compare by value.
#include "platform/foundation/Geometry.h"

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
    static NSColor secondaryLabelColor();  // black at 50 %
    static NSColor separatorColor();       // black at 10 %

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
