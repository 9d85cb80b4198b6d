#include "platform/appkit/NSCursor.h"

namespace {
NSCursor& current() {
    static NSCursor cursor = NSCursor::arrowCursor();
    return cursor;
}
}  // namespace

NSCursor NSCursor::currentCursor() {
    return current();
}
void NSCursor::set() const {
    current() = *this;
}
