#include "shortcut_recorder/KRRecorderControlStyleResourceLoader.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/NSDataAsset.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/ValueClassName.h"
#include "shortcut_recorder/KRRecorderControlStyle.h"

namespace {

[[noreturn]] void fail(const std::string& reason) {
    throw Exception(NSInternalInconsistencyException, reason);
}

std::string numberText(double value) {
    if (value == std::floor(value) && std::abs(value) < 1e15) return std::to_string(int64_t(value));
    return std::to_string(value);
}

// The class a value would have after JSON parsing; a missing value prints as nil does.
std::string className(const Value* value) {
    return value ? classNameOf(*value) : "(null)";
}

std::string member(const std::string& path, const std::string& key) {
    return path + "." + key;
}

// Reads the info file's JSON into typed values; every refusal names the path of the bad value.
class InfoReader {
  public:
    static KRStyleInfo read(const Value& root, const std::string& assetName) {
        const Dictionary* top = root.asDictionary();
        // A file whose top level is no object has neither key; say so rather than read into it.
        if (!top) fail(assetName + ": expected NSDictionary but got " + className(&root));
        KRStyleInfo info;
        info.supportedComponents = components((*top).find("supportedComponents"), "supportedComponents");
        info.metrics = metrics((*top).find("metrics"), "metrics");
        return info;
    }

  private:
    static const Value::Array& array(const Value* value, const std::string& path) {
        if (!value || !value->isArray()) fail(path + ": expected NSArray but got " + className(value));
        return *value->asArray();
    }
    static const Dictionary& dictionary(const Value* value, const std::string& path) {
        if (!value || !value->isDictionary())
            fail(path + ": expected NSDictionary but got " + className(value));
        return *value->asDictionary();
    }
    static double number(const Value* value, const std::string& path) {
        if (!value || !value->isNumber()) fail(path + ": expected NSNumber but got " + className(value));
        return value->realOr(0);
    }
    static const std::string& string(const Value* value, const std::string& path) {
        if (!value || !value->isString()) fail(path + ": expected NSString but got " + className(value));
        return *value->asString();
    }

    // A missing key is unspecified (0).
    static uint64_t bounded(const Dictionary& object, const std::string& key, const std::string& path,
                            uint64_t upper) {
        const Value* value = object.find(key);
        if (!value) return 0;
        std::string at = member(path, key);
        double n = number(value, at);
        if (n >= double(upper)) fail(at + ": value >= " + numberText(double(upper)));
        if (n < 0) fail(at + ": value < 0");
        return uint64_t(n);
    }
    static uint64_t masked(const Dictionary& object, const std::string& key, const std::string& path,
                           uint64_t mask) {
        const Value* value = object.find(key);
        if (!value) return 0;
        std::string at = member(path, key);
        double n = number(value, at);
        // A negative or fractional number has bits no mask allows.
        if (n < 0 || n != std::floor(n) || n >= 18446744073709551616.0 || (uint64_t(n) & ~mask))
            fail(at + ": value must be with mask " + std::to_string(mask));
        return uint64_t(n);
    }

    static std::vector<KRComponentsPtr> components(const Value* value, const std::string& path) {
        const Value::Array& entries = array(value, path);
        std::vector<KRComponentsPtr> out;
        for (size_t i = 0; i < entries.size(); ++i) {
            std::string at = path + ".[" + std::to_string(i) + "]";
            const Dictionary& entry = dictionary(&entries[i], at);
            uint64_t appearance =
                bounded(entry, "appearance", at, KRRecorderControlStyleComponentsAppearanceMax);
            uint64_t accessibility =
                masked(entry, "accessibility", at, KRRecorderControlStyleComponentsAccessibilityMask);
            uint64_t direction =
                bounded(entry, "layoutDirection", at, KRRecorderControlStyleComponentsLayoutDirectionMax);
            uint64_t tint = bounded(entry, "tint", at, KRRecorderControlStyleComponentsTintMax);
            // "none" with high contrast passes the mask but is no look; refuse it here rather than
            // fail an assertion deep inside the components.
            if (accessibility == (KRRecorderControlStyleComponentsAccessibilityNone |
                                  KRRecorderControlStyleComponentsAccessibilityHighContrast))
                fail(member(at, "accessibility") +
                     ": None cannot be combined with other accessibility options.");
            out.push_back(KRRecorderControlStyleComponents::initWithAppearance(appearance, accessibility,
                                                                               direction, tint));
        }
        out.push_back(KRRecorderControlStyleComponents::init());
        return out;
    }

