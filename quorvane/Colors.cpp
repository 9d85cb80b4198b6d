#include "quorvane/Colors.h"

#include "quorvane/Extensions.h"

namespace Colors {

const NSColor& gridSelectionFill() {
    static const NSColor color = NSColor::colorWithRed(230.0 / 255, 239.0 / 255, 252.0 / 255, 1.0);
    return color;
}

const NSColor& rowHighlight() {
    static const NSColor color = NSColor::colorWithRed(0.047, 0.133, 0.219, 0.4);
    return color;
}

const NSColor& screenMiniature() {
    static const NSColor color = hexColor("#EFEFEF", 1.0);
    return color;
}

const NSColor& spaceMiniature() {
    static const NSColor color = hexColor("#94A3B8", 1.0);
    return color;
}

}  // namespace Colors
