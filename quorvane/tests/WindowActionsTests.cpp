#include <gtest/gtest.h>

#include "quorvane/WindowActions.h"
#include "quorvane/WindowFinder.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {
constexpr pid_t kA = 101, kB = 102, kC = 103;
const Coordinates kLeft{0, 25, 720, 900};

class WindowActions : public DesktopTest {
  protected:
    WindowActions() {
        desktop.setRecordsCalls(true);
        desktop.plugScreen(kScreenA);
        desktop.addApplication(kA, "A");
        desktop.addApplication(kB, "B");
        desktop.addApplication(kC, "C");
    }
    void press(const std::string& size = "all") {
        focusWindowInSpace(kLeft, size, minimumWindowHeight, looseTolerance);
    }
    CGWindowID frontWindow() { return desktop.windowsFrontToBack().front().number; }
    std::vector<std::string> callNames() {
        std::vector<std::string> out;
        for (auto& call : desktop.calls())
            out.push_back(call.function + (call.name.empty() ? "" : " " + call.name));
        return out;
    }
    CGRect boundsOf(CGWindowID number) { return desktop.window(number)->bounds; }
};
}  // namespace

TEST_F(WindowActions, PressesCycleThroughTheWindowsOfTheSpace) {
    desktop.addWindow(windowAt(kA, 1, {10, 40, 500, 600}));   // a1
    desktop.addWindow(windowAt(kB, 2, {20, 50, 500, 600}));   // b1
    desktop.addWindow(windowAt(kA, 3, {30, 60, 500, 600}));   // a2
    desktop.addWindow(windowAt(kC, 9, {800, 40, 500, 600}));  // outside the space
    desktop.activateApplication(kA);

    std::vector<CGWindowID> focused;
    for (int i = 0; i < 3; ++i) {
        press();
        focused.push_back(*desktop.focusedWindow());
        EXPECT_EQ(frontWindow(), focused.back());
    }
    EXPECT_EQ(focused, (std::vector<CGWindowID>{3, 2, 1}));
    EXPECT_EQ(desktop.frontmostApplication(), kA);
    EXPECT_EQ(events, (std::vector<std::string>{"m:cycled", "r:cycled", "m:cycled", "r:cycled", "m:cycled",
                                                "r:cycled"}));
}

TEST_F(WindowActions, CycleSkipsMinimisedWindows) {
    desktop.addWindow(windowAt(kA, 1, {10, 40, 500, 600}));
    desktop.addWindow(windowAt(kB, 2, {20, 50, 500, 600}));
    desktop.addWindow(windowAt(kA, 3, {30, 60, 500, 600}));
    auto hidden = windowAt(kA, 4, {40, 70, 500, 600});
    hidden.minimized = true;
    desktop.addWindow(hidden);
    desktop.activateApplication(kA);

    press();
    EXPECT_EQ(desktop.focusedWindow(), 3u);
}

TEST_F(WindowActions, NothingHappensWithoutAnOrdinaryWindowInTheSpace) {
    auto hidden = windowAt(kA, 1, {10, 40, 500, 600});
    hidden.minimized = true;
    desktop.addWindow(hidden);
    desktop.addWindow(windowAt(kB, 2, {800, 40, 500, 600}));
    desktop.activateApplication(kB);

    press();
    EXPECT_EQ(desktop.focusedWindow(), 2u);
    EXPECT_TRUE(desktop.calls().empty());
    EXPECT_TRUE(events.empty());
}

TEST_F(WindowActions, SwitchFocusesTheFirstWindowInTheSpace) {
    desktop.addWindow(windowAt(kC, 9, {800, 40, 500, 600}));
    desktop.addWindow(windowAt(kA, 1, {10, 40, 500, 600}));
    desktop.addWindow(windowAt(kA, 2, {10, 40, 500, 600}));
    desktop.activateApplication(kC);

    press();
    EXPECT_EQ(events, (std::vector<std::string>{"m:switched", "r:switch"}));
    EXPECT_EQ(callNames(),
              (std::vector<std::string>{"SLPSSetFrontProcessWithOptions", "SLPSPostEventRecordTo",
                                        "SLPSPostEventRecordTo", "AXUIElementPerformAction AXRaise"}));
    auto calls = desktop.calls();
    EXPECT_EQ(calls[0].pid, kA);
    EXPECT_EQ(calls[0].window, 1u);
    EXPECT_EQ(calls[0].options, 0x200u);
    for (int kind : {1, 2}) {
        const Data& bytes = calls[kind].bytes;
        ASSERT_EQ(bytes.size(), 248u);
        Data expected(248, 0);
        expected[0x04] = 0xF8;
        expected[0x08] = static_cast<uint8_t>(kind);
        for (int i = 0x20; i < 0x30; ++i) expected[i] = 0xFF;
        expected[0x3A] = 0x10;
        expected[0x3C] = 0x01;
        EXPECT_EQ(bytes, expected) << "record " << kind;
    }
    EXPECT_EQ(desktop.frontmostApplication(), kA);
    EXPECT_EQ(desktop.focusedWindow(), 1u);
    EXPECT_EQ(frontWindow(), 1u);
}

