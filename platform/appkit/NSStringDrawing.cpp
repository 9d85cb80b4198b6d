#include "platform/appkit/NSStringDrawing.h"

#include "platform/appkit/NSGraphicsContext.h"
#include "platform/foundation/Unicode.h"

namespace {

bool isWide(char32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFF60);
}

}  // namespace

CGSize NSStringSize(std::string_view text, const TextAttributes& attributes) {
    NSFont font = attributes.font.value_or(NSFont());
    CGFloat weightFactor = 1.0 + font.weight() * 0.1;
    CGFloat width = 0;
    for (size_t i = 0; i < text.size();) {
        char32_t cp = decodeUtf8(text, i);
        width += font.pointSize() * (isWide(cp) ? 1.0 : 0.55 * weightFactor);
    }
    return {width, font.pointSize() * 1.2};
}

void NSStringDraw(std::string_view text, const CGRect& rect, int options, const TextAttributes& attributes) {
    if (auto* context = NSGraphicsContext::currentContext())
        context->drawString(std::string(text), rect, options, attributes);
}
