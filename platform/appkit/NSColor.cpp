#include "platform/appkit/NSColor.h"

#include <atomic>
#include <utility>

#include "platform/appkit/NSGraphicsContext.h"

namespace {
std::atomic<NSControlTint> gControlTint{NSControlTint::Blue};
}  // namespace

NSColor NSColor::colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return NSColor(red, green, blue, alpha);
}
NSColor NSColor::colorWithWhite(CGFloat white, CGFloat alpha) {
    return NSColor(white, white, white, alpha);
}

NSColor NSColor::clearColor() {
    return NSColor(0, 0, 0, 0);
}
NSColor NSColor::whiteColor() {
    return NSColor(1, 1, 1, 1);
}
NSColor NSColor::blackColor() {
    return NSColor(0, 0, 0, 1);
}
NSColor NSColor::grayColor() {
    return NSColor(0.5, 0.5, 0.5, 1);
}
NSColor NSColor::redColor() {
    return NSColor(1, 0, 0, 1);
}
NSColor NSColor::blueColor() {
    return NSColor(0, 0, 1, 1);
}
NSColor NSColor::secondaryLabelColor() {
    return NSColor(0, 0, 0, 0.5);
}
NSColor NSColor::separatorColor() {
    return NSColor(0, 0, 0, 0.1);
}

NSColor NSColor::windowBackgroundColor() {
    return NSColor(0.93, 0.93, 0.93, 1);
}

std::optional<NSColor> NSColor::colorWithCatalogName(const std::string& catalog, const std::string& name) {
    if (catalog != "System") return std::nullopt;
    static const std::pair<const char*, NSColor> system[] = {
        {"labelColor", NSColor(0, 0, 0, 0.85)},
        {"secondaryLabelColor", secondaryLabelColor()},
        {"tertiaryLabelColor", NSColor(0, 0, 0, 0.26)},
        {"controlTextColor", NSColor(0, 0, 0, 0.85)},
        {"disabledControlTextColor", NSColor(0, 0, 0, 0.25)},
        {"selectedControlTextColor", NSColor(0, 0, 0, 0.85)},
        {"controlColor", whiteColor()},
        {"textColor", blackColor()},
        {"separatorColor", separatorColor()},
        {"windowBackgroundColor", windowBackgroundColor()},
    };
    for (const auto& [colorName, color] : system)
        if (name == colorName) return color;
    return std::nullopt;
}

NSControlTint NSColor::currentControlTint() {
    return gControlTint.load();
}
void NSColor::setCurrentControlTint(NSControlTint tint) {
    gControlTint = tint;
}

NSColor NSColor::colorWithAlphaComponent(CGFloat alpha) const {
    return NSColor(r_, g_, b_, alpha);
}

void NSColor::set() const {
    setFill();
    setStroke();
}
void NSColor::setFill() const {
    if (auto* context = NSGraphicsContext::currentContext()) context->setFillColor(*this);
}
void NSColor::setStroke() const {
    if (auto* context = NSGraphicsContext::currentContext()) context->setStrokeColor(*this);
}
