#include <gtest/gtest.h>

#include "shortcut_recorder/tests/StyleFixture.h"

namespace {

using Components = KRRecorderControlStyleComponents;

class KRStyleResourceLoader : public StyleTest {
  protected:
    std::shared_ptr<KRRecorderControlStyleResourceLoader> loader =
        std::make_shared<KRRecorderControlStyleResourceLoader>();
};

const char* kOneComponent = R"([{"appearance": 1}])";

std::string without(std::string text, const std::string& piece) {
    return text.erase(text.find(piece), piece.size());
}

TEST_F(KRStyleResourceLoader, ReadsMetricsAndLabelAttributes) {
    writeInfo("test-read",
              infoJSON(R"([{"appearance": 3, "tint": 2}, {"layoutDirection": 2, "accessibility": 2}])",
                       standardMetrics()));
    auto info = loader->infoForStyle(*KRRecorderControlStyle::initWithIdentifier("test-read", nullptr));
    ASSERT_EQ(info->supportedComponents.size(), 3u);
    EXPECT_EQ(info->supportedComponents[0]->stringRepresentation(), "-darkaqua-graphite");
    EXPECT_EQ(info->supportedComponents[1]->stringRepresentation(), "-acc-rtl");
    EXPECT_EQ(info->supportedComponents[2]->stringRepresentation(), "");
    const auto& m = info->metrics;
    EXPECT_EQ(m.minSize, (CGSize{100, 22}));
    EXPECT_EQ((std::vector<CGFloat>{m.labelToCancel, m.cancelToClear, m.buttonToAlignment, m.baselineFromTop,
                                    m.alignmentToLabel, m.labelToAlignment, m.baselineLayoutOffsetFromBottom,
                                    m.baselineDrawingOffsetFromBottom}),
              (std::vector<CGFloat>{4, 5, 6, 15, 7, 8, 9, 10}));
    EXPECT_EQ(m.focusRingCornerRadius, (CGSize{4, 5}));
    EXPECT_EQ(m.alignmentInsets.left, 2);
    EXPECT_EQ(m.alignmentInsets.right, 4);
    const auto& label = m.normalLabelAttributes;
    EXPECT_EQ(label.paragraphStyle.alignment, NSTextAlignment::Center);
    EXPECT_EQ(label.paragraphStyle.lineBreakMode, NSLineBreakMode::ByTruncatingMiddle);
    EXPECT_EQ(label.text.font, NSFont::systemFontOfSize(13));
    EXPECT_EQ(label.text.foregroundColor, NSColor::colorWithCatalogName("System", "controlTextColor"));
    EXPECT_DOUBLE_EQ(label.minimalDrawableWidth, NSStringSize("\u2026", label.text).width);
    EXPECT_GT(label.minimalDrawableWidth, 0);
}

TEST_F(KRStyleResourceLoader, BadInfoFilesFailWithThePathOfTheBadValue) {
    auto metricsWith = [](const std::string& replacement) {
        return standardMetrics().replace(0, std::string(R"("minSize": {"width": 100, "height": 22})").size(),
                                         replacement);
    };
    struct Row {
        const char* identifier;
        std::string json;
        std::string reason;
    };
    const Row rows[] = {
        {"test-nofile", "", "Missing test-nofile-info"},
        {"test-json", "{\"supportedComponents\": [", "test-json-info is an invalid JSON: "},
        {"test-minsize-extra",
         infoJSON(kOneComponent, metricsWith(R"("minSize": {"width": 1, "height": 2, "depth": 3})")),
         "minSize: unexpected keys"},
        {"test-minsize-missing",
         infoJSON(kOneComponent, metricsWith(R"("minSize": {"width": 1, "depth": 3})")),
         "minSize: missing height"},
        {"test-minsize-type",
         infoJSON(kOneComponent, metricsWith(R"("minSize": {"width": "1", "height": 2})")),
         "minSize.width: expected NSNumber but got NSString"},
        {"test-mask", infoJSON(R"([{"accessibility": 4}])", standardMetrics()),
         "supportedComponents.[0].accessibility: value must be with mask 3"},
        {"test-upper", infoJSON(R"([{"appearance": 5}])", standardMetrics()),
         "supportedComponents.[0].appearance: value >= 5"},
        {"test-lower", infoJSON(R"([{}, {}, {"tint": -1}])", standardMetrics()),
         "supportedComponents.[2].tint: value < 0"},
        {"test-element", infoJSON(R"([{}, 7])", standardMetrics()),
         "supportedComponents.[1]: expected NSDictionary but got NSNumber"},
        {"test-components", infoJSON(R"({"appearance": 1})", standardMetrics()),
         "supportedComponents: expected NSArray but got NSDictionary"},
        {"test-nometrics", R"({"supportedComponents": []})", "metrics: expected NSDictionary but got (null)"},
        {"test-nonumber", infoJSON(kOneComponent, without(standardMetrics(), R"("labelToCancel": 4,)")),
         "labelToCancel: expected NSNumber but got (null)"},
        {"test-insets",
         infoJSON(kOneComponent, standardMetrics(R"({"width": 100, "height": 22})", R"({"top": 1})")),
         "alignmentInsets: unexpected keys"},
        // Mended: a font or colour the system lacks, a "none" combined with high contrast, and a
        // file that is no object are refused with a reason rather than read into nothing.
        {"test-font",
         infoJSON(kOneComponent, standardMetrics() + R"(, "normalLabelAttributes": {"fontName": "NoFont",
             "fontSize": 13, "fontColorCatalogName": "System", "fontColorName": "controlTextColor"})"),
         "normalLabelAttributes.fontName: no font named NoFont"},
        {"test-color",
         infoJSON(kOneComponent, standardMetrics() + R"(, "disabledLabelAttributes": {"fontName": "Menlo",
             "fontSize": 13, "fontColorCatalogName": "System", "fontColorName": "plaid"})"),
         "disabledLabelAttributes.fontColorName: no color named plaid in System"},
        {"test-nonebits", infoJSON(R"([{"accessibility": 3}])", standardMetrics()),
         "supportedComponents.[0].accessibility: None cannot be combined with other accessibility options."},
        {"test-array", "[1, 2]", "test-array-info: expected NSDictionary but got NSArray"},
    };
    for (const auto& r : rows) {
        if (!r.json.empty()) writeInfo(r.identifier, r.json);
        auto style = KRRecorderControlStyle::initWithIdentifier(r.identifier, nullptr);
        std::string reason = raisedReason([&] { loader->infoForStyle(*style); });
        EXPECT_TRUE(reason.starts_with(r.reason)) << r.identifier << ": " << reason;
        EXPECT_FALSE(reason.empty()) << r.identifier;
    }
}

