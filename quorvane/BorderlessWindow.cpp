#include "quorvane/BorderlessWindow.h"

BorderlessWindow::BorderlessWindow(CGRect contentRect, bool allowMainAndKey)
    : NSWindow(contentRect, NSWindowStyleMaskBorderless, NSBackingStoreType::Buffered, false),
      allowMainAndKey_(allowMainAndKey) {
    setMovableByWindowBackground(false);
    setLevel(NSFloatingWindowLevel);
    setReleasedWhenClosed(false);
    setBackgroundColor(NSColor::clearColor());
}
