#include <gtest/gtest.h>

#include "platform/windowserver/CGWindow.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
class WindowServer : public ::testing::Test {
  protected:
    WindowServer() { desktop.reset(); }
    ~WindowServer() override { desktop.reset(); }

    std::vector<int64_t> listed(CGWindowListOption option) {
        std::vector<int64_t> out;
        auto list = CGWindowListCopyWindowInfo(option, kCGNullWindowID);
        for (auto& entry : *list) out.push_back(*entry[kCGWindowNumber].asInteger());
        return out;
    }

    SimulatedDesktop& desktop = SimulatedDesktop::shared();
};
}  // namespace

TEST_F(WindowServer, WindowListOptions) {
    desktop.addApplication(7, "Editor");
    auto window = [](CGWindowID number, pid_t owner, int layer, bool minimized) {
        SimulatedWindow w;
        w.number = number;
        w.ownerPid = owner;
        w.layer = layer;
        w.bounds = {10, 20, 300, 200};
        w.minimized = minimized;
        return w;
    };
    EXPECT_TRUE(desktop.addWindow(window(1, 7, 0, false)));
    EXPECT_TRUE(desktop.addWindow(window(2, 7, 0, true)));
    EXPECT_TRUE(desktop.addWindow(window(3, 7, -2147483603, false)));
    EXPECT_FALSE(desktop.addWindow(window(1, 7, 0, false)));
    EXPECT_FALSE(desktop.addWindow(window(4, 99, 0, false)));

    EXPECT_EQ(listed(kCGWindowListOptionAll), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(listed(kCGWindowListOptionOnScreenOnly), (std::vector<int64_t>{1, 3}));
    EXPECT_EQ(listed(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements),
              (std::vector<int64_t>{1}));
    EXPECT_FALSE(CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 1));

    auto entry = CGWindowListCopyWindowInfo(kCGWindowListOptionAll, kCGNullWindowID)->front();
    EXPECT_EQ(entry[kCGWindowOwnerPID], Value(7));
    EXPECT_EQ(entry[kCGWindowOwnerName], Value("Editor"));
    EXPECT_EQ(entry[kCGWindowLayer], Value(0));
    EXPECT_EQ(entry[kCGWindowBounds],
              Value(Dictionary{{"Height", 200.0}, {"Width", 300.0}, {"X", 10.0}, {"Y", 20.0}}));
}

TEST_F(WindowServer, Displays) {
    EXPECT_EQ(CGMainDisplayID(), kCGNullDirectDisplay);
    SimulatedScreen first, second;
    first.bounds = {0, 0, 1440, 900};
    second.bounds = {1440, 0, 1920, 1080};
    auto a = desktop.plugScreen(first);
    auto b = desktop.plugScreen(second);
    EXPECT_NE(a, b);
    EXPECT_EQ(CGMainDisplayID(), a);
    EXPECT_EQ(CGDisplayBounds(b), CGRect(1440, 0, 1920, 1080));
    desktop.unplugScreen(a);
    EXPECT_EQ(CGMainDisplayID(), b);
    EXPECT_EQ(CGDisplayBounds(a), CGRectZero);
}

TEST_F(WindowServer, CallsAreKeptOnlyWhileATestRecordsThem) {
    SimulatedCall call;
    call.function = "AXUIElementPerformAction";
    desktop.recordCall(call);
    EXPECT_TRUE(desktop.calls().empty());

    desktop.setRecordsCalls(true);
    desktop.recordCall(call);
    ASSERT_EQ(desktop.calls().size(), 1u);
    EXPECT_EQ(desktop.calls()[0].function, "AXUIElementPerformAction");

    desktop.reset();
    desktop.recordCall(call);
    EXPECT_TRUE(desktop.calls().empty());
}