TEST_F(KRStyleResourceLoader, EmptySupportedComponentsLeaveTheBareIdentifier) {
    writeInfo("test-empty", infoJSON("[]", standardMetrics()));
    auto style = KRRecorderControlStyle::initWithIdentifier("test-empty", nullptr);
    EXPECT_EQ(*loader->lookupPrefixesForStyle(*style), std::vector<std::string>{"test-empty"});
}

TEST_F(KRStyleResourceLoader, PrefixesOfTheStandardStyleFollowTheLookInEffect) {
    NSAppearance::setCurrentAppearance(NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua));
    auto dark = KRRecorderControlStyle::init();
    EXPECT_EQ(*loader->lookupPrefixesForStyle(*dark),
              (std::vector<std::string>{"sr-mojave-darkaqua-ltr", "sr-mojave-darkaqua-rtl",
                                        "sr-mojave-aqua-ltr", "sr-mojave-aqua-rtl", "sr-mojave"}));
    NSAppearance::setCurrentAppearance(nullptr);
    NSApplication::sharedApplication()->setUserInterfaceLayoutDirection(
        NSUserInterfaceLayoutDirection::RightToLeft);
    auto rtl = KRRecorderControlStyle::init();
    EXPECT_EQ(*loader->lookupPrefixesForStyle(*rtl),
              (std::vector<std::string>{"sr-mojave-aqua-rtl", "sr-mojave-aqua-ltr", "sr-mojave-darkaqua-rtl",
                                        "sr-mojave-darkaqua-ltr", "sr-mojave"}));
    // Every image of both standard styles is there, for every look they support.
    for (const char* identifier : {"sr-mojave", "sr-yosemite"})
        for (const auto& look : {NSAppearanceNameAqua, NSAppearanceNameDarkAqua})
            for (auto direction :
                 {NSUserInterfaceLayoutDirection::LeftToRight, NSUserInterfaceLayoutDirection::RightToLeft}) {
                NSAppearance::setCurrentAppearance(NSAppearance::appearanceNamed(look));
                NSApplication::sharedApplication()->setUserInterfaceLayoutDirection(direction);
                auto style = KRRecorderControlStyle::initWithIdentifier(identifier, nullptr);
                auto info = loader->infoForStyle(*style);
                EXPECT_EQ(info->supportedComponents.size(), 5u);
                auto suffix = style->effectiveComponents()->stringRepresentation();
                auto bezel = loader->imageNamed("bezel-normal-left", *style);
                ASSERT_TRUE(bezel);
                EXPECT_EQ(bezel->name(),
                          std::string(identifier) +
                              (look == std::string(NSAppearanceNameAqua) ? "-aqua" : "-darkaqua") +
                              (direction == NSUserInterfaceLayoutDirection::LeftToRight ? "-ltr" : "-rtl") +
                              "-bezel-normal-left");
                for (const auto& name : styleImageNames())
                    EXPECT_TRUE(loader->imageNamed(name, *style)) << name;
            }
}

