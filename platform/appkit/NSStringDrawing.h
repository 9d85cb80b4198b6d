#pragma once
// Measuring and drawing strings with attributes. The metrics are fixed: each character advances
// 0.55 of the point size (wide East Asian characters a full point size), heavier weights a little
// more, and a line is 1.2 point sizes high.
#include <optional>
#include <string>
#include <string_view>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSFont.h"
#include "platform/foundation/Geometry.h"

// The attributes of drawn text that this system sets (NSFont and foreground colour attributes).
struct TextAttributes {
    std::optional<NSFont> font;
    std::optional<NSColor> foregroundColor;
    bool operator==(const TextAttributes&) const = default;
};

inline constexpr int NSStringDrawingUsesLineFragmentOrigin = 1;

// The size of `text` on one line; without a font the system font is used.
CGSize NSStringSize(std::string_view text, const TextAttributes& attributes);
// Draws `text` into the current graphics context (recorded with its rectangle and attributes).
void NSStringDraw(std::string_view text, const CGRect& rect, int options, const TextAttributes& attributes);