    // An object of exactly these keys, each present.
    static const Dictionary& fixedObject(const Value* value, const std::string& path,
                                         std::initializer_list<const char*> keys) {
        const Dictionary& object = dictionary(value, path);
        if (object.size() != keys.size()) fail(path + ": unexpected keys");
        for (const char* key : keys)
            if (!object.contains(key)) fail(path + ": missing " + key);
        return object;
    }
    static CGSize size(const Value* value, const std::string& path) {
        const Dictionary& object = fixedObject(value, path, {"width", "height"});
        return {number(object.find("width"), member(path, "width")),
                number(object.find("height"), member(path, "height"))};
    }
    static NSEdgeInsets insets(const Value* value, const std::string& path) {
        const Dictionary& object = fixedObject(value, path, {"top", "left", "bottom", "right"});
        return {number(object.find("top"), member(path, "top")),
                number(object.find("left"), member(path, "left")),
                number(object.find("bottom"), member(path, "bottom")),
                number(object.find("right"), member(path, "right"))};
    }
    static KRLabelAttributes label(const Value* value, const std::string& path) {
        const Dictionary& object =
            fixedObject(value, path, {"fontName", "fontSize", "fontColorCatalogName", "fontColorName"});
        const std::string& fontName = string(object.find("fontName"), member(path, "fontName"));
        double fontSize = number(object.find("fontSize"), member(path, "fontSize"));
        const std::string& catalog =
            string(object.find("fontColorCatalogName"), member(path, "fontColorCatalogName"));
        const std::string& colorName = string(object.find("fontColorName"), member(path, "fontColorName"));

        KRLabelAttributes attributes;
        attributes.paragraphStyle = {NSTextAlignment::Center, NSLineBreakMode::ByTruncatingMiddle};
        std::optional<NSFont> font = fontName == NSFont::systemFontName
                                         ? NSFont::systemFontOfSize(fontSize)
                                         : NSFont::fontWithName(fontName, fontSize);
        // Without these the label would be drawn in whatever the drawing code falls back to: refuse
        // the file instead, naming what the system lacks.
        if (!font) fail(member(path, "fontName") + ": no font named " + fontName);
        auto color = NSColor::colorWithCatalogName(catalog, colorName);
        if (!color) fail(member(path, "fontColorName") + ": no color named " + colorName + " in " + catalog);
        attributes.text = {font, color};
        attributes.minimalDrawableWidth = NSStringSize("\u2026", attributes.text).width;
        return attributes;
    }

    static KRStyleMetrics metrics(const Value* value, const std::string& path) {
        const Dictionary& object = dictionary(value, path);
        auto at = [&](const char* key) { return std::string(key); };
        auto numberAt = [&](const char* key) { return number(object.find(key), at(key)); };
        KRStyleMetrics m;
        m.minSize = size(object.find("minSize"), "minSize");
        m.labelToCancel = numberAt("labelToCancel");
        m.cancelToClear = numberAt("cancelToClear");
        m.buttonToAlignment = numberAt("buttonToAlignment");
        m.baselineFromTop = numberAt("baselineFromTop");
        m.alignmentToLabel = numberAt("alignmentToLabel");
        m.labelToAlignment = numberAt("labelToAlignment");
        m.baselineLayoutOffsetFromBottom = numberAt("baselineLayoutOffsetFromBottom");
        m.baselineDrawingOffsetFromBottom = numberAt("baselineDrawingOffsetFromBottom");
        m.focusRingCornerRadius = size(object.find("focusRingCornerRadius"), "focusRingCornerRadius");
        m.focusRingInsets = insets(object.find("focusRingInsets"), "focusRingInsets");
        m.alignmentInsets = insets(object.find("alignmentInsets"), "alignmentInsets");
        m.normalLabelAttributes = label(object.find("normalLabelAttributes"), "normalLabelAttributes");
        m.recordingLabelAttributes =
            label(object.find("recordingLabelAttributes"), "recordingLabelAttributes");
        m.disabledLabelAttributes = label(object.find("disabledLabelAttributes"), "disabledLabelAttributes");
        return m;
    }
};

std::shared_ptr<NSDataAsset> infoAsset(const std::string& name) {
    if (auto asset = NSDataAsset::initWithName(name, *KRResourceBundle())) return asset;
    return NSDataAsset::initWithName(name, *Bundle::mainBundle());
}

std::shared_ptr<NSImage> loadImage(const std::string& resolvedName, bool fromResourceBundle) {
    return fromResourceBundle ? KRImage(resolvedName) : NSImage::imageNamed(resolvedName);
}

size_t low32(size_t value) {
    return value & 0xFFFFFFFFu;
}

}  // namespace

bool KRRecorderControlStyleResourceLoader::PrefixesKey::operator==(const PrefixesKey& other) const {
    return identifier == other.identifier && components->isEqual(other.components.get());
}

bool KRRecorderControlStyleResourceLoader::ImageKey::operator==(const ImageKey& other) const {
    return identifier == other.identifier && name == other.name &&
           components->isEqual(other.components.get());
}

