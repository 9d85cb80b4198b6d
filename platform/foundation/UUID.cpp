#include "platform/foundation/UUID.h"

#include <random>

namespace {
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

UUID::UUID() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    uint64_t hi = engine(), lo = engine();
    for (int i = 0; i < 8; ++i) {
        bytes_[i] = static_cast<uint8_t>(hi >> (56 - 8 * i));
        bytes_[8 + i] = static_cast<uint8_t>(lo >> (56 - 8 * i));
    }
    bytes_[6] = (bytes_[6] & 0x0F) | 0x40;  // version 4
    bytes_[8] = (bytes_[8] & 0x3F) | 0x80;  // RFC 4122 variant
}

UUID UUID::fromBytes(const std::array<uint8_t, 16>& bytes) {
    return UUID(bytes);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    size_t b = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[b++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[bytes_[i] >> 4];
        out += digits[bytes_[i] & 0xF];
    }
    return out;
}
