#pragma once
// Geometry as the window server offers it over the shared point, size and rectangle types.
// Window-server (global) coordinates have their origin at the top-left of the first screen with y
// growing downwards.
#include "platform/foundation/Geometry.h"

// Equal as areas: a rectangle with a negative size equals its standardized form.
inline bool CGRectEqualToRect(const CGRect& a, const CGRect& b) {
    return a.minX() == b.minX() && a.minY() == b.minY() && a.width() == b.width() && a.height() == b.height();
}
