#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/NSTabViewController.h"
#include "platform/appkit/NSWindow.h"

namespace {

std::vector<std::string>& appearances() {
    static std::vector<std::string> list;
    return list;
}

class RecordingController : public NSViewController {
  public:
    explicit RecordingController(std::string name) : name_(std::move(name)) {}
    void viewWillAppear() override { appearances().push_back(name_); }

  private:
    std::string name_;
};

NSViewController::AppearEntry replacedEntry = nullptr;

void recordingEntry(NSViewController& controller) {
    appearances().push_back("entry:" + controller.className());
    replacedEntry(controller);
}

// Puts back the first appear entry, whatever a test installed.
class AppearEntryTest : public ::testing::Test {
  protected:
    void SetUp() override { appearances().clear(); }
    void TearDown() override { NSViewController::exchangeViewWillAppearEntry(original); }

    NSViewController::AppearEntry original = NSViewController::viewWillAppearEntry();
};

std::shared_ptr<NSWindow> windowShowing(const std::shared_ptr<NSViewController>& controller) {
    auto window = std::make_shared<NSWindow>(CGRect{0, 0, 400, 300}, NSWindowStyleMaskTitled,
                                             NSBackingStoreType::Buffered, false);
    window->setContentViewController(controller);
    window->orderFront(nullptr);
    return window;
}

}  // namespace

namespace quorvane {
class AdvancedViewController : public NSViewController {};
}  // namespace quorvane

TEST(ViewControllers, NameTheirClassWithItsNamespacesAsModules) {
    EXPECT_EQ(NSViewController().className(), "NSViewController");
    EXPECT_EQ(NSTabViewController().className(), "NSTabViewController");
    EXPECT_EQ(quorvane::AdvancedViewController().className(), "quorvane.AdvancedViewController");
}

TEST_F(AppearEntryTest, AReplacedEntryRunsAroundTheControllersOwnAppearance) {
    replacedEntry = NSViewController::exchangeViewWillAppearEntry(recordingEntry);
    EXPECT_EQ(NSViewController::viewWillAppearEntry(), recordingEntry);
    auto controller = std::make_shared<RecordingController>("own");
    auto window = windowShowing(controller);
    EXPECT_EQ(appearances(),
              (std::vector<std::string>{"entry:(anonymous namespace).RecordingController", "own"}));
}

TEST_F(AppearEntryTest, ATabViewControllerShowsItsSelectedTabWhoseControllerAppears) {
    replacedEntry = NSViewController::exchangeViewWillAppearEntry(recordingEntry);
    auto tabs = std::make_shared<NSTabViewController>();
    auto first = std::make_shared<RecordingController>("first");
    auto second = std::make_shared<RecordingController>("second");
    tabs->addTabViewItem(first);
    tabs->addTabViewItem(second);
    EXPECT_EQ(tabs->selectedTabViewItemIndex(), 0);

    auto window = windowShowing(tabs);
    EXPECT_EQ(appearances(),
              (std::vector<std::string>{"entry:NSTabViewController",
                                        "entry:(anonymous namespace).RecordingController", "first"}));

    appearances().clear();
    tabs->setSelectedTabViewItemIndex(1);
    tabs->setSelectedTabViewItemIndex(5);
    EXPECT_EQ(appearances(),
              (std::vector<std::string>{"entry:(anonymous namespace).RecordingController", "second"}));
    EXPECT_EQ(tabs->view()->subviews(), (std::vector<std::shared_ptr<NSView>>{second->view()}));
}
