#pragma once
// Readable failure messages for geometry in tests.
#include <ostream>

#include "platform/foundation/Geometry.h"

inline void PrintTo(const CGPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}
inline void PrintTo(const CGSize& s, std::ostream* os) {
    *os << s.width << " x " << s.height;
}
inline void PrintTo(const CGRect& r, std::ostream* os) {
    *os << "(" << r.origin.x << ", " << r.origin.y << ", " << r.size.width << ", " << r.size.height << ")";
}
