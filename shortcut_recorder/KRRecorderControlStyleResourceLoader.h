#pragma once
// Finds and caches what a recorder-control style draws with: the style's info (a data asset
// "<identifier>-info" of the library's bundle, else of the program's: supported components, metrics
// and label attributes), the ordered resource-name prefixes for the style's identifier and
// components in effect, and the images named through those prefixes. One cache holds all three
// under one lock; it may drop entries at any time, and a dropped entry is made again when asked.
//
// A missing or malformed info file and a missing image are packaging errors: each raises an
// internal-inconsistency Exception whose reason names the file, the path of the bad value in it
// ("supportedComponents.[2].tint", "minSize.width") or the image.
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSParagraphStyle.h"
#include "platform/appkit/NSStringDrawing.h"
#include "platform/appkit/NSView.h"
#include "platform/foundation/NSCache.h"
#include "shortcut_recorder/KRRecorderControlStyleComponents.h"

class KRRecorderControlStyle;

// How a label is drawn: centred and cut in the middle when too long; minimalDrawableWidth is the
// width of "…" in these attributes, below which there is no point in drawing the label at all.
struct KRLabelAttributes {
    TextAttributes text;
    NSParagraphStyle paragraphStyle;
    CGFloat minimalDrawableWidth = 0;
};

struct KRStyleMetrics {
    CGSize minSize;
    CGFloat labelToCancel = 0, cancelToClear = 0, buttonToAlignment = 0, baselineFromTop = 0,
            alignmentToLabel = 0, labelToAlignment = 0, baselineLayoutOffsetFromBottom = 0,
            baselineDrawingOffsetFromBottom = 0;
    CGSize focusRingCornerRadius;
    NSEdgeInsets focusRingInsets, alignmentInsets;
    KRLabelAttributes normalLabelAttributes, recordingLabelAttributes, disabledLabelAttributes;
};

struct KRStyleInfo {
    // In file order, with one all-unspecified entry appended.
    std::vector<KRComponentsPtr> supportedComponents;
    KRStyleMetrics metrics;
};

class KRRecorderControlStyleResourceLoader {
  public:
    KRRecorderControlStyleResourceLoader();

    std::shared_ptr<const KRStyleInfo> infoForStyle(const KRRecorderControlStyle& style);
    // "<identifier><suffix>" for every supported entry, closest to the style's effective components
    // first; the bare identifier last.
    std::shared_ptr<const std::vector<std::string>> lookupPrefixesForStyle(
        const KRRecorderControlStyle& style);
    // "<prefix>-<name>" under the first prefix that has it, from the library's bundle, else the
    // program's images.
    std::shared_ptr<NSImage> imageNamed(const std::string& name, const KRRecorderControlStyle& style);

  private:
    struct PrefixesKey {
        std::string identifier;
        KRComponentsPtr components;
        bool operator==(const PrefixesKey& other) const;
    };
    struct ImageKey {
        std::string identifier;
        KRComponentsPtr components;
        std::string name;
        bool operator==(const ImageKey& other) const;
    };
    struct ImageEntry {
        std::string resolvedName;
        bool fromResourceBundle;
    };
    using Key = std::variant<std::string, PrefixesKey, ImageKey>;
    using Entry = std::variant<std::shared_ptr<const KRStyleInfo>,
                               std::shared_ptr<const std::vector<std::string>>, ImageEntry>;
    struct KeyHash {
        size_t operator()(const Key& key) const;
    };

    std::shared_ptr<const KRStyleInfo> lockedInfo(const std::string& identifier);
    std::shared_ptr<const std::vector<std::string>> lockedPrefixes(const std::string& identifier,
                                                                   const KRComponentsPtr& components);

    std::mutex mutex_;
    NSCache<Key, Entry, KeyHash> cache_;
};
