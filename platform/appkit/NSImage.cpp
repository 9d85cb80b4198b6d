#include "platform/appkit/NSImage.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "platform/appkit/NSGraphicsContext.h"
#include "platform/foundation/FileLocations.h"

namespace {

// Assets are small; a bigger file under an asset's name is not one.
constexpr std::uintmax_t kMaxAssetBytes = 16 << 20;

// A directory or a device (think /dev/zero) under an asset's name, or a file of insane size, is no
// image rather than a failed or endless read: readFile refuses them.
std::optional<Data> readAsset(const std::filesystem::path& file) {
    return FileLocations::readFile(file, nullptr, kMaxAssetBytes);
}

// Width and height from the PNG header (IHDR follows the 8-byte signature).
std::optional<CGSize> pngSize(const Data& bytes) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 24 || !std::equal(signature, signature + 8, bytes.begin())) return std::nullopt;
    auto be32 = [&](size_t at) {
        return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) |
               (uint32_t(bytes[at + 2]) << 8) | uint32_t(bytes[at + 3]);
    };
    return CGSize{double(be32(16)), double(be32(20))};
}

// The value of `name="..."` among the attributes of `tag`; a longer name ending in it (stroke-width)
// does not count.
std::optional<std::string_view> attribute(std::string_view tag, std::string_view name) {
    std::string key = std::string(name) + "=\"";
    for (size_t at = tag.find(key); at != std::string_view::npos; at = tag.find(key, at + 1)) {
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
        size_t start = at + key.size();
        size_t end = tag.find('"', start);
        if (end == std::string_view::npos) return std::nullopt;
        return tag.substr(start, end - start);
    }
    return std::nullopt;
}

// A length in points: its leading digits and dots (a unit such as "px" may follow), which must
// make one finite number.
std::optional<CGFloat> svgLength(std::string_view value) {
    size_t digits = 0;
    while (digits < value.size() &&
           (std::isdigit(static_cast<unsigned char>(value[digits])) || value[digits] == '.'))
        ++digits;
    double n = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + digits, n);
    if (digits == 0 || error != std::errc() || end != value.data() + digits || !std::isfinite(n))
        return std::nullopt;
    return n;
}

// Width and height attributes of the root element, in points.
std::optional<CGSize> svgSize(const Data& bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    size_t open = text.find("<svg");
    if (open == std::string_view::npos) return std::nullopt;
    size_t close = text.find('>', open);
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view tag = text.substr(open, close - open);
    auto width = attribute(tag, "width");
    auto height = attribute(tag, "height");
    if (!width || !height) return std::nullopt;
    auto w = svgLength(*width);
    auto h = svgLength(*height);
    if (!w || !h) return std::nullopt;
    return CGSize{*w, *h};
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
    return imageNamed(name, resourceDirectory());
}

std::shared_ptr<NSImage> NSImage::imageNamed(const std::string& name, const std::filesystem::path& dir) {
    if (name.empty() || name.find('/') != std::string::npos) return nullptr;
    if (auto bytes = readAsset(dir / (name + ".svg"))) {
        if (auto size = svgSize(*bytes)) return std::make_shared<NSImage>(name, *size);
    }
    if (auto bytes = readAsset(dir / (name + ".png"))) {
        if (auto size = pngSize(*bytes)) return std::make_shared<NSImage>(name, *size);
    }
    return nullptr;
}

void NSImage::drawInRect(const CGRect& rect) const {
    if (auto* context = NSGraphicsContext::currentContext())
        context->drawImages(DrawOperation::Kind::Image, {name_}, rect, NSCompositingOperation::SourceOver);
}

void NSDrawThreePartImage(const CGRect& frame, const NSImage& left, const NSImage& center,
                          const NSImage& right) {
    if (auto* context = NSGraphicsContext::currentContext())
        context->drawImages(DrawOperation::Kind::ThreePartImage, {left.name(), center.name(), right.name()},
                            frame, NSCompositingOperation::SourceOver);
}
