#include <gtest/gtest.h>

#include <algorithm>

#include "Settings/Container.h"
#include "Settings/Pane.h"
#include "Settings/SettingsWindowController.h"
#include "platform/appkit/NSButton.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/testing/TestHome.h"

using Settings::Container;
using Settings::ContainerView;
using Settings::Section;

namespace {

constexpr double kContentWidth = 300;
constexpr double kMinimumLabelWidth = 100;

std::vector<std::shared_ptr<NSView>> oneButton() {
    return {NSButton::buttonWithTitle("Do it", nullptr, "")};
}

std::shared_ptr<ContainerView> laidOut(const Container& container) {
    auto view = container.body();
    view->setFrameSize(view->fittingSize());
    view->layoutSubtreeIfNeeded();
    return view;
}

CGRect frameIn(const NSView& container, const NSView& view) {
    return container.convertRectFromView(view.bounds(), &view);
}

}  // namespace

TEST(PaneBuilder, DividersFollowSectionsThatAskForThemButNeverTheLast) {
    struct Case {
        std::vector<bool> bottomDividers;
        size_t dividers;
    } cases[] = {{{true, true, true}, 2}, {{true, false, true}, 1}, {{false, false}, 0}, {{true}, 0}};
    for (const auto& c : cases) {
        Container container(kContentWidth, kMinimumLabelWidth, [&] {
            std::vector<Section> sections;
            for (bool divider : c.bottomDividers) sections.emplace_back("Label:", oneButton, divider);
            return sections;
        });
        auto view = laidOut(container);
        ASSERT_EQ(view->dividers().size(), c.dividers);
        const auto& arranged = view->arrangedSubviews();
        EXPECT_EQ(arranged.size(), c.bottomDividers.size() + c.dividers);
        for (const auto& divider : view->dividers()) {
            auto at = std::find(arranged.begin(), arranged.end(), divider);
            ASSERT_NE(at, arranged.end());
            EXPECT_NE(at, arranged.begin());
            EXPECT_NE(at + 1, arranged.end()) << "no divider after the last section";
            CGRect f = frameIn(*view, *divider);
            EXPECT_EQ(f.minX(), 30);
            EXPECT_EQ(f.size, (CGSize{kContentWidth, 20}));
        }
    }
}

TEST(PaneBuilder, LabelColumnIsTheWidestLabelButNotBelowTheMinimum) {
    double wide = NSTextField::labelWithString("A rather long label:")->fittingSize().width;
    ASSERT_GT(wide, kMinimumLabelWidth);
    struct Case {
        const char* name;
        std::vector<std::string> titles;
        double column;
    } cases[] = {
        {"narrow labels", {"A:", "Bb:"}, kMinimumLabelWidth},
        {"one wide label", {"A:", "A rather long label:", "Bb:"}, wide},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Container container(kContentWidth, kMinimumLabelWidth, [&] {
            std::vector<Section> sections;
            for (const auto& title : c.titles) sections.emplace_back(title, oneButton, true);
            return sections;
        });
        auto view = laidOut(container);
        EXPECT_EQ(view->frame().width(), kContentWidth + 60);
        EXPECT_EQ(view->labelColumnWidth(), c.column);
        ASSERT_EQ(view->labels().size(), c.titles.size());
        for (const auto& label : view->labels()) {
            CGRect text = frameIn(*view, *label->label());
            CGRect controls = frameIn(*view, *label->superview()->subviews()[1]);
            EXPECT_DOUBLE_EQ(text.maxX(), 30 + c.column) << "labels right-aligned on one line";
            EXPECT_DOUBLE_EQ(controls.minX(), 30 + c.column + 8);
        }
        EXPECT_EQ(frameIn(*view, *view->labels()[0]).minY(), 20);
    }
}

TEST(PaneBuilder, TheColumnFollowsALabelThatGrowsAtTheNextLayoutPass) {
    std::shared_ptr<NSTextField> label = NSTextField::labelWithString("Short:");
    Container container(kContentWidth, 0,
                        [&] { return std::vector<Section>{Section([&] { return label; }, oneButton)}; });
    auto view = laidOut(container);
    double before = view->maximumLabelWidth();
    EXPECT_EQ(before, label->fittingSize().width);

    label->setStringValue("Considerably longer:");
    view->layoutSubtreeIfNeeded();
    EXPECT_GT(view->maximumLabelWidth(), before);
    EXPECT_EQ(frameIn(*view, *label).maxX(), 30 + view->maximumLabelWidth());
}

TEST(PaneBuilder, APaneShowsInTheSettingsWindowWithItsTitleIconAndContentSize) {
    TestHome home;
    ScopedManualClock clock;
    auto icon = std::make_shared<NSImage>("general", CGSize{32, 32});
    std::shared_ptr<ContainerView> content;
    auto pane = std::make_shared<Settings::Pane<ContainerView>>(
        Settings::PaneIdentifier("general"), "General", icon, [&] {
            content = Container(kContentWidth, kMinimumLabelWidth, [] {
                          return std::vector<Section>{Section("Startup:", oneButton)};
                      }).body();
            return content;
        });
    ASSERT_EQ(pane->body(), content) << "built once, by the initialiser";

    auto controller = std::make_shared<SettingsWindowController>(
        std::vector<std::shared_ptr<SettingsPaneConvertible>>{pane}, Settings::Style::toolbarItems, false,
        false);
    controller->show(Settings::PaneIdentifier("general"));
    auto item = controller->window()->toolbar()->items().at(0);
    EXPECT_EQ(item->label(), "General");
    EXPECT_EQ(item->image(), icon);
    CGSize shown = controller->window()->contentView()->frame().size;
    EXPECT_EQ(shown.width, kContentWidth + 60);
    EXPECT_DOUBLE_EQ(shown.height, content->fittingSize().height);
    EXPECT_EQ(content->window(), controller->window().get());
    controller->window()->close();
}