size_t KRRecorderControlStyleResourceLoader::KeyHash::operator()(const Key& key) const {
    std::hash<std::string> text;
    if (auto* identifier = std::get_if<std::string>(&key)) return text(*identifier);
    if (auto* prefixes = std::get_if<PrefixesKey>(&key))
        return (low32(prefixes->components->hash()) << 32) ^ text(prefixes->identifier);
    const auto& image = std::get<ImageKey>(key);
    return ((low32(image.components->hash()) ^ low32(text(image.name))) << 32) ^ image.components->hash();
}

KRRecorderControlStyleResourceLoader::KRRecorderControlStyleResourceLoader()
    : cache_("KRRecorderControlStyleResourceLoader") {}

std::shared_ptr<const KRStyleInfo> KRRecorderControlStyleResourceLoader::infoForStyle(
    const KRRecorderControlStyle& style) {
    TraceActivity activity("-[KRRecorderControlStyleResourceLoader infoForStyle:]");
    std::lock_guard lock(mutex_);
    return lockedInfo(style.identifier());
}

std::shared_ptr<const KRStyleInfo> KRRecorderControlStyleResourceLoader::lockedInfo(
    const std::string& identifier) {
    traceLog(TraceLevel::Debug, "Fetching info", Dictionary{{"identifier", identifier}});
    if (auto hit = cache_.objectForKey(identifier)) {
        traceLog(TraceLevel::Debug, "Info is in cache");
        return std::get<std::shared_ptr<const KRStyleInfo>>(*hit);
    }
    traceLog(TraceLevel::Debug, "Info is not in cache");
    std::string name = identifier + "-info";
    auto asset = infoAsset(name);
    if (!asset) fail("Missing " + name);
    Error error;
    auto root = json::parse(
        std::string_view(reinterpret_cast<const char*>(asset->data().data()), asset->data().size()), &error);
    if (!root) fail(name + " is an invalid JSON: " + error.description);
    auto info = std::make_shared<const KRStyleInfo>(InfoReader::read(*root, name));
    cache_.setObject(info, identifier);
    return info;
}

std::shared_ptr<const std::vector<std::string>> KRRecorderControlStyleResourceLoader::lookupPrefixesForStyle(
    const KRRecorderControlStyle& style) {
    TraceActivity activity("-[KRRecorderControlStyleResourceLoader lookupPrefixesForStyle:]");
    std::lock_guard lock(mutex_);
    return lockedPrefixes(style.identifier(), style.effectiveComponents());
}

std::shared_ptr<const std::vector<std::string>> KRRecorderControlStyleResourceLoader::lockedPrefixes(
    const std::string& identifier, const KRComponentsPtr& components) {
    traceLog(TraceLevel::Debug, "Fetching lookup prefixes", Dictionary{{"identifier", identifier}});
    Key key = PrefixesKey{identifier, components};
    if (auto hit = cache_.objectForKey(key)) {
        traceLog(TraceLevel::Debug, "Lookup prefixes are in cache");
        return std::get<std::shared_ptr<const std::vector<std::string>>>(*hit);
    }
    traceLog(TraceLevel::Debug, "Lookup prefixes are not in cache");
    auto supported = lockedInfo(identifier)->supportedComponents;
    std::stable_sort(supported.begin(), supported.end(),
                     [&](const KRComponentsPtr& a, const KRComponentsPtr& b) {
                         return a->compare(*b, *components) == NSComparisonResult::OrderedAscending;
                     });
    auto prefixes = std::make_shared<std::vector<std::string>>();
    for (const auto& entry : supported) prefixes->push_back(identifier + entry->stringRepresentation());
    std::shared_ptr<const std::vector<std::string>> result = prefixes;
    cache_.setObject(result, key);
    return result;
}

std::shared_ptr<NSImage> KRRecorderControlStyleResourceLoader::imageNamed(
    const std::string& name, const KRRecorderControlStyle& style) {
    TraceActivity activity("-[KRRecorderControlStyleResourceLoader imageNamed:forStyle:]");
    std::lock_guard lock(mutex_);
    const std::string& identifier = style.identifier();
    traceLog(TraceLevel::Debug, "Fetching image name",
             Dictionary{{"identifier", identifier}, {"image", name}});
    Key key = ImageKey{identifier, style.effectiveComponents(), name};
    if (auto hit = cache_.objectForKey(key)) {
        traceLog(TraceLevel::Debug, "Image name is in cache");
        const auto& entry = std::get<ImageEntry>(*hit);
        return loadImage(entry.resolvedName, entry.fromResourceBundle);
    }
    traceLog(TraceLevel::Debug, "Image name is not in cache");
    for (const auto& prefix : *lockedPrefixes(identifier, style.effectiveComponents())) {
        std::string resolved = prefix + "-" + name;
        for (bool fromBundle : {true, false}) {
            if (auto image = loadImage(resolved, fromBundle)) {
                cache_.setObject(ImageEntry{resolved, fromBundle}, key);
                return image;
            }
        }
    }
    fail("Missing image named " + name);
}
