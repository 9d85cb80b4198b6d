#include "platform/foundation/Base64.h"

#include <array>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeTable() {
    std::array<int8_t, 256> table{};
    for (auto& t : table) t = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}
constexpr auto kTable = makeTable();

// Decodes a run of alphabet characters (no padding) into bytes.
Data decodeSextets(const std::string& sextets) {
    Data out;
    out.reserve(sextets.size() * 3 / 4);
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : sextets) {
        buffer = (buffer << 6) | static_cast<uint32_t>(kTable[static_cast<uint8_t>(c)]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(buffer >> bits));
        }
    }
    return out;
}
}  // namespace

std::string base64Encode(const Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t n = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    size_t rest = data.size() - i;
    if (rest == 1) {
        uint32_t n = data[i] << 16;
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        uint32_t n = data[i] << 16 | data[i + 1] << 8;
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<Data> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    std::string sextets;
    sextets.reserve(text.size());
    for (size_t i = 0; i < text.size() - padding; ++i) {
        if (kTable[static_cast<uint8_t>(text[i])] < 0) return std::nullopt;
        sextets += text[i];
    }
    return decodeSextets(sextets);
}

Data base64DecodeIgnoringUnknown(std::string_view text) {
    std::string sextets;
    sextets.reserve(text.size());
    for (char c : text)
        if (kTable[static_cast<uint8_t>(c)] >= 0) sextets += c;
    return decodeSextets(sextets);
}
