#include "platform/foundation/Unicode.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Walks `text` one character at a time: `visit(byteOffset, byteLength, utf16Units)`. Stops when
// `visit` answers false.
template <class Visit>
void forEachCharacter(std::string_view text, const Visit& visit) {
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8SequenceLength(text, i);
        size_t units = n == 4 ? 2 : 1;
        if (n == 0) n = 1;
        if (!visit(i, n, units)) return;
        i += n;
    }
}

}  // namespace

size_t utf8SequenceLength(std::string_view text, size_t offset) {
    if (offset >= text.size()) return 0;
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[offset + k]); };
    unsigned char lead = byte(0);
    size_t n = lead < 0x80                    ? 1
               : lead >= 0xC2 && lead <= 0xDF ? 2
               : lead >= 0xE0 && lead <= 0xEF ? 3
               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                              : 0;
    if (n == 0 || text.size() - offset < n) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(k) & 0xC0) != 0x80) return 0;
    // The lead byte alone does not rule out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char second = n > 1 ? byte(1) : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return n;
}

bool isValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

char32_t decodeUtf8(std::string_view text, size_t& offset) {
    size_t n = utf8SequenceLength(text, offset);
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[offset + k]); };
    if (n == 0) {
        ++offset;
        return kReplacementCharacter;
    }
    char32_t code = n == 1 ? byte(0) : byte(0) & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) code = (code << 6) | (byte(k) & 0x3F);
    offset += n;
    return code;
}

size_t lastCharacterStart(std::string_view text) {
    // A lead byte is never a continuation byte, so a well-formed sequence that ends the text is
    // where a walk from the front would land too; reading backwards keeps deleting cheap.
    for (size_t n = 1; n <= 4 && n <= text.size(); ++n)
        if (utf8SequenceLength(text, text.size() - n) == n) return text.size() - n;
    return text.empty() ? 0 : text.size() - 1;
}

size_t utf16Length(std::string_view text) {
    size_t units = 0;
    forEachCharacter(text, [&](size_t, size_t, size_t u) {
        units += u;
        return true;
    });
    return units;
}

std::string prefixOfUtf16Length(std::string_view text, size_t units) {
    size_t used = 0, bytes = 0;
    forEachCharacter(text, [&](size_t offset, size_t length, size_t u) {
        if (used + u > units) return false;
        used += u;
        bytes = offset + length;
        return true;
    });
    return std::string(text.substr(0, bytes));
}