TEST_F(KRStyleResourceLoader, AnImageOnlyInTheProgramsResourcesIsFoundAndCached) {
    // The program's image stands under a prefix that comes before the library's bare one.
    writePNG(resources / "sr-mojave-aqua-ltr-button-cancel-normal.png", 9, 7);
    auto style = KRRecorderControlStyle::init();
    auto image = loader->imageNamed("button-cancel-normal", *style);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->name(), "sr-mojave-aqua-ltr-button-cancel-normal");
    EXPECT_EQ(image->size(), (CGSize{9, 7}));
    trace.clear();
    auto again = loader->imageNamed("button-cancel-normal", *style);
    EXPECT_EQ(trace.count("Image name is in cache"), 1u);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), (CGSize{9, 7}));
    // The library's own image, found in its bundle.
    EXPECT_EQ(loader->imageNamed("button-clear-normal", *style)->size(), (CGSize{14, 14}));
    EXPECT_EQ(raisedReason([&] { loader->imageNamed("no-such-image", *style); }),
              "Missing image named no-such-image");
}

TEST_F(KRStyleResourceLoader, CacheEntriesAreSharedByKeyAndRebuiltAfterEviction) {
    auto first = KRRecorderControlStyle::init();
    auto second = KRRecorderControlStyle::init();
    auto info = loader->infoForStyle(*first);
    EXPECT_EQ(loader->infoForStyle(*second), info);
    EXPECT_EQ(trace.count("Info is not in cache"), 1u);
    EXPECT_EQ(trace.count("Info is in cache"), 1u);

    loader->imageNamed("bezel-normal-left", *first);
    loader->imageNamed("bezel-normal-left", *second);
    EXPECT_EQ(trace.count("Lookup prefixes are not in cache"), 1u);
    EXPECT_EQ(trace.count("Image name is not in cache"), 1u);

    NSAppearance::setCurrentAppearance(NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua));
    auto dark = KRRecorderControlStyle::init();
    loader->imageNamed("bezel-normal-left", *dark);
    EXPECT_EQ(trace.count("Lookup prefixes are not in cache"), 2u);
    EXPECT_EQ(trace.count("Image name is not in cache"), 2u);
    EXPECT_EQ(trace.count("Info is not in cache"), 1u);

    NSCacheBase::simulateMemoryPressure();
    auto rebuilt = loader->infoForStyle(*first);
    EXPECT_EQ(trace.count("Info is not in cache"), 2u);
    EXPECT_NE(rebuilt, info);
    EXPECT_EQ(rebuilt->metrics.minSize, info->metrics.minSize);

    // Each line ran inside its method's activity, the fetch lines naming what was asked.
    auto lines = trace.lines();
    auto fetch = std::find_if(lines.begin(), lines.end(),
                              [](const TraceLine& l) { return l.message == "Fetching image name"; });
    ASSERT_NE(fetch, lines.end());
    EXPECT_EQ(fetch->activity, "-[KRRecorderControlStyleResourceLoader imageNamed:forStyle:]");
    EXPECT_EQ(fetch->payload.asDictionary()->find("image")->stringOr(""), "bezel-normal-left");
    EXPECT_EQ(fetch->payload.asDictionary()->find("identifier")->stringOr(""), "sr-mojave");
}

}  // namespace
