#include "quorvane/Extensions.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSView.h"

NSColor hexColor(std::string_view hex, CGFloat alpha) {
    auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!hex.empty() && isBlank(hex.front())) hex.remove_prefix(1);
    while (!hex.empty() && isBlank(hex.back())) hex.remove_suffix(1);
    if (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
    // Text that is not six hex digits would scan as a made-up colour; grey marks it instead.
    bool sixDigits = hex.size() == 6 && std::all_of(hex.begin(), hex.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c));
                     });
    if (!sixDigits) return NSColor::grayColor();
    uint64_t v = std::stoull(std::string(hex), nullptr, 16);
    return NSColor::colorWithRed(double((v >> 16) & 0xFF) / 255, double((v >> 8) & 0xFF) / 255,
                                 double(v & 0xFF) / 255, alpha);
}

void pinEdges(NSView& view, const EdgePins& pins) {
    view.setTranslatesAutoresizingMaskIntoConstraints(false);
    if (pins.top) view.topAnchor().constraintEqualToAnchor(*pins.top, pins.paddingTop)->setActive(true);
    if (pins.left) view.leftAnchor().constraintEqualToAnchor(*pins.left, pins.paddingLeft)->setActive(true);
    if (pins.bottom)
        view.bottomAnchor().constraintEqualToAnchor(*pins.bottom, -pins.paddingBottom)->setActive(true);
    if (pins.right)
        view.rightAnchor().constraintEqualToAnchor(*pins.right, -pins.paddingRight)->setActive(true);
    if (pins.width) view.widthAnchor().constraintEqualToConstant(*pins.width)->setActive(true);
    if (pins.height) view.heightAnchor().constraintEqualToConstant(*pins.height)->setActive(true);
}

std::optional<uint32_t> displayID(const NSScreen& screen) {
    const Value* number = screen.deviceDescription().find("NSScreenNumber");
    if (!number || !number->isInteger()) return std::nullopt;
    int64_t n = *number->asInteger();
    if (n < 0 || n > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(n);
}
