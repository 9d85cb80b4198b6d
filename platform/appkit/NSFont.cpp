#include "platform/appkit/NSFont.h"

NSFont NSFont::systemFontOfSize(CGFloat size, NSFontWeight weight) {
    return NSFont(size, weight);
}

CGFloat NSFont::systemFontSizeForControlSize(NSControlSize size) {
    switch (size) {
        case NSControlSize::Small:
            return 11;
        case NSControlSize::Mini:
            return 9;
        case NSControlSize::Regular:
        case NSControlSize::Large:
            break;
    }
    return 13;
}
