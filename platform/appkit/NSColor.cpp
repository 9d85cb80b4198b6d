#include "platform/appkit/NSColor.h"

#include "platform/appkit/NSGraphicsContext.h"

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
