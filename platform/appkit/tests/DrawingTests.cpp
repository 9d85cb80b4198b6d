#include <gtest/gtest.h>

#include <fstream>

#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSTextField.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/EnvironmentOverride.h"

namespace {

class Painter : public NSView {
  public:
    using NSView::NSView;
    int draws = 0;
    void drawRect(const CGRect& dirty) override {
        ++draws;
        NSColor::redColor().set();
        NSRectFill(dirty);
        auto path = NSBezierPath::bezierPathWithRoundedRect(CGRectInset(bounds(), 2, 2), 3, 3);
        NSColor::blueColor().setStroke();
        path.setLineWidth(2);
        path.stroke();
        NSStringDraw("hi", {1, 2, 3, 4}, NSStringDrawingUsesLineFragmentOrigin,
                     {NSFont::systemFontOfSize(12), {}});
    }
};

}  // namespace

TEST(Drawing, ADisplayPassRecordsWhatEachVisibleViewDrew) {
    auto root = std::make_shared<Painter>(CGRect{0, 0, 100, 50});
    auto shown = std::make_shared<Painter>(CGRect{0, 0, 10, 10});
    auto hidden = std::make_shared<Painter>(CGRect{0, 0, 10, 10});
    root->addSubview(shown);
    root->addSubview(hidden);
    hidden->setHidden(true);
    root->display();

    const auto& ops = root->drawing()->operations();
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].kind, DrawOperation::Kind::FillRect);
    EXPECT_EQ(ops[0].rect, (CGRect{0, 0, 100, 50}));
    EXPECT_EQ(ops[0].color, NSColor::redColor());
    EXPECT_EQ(ops[1].kind, DrawOperation::Kind::StrokePath);
    EXPECT_EQ(ops[1].rect, (CGRect{2, 2, 96, 46}));
    EXPECT_EQ(ops[1].cornerRadius, 3);
    EXPECT_EQ(ops[1].lineWidth, 2);
    EXPECT_EQ(ops[1].color, NSColor::blueColor());
    EXPECT_EQ(ops[2].text, "hi");
    EXPECT_EQ(shown->draws, 1);
    EXPECT_EQ(hidden->draws, 0);
    EXPECT_EQ(hidden->drawing(), nullptr);

    root->displayIfNeeded();
    EXPECT_EQ(shown->draws, 1);
    shown->setNeedsDisplay(true);
    root->displayIfNeeded();
    EXPECT_EQ(shown->draws, 2);
}

TEST(Drawing, TextFieldsDrawTheirValueOrTheirPlaceholder) {
    auto field = std::make_shared<NSTextField>(CGRect{0, 0, 200, 22});
    field->setPlaceholderString("Enter name");
    field->display();
    ASSERT_EQ(field->drawing()->strings(), std::vector<std::string>{"Enter name"});
    EXPECT_EQ(field->drawing()->operations().back().attributes.foregroundColor,
              NSTextField::placeholderTextColor());

    field->setStringValue("Work");
    field->setTextColor(NSColor::whiteColor());
    field->display();
    ASSERT_EQ(field->drawing()->strings(), std::vector<std::string>{"Work"});
    EXPECT_EQ(field->drawing()->operations().back().attributes.foregroundColor, NSColor::whiteColor());
}

TEST(Text, MeasuresWithFixedMetricsSoSizesAreRepeatable) {
    TextAttributes regular{NSFont::systemFontOfSize(10), {}};
    EXPECT_EQ(NSStringSize("abcd", regular), (CGSize{22, 12}));
    EXPECT_EQ(NSStringSize("", regular).width, 0);
    // One character each, whatever their byte length; wide ideographs take the full size.
    EXPECT_EQ(NSStringSize("\xE2\x9C\x95", regular).width, 5.5);
    EXPECT_EQ(NSStringSize("\xE8\xA8\xAD", regular).width, 10);
    EXPECT_GT(NSStringSize("abcd", {NSFont::systemFontOfSize(10, NSFontWeightSemibold), {}}).width, 22);
    auto label = NSTextField::labelWithString("abcd");
    label->setFont(NSFont::systemFontOfSize(10));
    EXPECT_EQ(label->intrinsicContentSize(), (CGSize{26, 12}));
}

TEST(Images, AssetsAreFoundByNameAndAMissingOrBrokenOneIsNone) {
    EnvironmentOverride environment;
    environment.set("QUORVANE_RESOURCES", QUORVANE_TEST_FIXTURES "/images");
    auto wide = NSImage::imageNamed("wide");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->name(), "wide");
    EXPECT_EQ(wide->size(), (CGSize{24, 16}));
    EXPECT_EQ(NSImage::imageNamed("broken"), nullptr);
    EXPECT_EQ(NSImage::imageNamed("absent"), nullptr);
    EXPECT_EQ(NSImage::imageNamed("../images/wide"), nullptr);
}

// A bad asset is no image: neither a throw on its numbers nor an endless or failed read.
TEST(Images, MalformedSizesAndFilesThatAreNoAssetsGiveNoImage) {
    TestHome home;
    auto dir = home.path();
    auto svg = [&](const std::string& name, const std::string& width) {
        std::ofstream(dir / (name + ".svg"))
            << "<svg xmlns=\"http://www.w3.org/2000/svg\" stroke-width=\"2\" width=\"" << width
            << "\" height=\"16px\"><rect/></svg>";
    };
    svg("units", "24px");
    svg("dot", ".");
    svg("dots", "1.2.3");
    svg("huge", std::string(400, '9'));
    svg("none", "");
    std::filesystem::create_directory(dir / "folder.svg");
    std::filesystem::create_symlink("/dev/zero", dir / "zero.svg");
    std::ofstream(dir / "big.svg") << "<svg width=\"1\" height=\"1\">";
    std::filesystem::resize_file(dir / "big.svg", (16 << 20) + 1);
    EnvironmentOverride environment;
    environment.set("QUORVANE_RESOURCES", dir.c_str());

    auto units = NSImage::imageNamed("units");
    ASSERT_NE(units, nullptr);
    EXPECT_EQ(units->size(), (CGSize{24, 16}));
    for (const char* name : {"dot", "dots", "huge", "none", "folder", "zero", "big"})
        EXPECT_EQ(NSImage::imageNamed(name), nullptr) << name;
}
