#include "platform/appkit/NSImage.h"

#include <cstdlib>
#include <regex>

#include "platform/foundation/FileLocations.h"

namespace {

// Width and height from the PNG header (IHDR follows the 8-byte signature).
std::optional<CGSize> pngSize(const Data& bytes) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 24 || !std::equal(signature, signature + 8, bytes.begin())) return std::nullopt;
    auto be32 = [&](size_t at) {
        return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) | (uint32_t(bytes[at + 2]) << 8) |
               uint32_t(bytes[at + 3]);
    };
    return CGSize{double(be32(16)), double(be32(20))};
}

// Width and height attributes of the root element, in points.
std::optional<CGSize> svgSize(const Data& bytes) {
    std::string text(bytes.begin(), bytes.end());
    static const std::regex width(R"re(<svg[^>]*\swidth="([0-9.]+))re");
    static const std::regex height(R"re(<svg[^>]*\sheight="([0-9.]+))re");
    std::smatch w, h;
    if (!std::regex_search(text, w, width) || !std::regex_search(text, h, height)) return std::nullopt;
    return CGSize{std::stod(w[1].str()), std::stod(h[1].str())};
}

}  // namespace

// Beside the executable, as an application keeps its resources beside its code, so that a moved or
// installed build still finds them.
std::filesystem::path NSImage::resourceDirectory() {
    if (const char* dir = std::getenv("QUORVANE_RESOURCES"); dir && *dir) return dir;
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (ec ? std::filesystem::path() : executable.parent_path()) / "Resources";
}

std::shared_ptr<NSImage> NSImage::imageNamed(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return nullptr;
    auto dir = resourceDirectory();
    if (auto bytes = FileLocations::readFile(dir / (name + ".svg"))) {
        if (auto size = svgSize(*bytes)) return std::make_shared<NSImage>(name, *size);
    }
    if (auto bytes = FileLocations::readFile(dir / (name + ".png"))) {
        if (auto size = pngSize(*bytes)) return std::make_shared<NSImage>(name, *size);
    }
    return nullptr;
}
