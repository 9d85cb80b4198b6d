#include "platform/appkit/NSFont.h"

#include <algorithm>
#include <array>
#include <string_view>

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

std::optional<NSFont> NSFont::fontWithName(const std::string& name, CGFloat size) {
    static constexpr std::array<std::string_view, 6> families = {
        systemFontName, "Helvetica", "Helvetica Neue", "Lucida Grande", "Menlo", "Monaco"};
    if (std::find(families.begin(), families.end(), name) == families.end()) return std::nullopt;
    NSFont font(size, NSFontWeightRegular);
    font.name_ = name;
    return font;
}
