#include "measurement/foundation/ZDMIdentity.h"

#include <charconv>
#include <string_view>

namespace {
constexpr std::string_view kLibraryVersionText = "101300000";

// The last three digits count patch releases, which the version number leaves out.
int64_t versionNumber(std::string_view text) {
    if (text.size() < 4) return 0;
    text.remove_suffix(3);
    int64_t number = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
    return failure == std::errc() && end == text.data() + text.size() ? number : 0;
}
}  // namespace

int64_t ZDMIdentity::didAdirezaridoLibraryVersion() {
    return versionNumber(kLibraryVersionText);
}
