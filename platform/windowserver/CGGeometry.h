#pragma once
// Points, sizes and rectangles in points, as the window server and the view kit share them.
// Window-server (global) coordinates have their origin at the top-left of the first screen with y
// growing downwards; the view kit's screen coordinates have it at the bottom-left with y upwards.
#include <algorithm>

using CGFloat = double;

struct CGPoint {
    CGFloat x = 0, y = 0;
    bool operator==(const CGPoint&) const = default;
};

struct CGSize {
    CGFloat width = 0, height = 0;
    bool operator==(const CGSize&) const = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect&) const = default;
};

using NSPoint = CGPoint;
using NSSize = CGSize;
using NSRect = CGRect;

inline constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
inline constexpr CGSize CGSizeMake(CGFloat w, CGFloat h) { return {w, h}; }
inline constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }
inline constexpr NSRect NSMakeRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return CGRectMake(x, y, w, h); }
inline constexpr CGRect CGRectZero{};

inline CGFloat CGRectGetMinX(const CGRect& r) { return std::min(r.origin.x, r.origin.x + r.size.width); }
inline CGFloat CGRectGetMaxX(const CGRect& r) { return std::max(r.origin.x, r.origin.x + r.size.width); }
inline CGFloat CGRectGetMinY(const CGRect& r) { return std::min(r.origin.y, r.origin.y + r.size.height); }
inline CGFloat CGRectGetMaxY(const CGRect& r) { return std::max(r.origin.y, r.origin.y + r.size.height); }
inline CGFloat CGRectGetWidth(const CGRect& r) { return r.size.width < 0 ? -r.size.width : r.size.width; }
inline CGFloat CGRectGetHeight(const CGRect& r) { return r.size.height < 0 ? -r.size.height : r.size.height; }

// Equal as areas: a rectangle with a negative size equals its standardized form.
inline bool CGRectEqualToRect(const CGRect& a, const CGRect& b) {
    return CGRectGetMinX(a) == CGRectGetMinX(b) && CGRectGetMinY(a) == CGRectGetMinY(b) &&
           CGRectGetWidth(a) == CGRectGetWidth(b) && CGRectGetHeight(a) == CGRectGetHeight(b);
}

inline bool CGRectContainsPoint(const CGRect& r, const CGPoint& p) {
    return p.x >= CGRectGetMinX(r) && p.x < CGRectGetMaxX(r) && p.y >= CGRectGetMinY(r) && p.y < CGRectGetMaxY(r);
}
