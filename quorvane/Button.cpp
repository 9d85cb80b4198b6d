#include "quorvane/Button.h"

Button::Button(CGRect frame) : NSButton(frame) {
    setBordered(false);
    setButtonType(NSButtonType::MomentaryPushIn);
    setBezelStyle(NSBezelStyle::RegularSquare);
    setImagePosition(NSCellImagePosition::NoImage);
    setTitle("");
}
