#pragma once
// Tests of styles start from the simulated system's plain look (Aqua, blue tint, no increased
// contrast, left to right, a current system version), with an empty resource cache and a fresh
// directory as the program's resources, where a test writes info files and images of its own.
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "platform/appkit/NSAppearance.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/NSCache.h"
#include "platform/foundation/ProcessInfo.h"
#include "shortcut_recorder/KRRecorderControlStyle.h"
#include "shortcut_recorder/tests/ShortcutFixture.h"

// The reason of the Exception `body` raises; "" when it raises none.
inline std::string raisedReason(const std::function<void()>& body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.reason();
    }
    return "";
}

// A real PNG of one flat colour.
inline void writePNG(const std::filesystem::path& file, uint32_t width, uint32_t height) {
    auto be32 = [](std::string& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xFF));
    };
    auto chunk = [&](std::string& out, const std::string& type, const std::string& body) {
        be32(out, uint32_t(body.size()));
        std::string typed = type + body;
        out += typed;
        be32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
    };
    std::string header;
    be32(header, width);
    be32(header, height);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    std::string raw;
    for (uint32_t y = 0; y < height; ++y) raw += std::string(1, '\0') + std::string(width * 4, '\x80');
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::string packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    packed.resize(packedSize);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", "");
    std::ofstream(file, std::ios::binary) << png;
}

// The sixteen images a style draws with.
inline const std::vector<std::string>& styleImageNames() {
    static const std::vector<std::string> names = {
        "bezel-normal-left",     "bezel-normal-center",   "bezel-normal-right",    "bezel-pressed-left",
        "bezel-pressed-center",  "bezel-pressed-right",   "bezel-recording-left",  "bezel-recording-center",
        "bezel-recording-right", "bezel-disabled-left",   "bezel-disabled-center", "bezel-disabled-right",
        "button-cancel-normal",  "button-cancel-pressed", "button-clear-normal",   "button-clear-pressed"};
    return names;
}

// An info file whose parts a test replaces: `components` is the "supportedComponents" JSON, `metrics`
// the members of "metrics" (see standardMetrics).
inline std::string infoJSON(const std::string& components, const std::string& metrics) {
    return R"({"supportedComponents": )" + components + R"(, "metrics": {)" + metrics + "}}";
}

inline std::string labelJSON(int fontSize) {
    return R"({"fontName": ".AppleSystemUIFont", "fontSize": )" + std::to_string(fontSize) +
           R"(, "fontColorCatalogName": "System", "fontColorName": "controlTextColor"})";
}

inline std::string standardMetrics(
    const std::string& minSize = R"({"width": 100, "height": 22})",
    const std::string& alignmentInsets = R"({"top": 1, "left": 2, "bottom": 3, "right": 4})",
    int fontSize = 13) {
    return R"("minSize": )" + minSize +
           R"(, "labelToCancel": 4, "cancelToClear": 5, "buttonToAlignment": 6, "baselineFromTop": 15,
              "alignmentToLabel": 7, "labelToAlignment": 8, "baselineLayoutOffsetFromBottom": 9,
              "baselineDrawingOffsetFromBottom": 10, "focusRingCornerRadius": {"width": 4, "height": 5},
              "focusRingInsets": {"top": 0, "left": 1, "bottom": 0, "right": 1},
              "alignmentInsets": )" +
           alignmentInsets + R"(, "normalLabelAttributes": )" + labelJSON(fontSize) +
           R"(, "recordingLabelAttributes": )" + labelJSON(fontSize) + R"(, "disabledLabelAttributes": )" +
           labelJSON(fontSize);
}

// A view standing in for the recorder control: it counts what the style tells it.
class CountingControl : public NSView {
  public:
    explicit CountingControl(CGRect frame = {0, 0, 120, 24}) : NSView(frame) {}
    void noteFocusRingMaskChanged() override { ++focusRingMaskChanges; }
    void invalidateIntrinsicContentSize() override { ++intrinsicSizeInvalidations; }
    int focusRingMaskChanges = 0;
    int intrinsicSizeInvalidations = 0;
};

class StyleTest : public ShortcutTest {
  protected:
    StyleTest() {
        std::random_device random;
        const char* base = std::getenv("QUORVANE_TEST_TMP");
        resources = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().c_str()) /
                    ("style-" + std::to_string(random()));
        std::filesystem::create_directories(resources);
        environment.set("QUORVANE_RESOURCES", resources.c_str());
        environment.set("LANGUAGE", "en");
        resetLook();
    }
    ~StyleTest() override {
        resetLook();
        std::error_code ec;
        std::filesystem::remove_all(resources, ec);
    }

    static void resetLook() {
        NSAppearance::setCurrentAppearance(nullptr);
        NSColor::setCurrentControlTint(NSBlueControlTint);
        NSWorkspace::sharedWorkspace()->setAccessibilityDisplayShouldIncreaseContrast(false);
        ProcessInfo::resetOperatingSystemVersion();
        NSCacheBase::simulateMemoryPressure();
    }

    void writeInfo(const std::string& identifier, const std::string& json) {
        std::ofstream(resources / (identifier + "-info.data"), std::ios::binary) << json;
    }
    // Every image of a style under its bare identifier, bezels `bezel` × 22 and buttons 14 × 14.
    void writeImages(const std::string& identifier, uint32_t bezel = 4) {
        for (const auto& name : styleImageNames()) {
            bool button = name.starts_with("button");
            writePNG(resources / (identifier + "-" + name + ".png"), button ? 14 : bezel, button ? 14 : 22);
        }
    }

    std::filesystem::path resources;
};
