#pragma once
// The named colours of the overlays and panes, each made once on first use.
#include "platform/appkit/NSColor.h"

namespace Colors {
const NSColor& gridSelectionFill();  // selected grid cells
const NSColor& rowHighlight();       // the space row of the Spaces pane
const NSColor& screenMiniature();    // the screen in a space's small map
const NSColor& spaceMiniature();     // the space in a space's small map
}  // namespace Colors
