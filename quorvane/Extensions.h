#pragma once
// Small helpers the overlays and panes share: colours from hex text, pinning a view's edges, and a
// screen's display number.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSLayoutConstraint.h"

class NSScreen;
class NSView;

// "#" and six hex digits (the "#" optional, blanks around ignored, any case) at `alpha`; any other
// text gives the plain grey colour, without the alpha.
NSColor hexColor(std::string_view hex, CGFloat alpha);

// The edges to pin and their paddings; a padding moves its edge inwards.
struct EdgePins {
    std::optional<NSLayoutAnchor> top = {}, left = {}, bottom = {}, right = {};
    CGFloat paddingTop = 0, paddingLeft = 0, paddingBottom = 0, paddingRight = 0;
    std::optional<CGFloat> width = {}, height = {};
};
// Turns off autoresizing constraints and activates one constraint per given edge and size.
void pinEdges(NSView& view, const EdgePins& pins);

// "NSScreenNumber" of the screen's device description, when it holds a 32-bit number.
std::optional<uint32_t> displayID(const NSScreen& screen);
