#pragma once
// Points, sizes and rectangles in the platform's geometry (CGPoint, CGSize, CGRect) with the few
// helpers the system uses. A rectangle's origin is its minimum corner; which way y grows depends on
// the coordinate space it lives in.
#include <algorithm>
#include <cmath>

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

    constexpr CGRect() = default;
    constexpr CGRect(CGFloat x, CGFloat y, CGFloat width, CGFloat height)
        : origin{x, y}, size{width, height} {}
    constexpr CGRect(CGPoint o, CGSize s) : origin(o), size(s) {}

    CGFloat minX() const { return std::min(origin.x, origin.x + size.width); }
    CGFloat maxX() const { return std::max(origin.x, origin.x + size.width); }
    CGFloat midX() const { return origin.x + size.width / 2; }
    CGFloat minY() const { return std::min(origin.y, origin.y + size.height); }
    CGFloat maxY() const { return std::max(origin.y, origin.y + size.height); }
    CGFloat midY() const { return origin.y + size.height / 2; }
    CGFloat width() const { return std::abs(size.width); }
    CGFloat height() const { return std::abs(size.height); }

    bool operator==(const CGRect&) const = default;
};

inline constexpr CGRect CGRectZero{};

inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    return {x, y, w, h};
}

// An empty rectangle has no area (zero or negative width or height).
inline bool NSIsEmptyRect(const CGRect& r) {
    return !(r.size.width > 0 && r.size.height > 0);
}
inline bool CGRectIsEmpty(const CGRect& r) {
    return r.size.width == 0 || r.size.height == 0;
}

// Half-open on the maximum edges, as the platform tests containment.
inline bool CGRectContainsPoint(const CGRect& r, CGPoint p) {
    return !CGRectIsEmpty(r) && p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

inline bool CGRectIntersectsRect(const CGRect& a, const CGRect& b) {
    if (CGRectIsEmpty(a) || CGRectIsEmpty(b)) return false;
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

// The overlap of two rectangles; CGRectZero when they do not overlap.
inline CGRect CGRectIntersection(const CGRect& a, const CGRect& b) {
    if (!CGRectIntersectsRect(a, b)) return CGRectZero;
    CGFloat x = std::max(a.minX(), b.minX()), y = std::max(a.minY(), b.minY());
    return {x, y, std::min(a.maxX(), b.maxX()) - x, std::min(a.maxY(), b.maxY()) - y};
}

inline CGRect CGRectInset(const CGRect& r, CGFloat dx, CGFloat dy) {
    return {r.minX() + dx, r.minY() + dy, r.width() - 2 * dx, r.height() - 2 * dy};
}
