#include <gtest/gtest.h>

#include "platform/windowserver/CGWindow.h"
#include "quorvane/WindowFinder.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {
class WindowFinder : public DesktopTest {
  protected:
    WindowFinder() {
        desktop.plugScreen(kScreenA);
        desktop.addApplication(101, "Editor");
        desktop.addApplication(102, "Terminal");
    }
};

std::vector<int64_t> numbersOf(const Value::Array& list) {
    std::vector<int64_t> out;
    for (auto& entry : list) out.push_back(*entry[kCGWindowNumber].asInteger());
    return out;
}

const Coordinates kSpace{100, 100, 500, 400};
}  // namespace

TEST_F(WindowFinder, WindowListKeepsOrdinaryWindowsTallerThanTheMinimum) {
    desktop.addWindow(windowAt(101, 1, {0, 0, 400, 30}));
    desktop.addWindow(windowAt(101, 2, {0, 0, 400, 31}));
    auto menu = windowAt(101, 3, {0, 0, 400, 300});
    menu.layer = 24;
    desktop.addWindow(menu);
    auto minimized = windowAt(102, 4, {0, 0, 400, 300});
    minimized.minimized = true;
    desktop.addWindow(minimized);
    desktop.addWindow(windowAt(102, 5, {0, 0, 400, 300}));

    EXPECT_EQ(numbersOf(onScreenWindowList(minimumWindowHeight)), (std::vector<int64_t>{2, 5}));
    auto bounds = windowBounds(onScreenWindowList(minimumWindowHeight).front());
    EXPECT_EQ(bounds, (Coordinates{0, 0, 400, 31}));
    EXPECT_FALSE(windowBounds(Value(Dictionary{{kCGWindowBounds, Dictionary{{"X", 1}}}})));
}

TEST(WindowTests, LooseAndStrict) {
    struct Case {
        Coordinates window;
        bool loose;
        bool strict10;
    } cases[] = {
        {{81, 81, 519, 419}, true, false},    {{79, 100, 300, 300}, false, false},
        {{80, 80, 520, 420}, true, false},    {{120, 120, 300, 300}, true, false},
        {{105, 95, 510, 390}, true, true},    {{100, 100, 480, 400}, true, false},
        {{90, 90, 510, 410}, true, true},     {{89, 100, 500, 400}, true, false},
        {{100, 100, 500, 421}, false, false},
    };
    for (auto& c : cases) {
        EXPECT_EQ(windowInsideSpace(c.window, kSpace, looseTolerance), c.loose)
            << c.window[0] << "," << c.window[1];
        EXPECT_EQ(windowMatchesSpace(c.window, kSpace, 10), c.strict10) << c.window[0] << "," << c.window[1];
        EXPECT_EQ(windowInSpace(SpaceSize{}, c.window, kSpace, looseTolerance), c.loose);
        EXPECT_EQ(windowInSpace(parseSpaceSize("+10"), c.window, kSpace, looseTolerance), c.strict10);
    }
}

TEST(WindowTests, UnstorableSizeStopsTheProcess) {
    EXPECT_DEATH(parseSpaceSize(""), "Invalid space size");
    EXPECT_DEATH(parseSpaceSize("wide"), "Invalid space size");
}

TEST_F(WindowFinder, CandidatesAndPickedWindowsFollowTheSpace) {
    desktop.addWindow(windowAt(101, 1, {110, 110, 200, 200}));
    desktop.addWindow(windowAt(102, 2, {600, 100, 200, 200}));
    desktop.addWindow(windowAt(101, 3, {300, 200, 200, 200}));
    desktop.addWindow(windowAt(102, 4, {100, 100, 390, 300}));

    auto apps =
        spaceCandidateApps(onScreenWindowList(minimumWindowHeight), SpaceSize{}, kSpace, looseTolerance);
    std::vector<pid_t> pids;
    for (auto& app : apps) pids.push_back(app->pid);
    EXPECT_EQ(pids, (std::vector<pid_t>{101, 101, 102}));

    auto windows = applicationWindows(AXUIElementCreateApplication(102));
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 2u);
    auto inside = pickWindowInSpace(parseSpaceSize("10"), *windows, kSpace, looseTolerance);
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0]->window, 4u);
    EXPECT_TRUE(pickWindowInSpace(SpaceSize{}, {}, kSpace, looseTolerance).empty());

    auto front = frontAppWindows();
    ASSERT_EQ(front.size(), 2u);
    EXPECT_EQ(front[0]->window, 1u);
    EXPECT_EQ(windowSize(front[1]), (CGSize{200, 200}));
}

TEST_F(WindowFinder, AccessibilityReadsNothingWithoutTrust) {
    desktop.addWindow(windowAt(101, 1, {110, 110, 200, 200}));
    desktop.setTrusted(false);
    EXPECT_FALSE(applicationWindows(AXUIElementCreateApplication(101)));
    EXPECT_TRUE(frontAppWindows().empty());
    EXPECT_FALSE(windowPosition(std::make_shared<const AXUIElement>(AXUIElement{101, 1})));
}