TEST_F(WindowActions, MakeKeyRecordCarriesTheWindowNumberLittleEndian) {
    auto record = makeKeyWindowEventRecord(2, 0x12345678);
    EXPECT_EQ(record[0x3C], 0x78);
    EXPECT_EQ(record[0x3D], 0x56);
    EXPECT_EQ(record[0x3E], 0x34);
    EXPECT_EQ(record[0x3F], 0x12);
}

TEST_F(WindowActions, FrontmostApplicationWithItsFrontWindowOutsideSwitches) {
    desktop.addWindow(windowAt(kA, 1, {800, 40, 500, 600}));
    desktop.addWindow(windowAt(kA, 2, {10, 40, 500, 600}));
    desktop.addWindow(windowAt(kB, 3, {10, 40, 500, 600}));
    desktop.activateApplication(kA);

    press();
    EXPECT_EQ(events, (std::vector<std::string>{"m:switched", "r:switch"}));
    EXPECT_EQ(desktop.focusedWindow(), 2u);
    EXPECT_EQ(desktop.frontmostApplication(), kA);
}

TEST_F(WindowActions, StrictSpaceDoesNotCycleForAnOverhangingWindow) {
    desktop.addWindow(windowAt(kA, 1, {0, 25, 735, 875}));  // 15 points past the right edge
    desktop.addWindow(windowAt(kB, 2, {0, 25, 720, 875}));
    desktop.activateApplication(kA);

    press("10");
    EXPECT_EQ(events, (std::vector<std::string>{"m:switched", "r:switch"}));
    EXPECT_EQ(desktop.focusedWindow(), 2u);
}

TEST_F(WindowActions, UntrustedProcessChangesNothing) {
    desktop.addWindow(windowAt(kC, 9, {800, 40, 500, 600}));
    desktop.addWindow(windowAt(kA, 1, {10, 40, 500, 600}));
    desktop.activateApplication(kC);
    desktop.setTrusted(false);
    auto before = desktop.windowsFrontToBack();

    press();
    resizeFocusedWindowIntoSpace(kLeft, minimumWindowHeight);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(desktop.calls().empty());
    EXPECT_EQ(desktop.focusedWindow(), 9u);
    auto after = desktop.windowsFrontToBack();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].number, before[i].number);
        EXPECT_EQ(after[i].bounds, before[i].bounds);
    }
}

TEST_F(WindowActions, ResizeOrdersItsStepsByTheWindowsSize) {
    struct Case {
        const char* what;
        CGRect bounds;
        CGSize maxSize;
        std::vector<std::string> calls;
        CGRect end;
    } cases[] = {
        {"larger both ways",
         {100, 0, 1000, 900},
         {},
         {"AXUIElementSetAttributeValue AXSize", "AXUIElementSetAttributeValue AXPosition"},
         {0, 25, 720, 875}},
        {"smaller",
         {800, 300, 400, 300},
         {},
         {"AXUIElementSetAttributeValue AXPosition", "AXUIElementSetAttributeValue AXSize"},
         {0, 25, 720, 875}},
        {"wider only",
         {800, 300, 1000, 300},
         {},
         {"AXUIElementSetAttributeValue AXPosition", "AXUIElementSetAttributeValue AXSize"},
         {0, 25, 720, 875}},
        {"held by a size limit",
         {800, 300, 400, 300},
         {600, 600},
         {"AXUIElementSetAttributeValue AXPosition", "AXUIElementSetAttributeValue AXSize",
          "AXUIElementSetAttributeValue AXSize"},
         {0, 25, 600, 600}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        desktop.reset();
        desktop.setRecordsCalls(true);
        desktop.plugScreen(kScreenA);
        desktop.addApplication(kA, "A");
        auto window = windowAt(kA, 1, c.bounds);
        window.maxSize = c.maxSize;
        desktop.addWindow(window);

        resizeFocusedWindowIntoSpace(kLeft, minimumWindowHeight);
        EXPECT_EQ(callNames(), c.calls);
        EXPECT_EQ(boundsOf(1), c.end);
    }
    EXPECT_TRUE(events.empty());
}

TEST_F(WindowActions, ResizeSkipsLowWindowsOfTheFrontApplication) {
    desktop.addWindow(windowAt(kA, 1, {800, 300, 400, 300}));
    desktop.addWindow(windowAt(kB, 2, {800, 300, 400, 300}));
    auto strip = windowAt(kA, 3, {800, 0, 400, 30});
    desktop.addWindow(strip);
    desktop.raiseWindow(3);

    resizeFocusedWindowIntoSpace(kLeft, minimumWindowHeight);
    EXPECT_EQ(boundsOf(3), strip.bounds);
    EXPECT_EQ(boundsOf(1), CGRect(0, 25, 720, 875));
    EXPECT_EQ(boundsOf(2), CGRect(800, 300, 400, 300));
}
