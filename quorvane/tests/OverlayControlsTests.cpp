#include <gtest/gtest.h>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "quorvane/Button.h"
#include "quorvane/Colors.h"
#include "quorvane/CubeButton.h"
#include "quorvane/DividerView.h"
#include "quorvane/Extensions.h"

TEST(HexColor, SixHexDigitsMakeAColourAndAnythingElseIsGrey) {
    struct Case {
        const char* text;
        CGFloat alpha;
        NSColor expected;
    };
    const Case cases[] = {
        {" #1585ff ", 1.0, NSColor::colorWithRed(21.0 / 255, 133.0 / 255, 255.0 / 255, 1.0)},
        {"\n#FFFFFF\t", 0.25, NSColor::colorWithRed(1, 1, 1, 0.25)},
        {"22262D", 1.0, hexColor("#22262D", 1.0)},
        {"#ABC", 0.3, NSColor::grayColor()},
        {"zzzzzz", 1.0, NSColor::grayColor()},
        {"#12ZZZZ", 1.0, NSColor::grayColor()},
        {"##123456", 1.0, NSColor::grayColor()},
        {"", 1.0, NSColor::grayColor()},
    };
    for (const auto& c : cases) EXPECT_EQ(hexColor(c.text, c.alpha), c.expected) << '"' << c.text << '"';
    NSColor blue = hexColor("#1585ff", 1.0);
    EXPECT_EQ(blue.redComponent() * 255, 21);
    EXPECT_EQ(blue.greenComponent() * 255, 133);
}

TEST(NamedColours, HaveTheirFixedValues) {
    EXPECT_EQ(Colors::gridSelectionFill(), NSColor::colorWithRed(230.0 / 255, 239.0 / 255, 252.0 / 255, 1.0));
    EXPECT_EQ(Colors::rowHighlight(), NSColor::colorWithRed(0.047, 0.133, 0.219, 0.4));
    EXPECT_EQ(Colors::screenMiniature(), hexColor("#EFEFEF", 1.0));
    EXPECT_EQ(Colors::spaceMiniature(), hexColor("#94A3B8", 1.0));
}

TEST(PinEdges, PaddingsMoveEdgesInwardsAndSizesAreFixed) {
    auto parent = std::make_shared<NSView>(CGRect{0, 0, 400, 300});
    auto bar = std::make_shared<NSView>();
    parent->addSubview(bar);
    pinEdges(*bar, {.bottom = parent->bottomAnchor(), .paddingBottom = 50, .width = 270, .height = 48});
    bar->centerXAnchor().constraintEqualToAnchor(parent->centerXAnchor())->setActive(true);
    EXPECT_FALSE(bar->translatesAutoresizingMaskIntoConstraints());
    parent->layoutSubtreeIfNeeded();
    EXPECT_EQ(bar->frame(), (CGRect{65, 50, 270, 48}));

    auto inner = std::make_shared<NSView>();
    parent->addSubview(inner);
    pinEdges(*inner, {.top = parent->topAnchor(),
                      .left = parent->leftAnchor(),
                      .bottom = parent->bottomAnchor(),
                      .right = parent->rightAnchor(),
                      .paddingTop = 8,
                      .paddingLeft = 12,
                      .paddingBottom = 8,
                      .paddingRight = 12});
    parent->layoutSubtreeIfNeeded();
    EXPECT_EQ(inner->frame(), (CGRect{12, 8, 376, 284}));
}

TEST(DisplayID, ComesFromTheScreenNumberWhenItIsA32BitNumber) {
    CGRect frame{0, 0, 100, 100};
    EXPECT_EQ(displayID(NSScreen(frame, frame, {{"NSScreenNumber", 7}})), 7u);
    EXPECT_EQ(displayID(NSScreen(frame, frame, {})), std::nullopt);
    EXPECT_EQ(displayID(NSScreen(frame, frame, {{"NSScreenNumber", "7"}})), std::nullopt);
    EXPECT_EQ(displayID(NSScreen(frame, frame, {{"NSScreenNumber", -1}})), std::nullopt);
    EXPECT_EQ(displayID(NSScreen(frame, frame, {{"NSScreenNumber", int64_t{1} << 32}})), std::nullopt);
}

TEST(OverlayButtons, CubeButtonSwitchesBetweenItsEnabledAndDisabledLook) {
    auto cube = std::make_shared<CubeButton>(CGRect{0, 0, 26, 26});
    cube->layoutSubtreeIfNeeded();
    EXPECT_EQ(cube->button()->frame(), (CGRect{0, 0, 26, 26}));
    EXPECT_EQ(cube->button()->superview()->frame(), (CGRect{0, 0, 26, 26}));
    EXPECT_EQ(cube->button()->layer()->cornerRadius(), 5.6);

    cube->disable();
    EXPECT_EQ(cube->layer()->opacity(), 0.5f);
    EXPECT_FALSE(cube->button()->isEnabled());
    EXPECT_EQ(cube->button()->layer()->backgroundColor(), std::nullopt);
    cube->enable();
    EXPECT_EQ(cube->layer()->opacity(), 1.0f);
    EXPECT_TRUE(cube->button()->isEnabled());
    EXPECT_EQ(cube->button()->layer()->backgroundColor(), hexColor("#EAF2FF", 1.0));

    // Drawing again must not wrap the button in further containers.
    cube->display();
    cube->display();
    EXPECT_EQ(cube->subviews().size(), 1u);
}

TEST(OverlayButtons, PlainButtonAndDividerLook) {
    Button button;
    EXPECT_FALSE(button.isBordered());
    EXPECT_EQ(button.buttonType(), NSButtonType::MomentaryPushIn);
    EXPECT_EQ(button.bezelStyle(), NSBezelStyle::RegularSquare);
    EXPECT_EQ(button.imagePosition(), NSCellImagePosition::NoImage);
    EXPECT_EQ(button.title(), "");

    DividerView divider;
    EXPECT_EQ(divider.layer()->backgroundColor(), hexColor("#f2f2f2", 1.0));
    EXPECT_EQ(divider.layer()->cornerRadius(), 2);
}
