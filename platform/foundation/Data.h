#pragma once
// Raw bytes, as the design's NSData.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Data = std::vector<uint8_t>;

inline Data dataFromString(std::string_view s) {
    return Data(s.begin(), s.end());
}
inline std::string stringFromData(const Data& d) {
    return std::string(d.begin(), d.end());
}
