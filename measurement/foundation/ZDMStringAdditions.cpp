#include "measurement/foundation/ZDMStringAdditions.h"

#include <cstring>

#include "measurement/foundation/ZDMDataMD5.h"
#include "platform/foundation/Unicode.h"

namespace {
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::optional<std::string> zdm_MD5String(std::string_view text) {
    if (!isValidUtf8(text)) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : zdm_MD5Data(Data(text.begin(), text.end()))) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

std::optional<std::string> zdm_stringByUnescapingFromURLArgument(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            const int high = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
            const int low = high >= 0 ? hexDigit(text[i + 2]) : -1;
            if (low < 0) return std::nullopt;
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        }
    }
    if (!isValidUtf8(decoded)) return std::nullopt;
    return decoded;
}

size_t zdm_UTF32Length(std::string_view text) {
    size_t count = 0;
    for (size_t offset = 0; offset < text.size(); ++count) decodeUtf8(text, offset);
    return count;
}

void zdm_getUTF32Bytes(std::string_view text, void* buffer, size_t maxBytes) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t written = 0;
    for (size_t offset = 0; offset < text.size() && written + 4 <= maxBytes; written += 4) {
        const uint32_t scalar = decodeUtf8(text, offset);
        for (int byte = 0; byte < 4; ++byte) out[written + byte] = static_cast<uint8_t>(scalar >> (8 * byte));
    }
}
