#include <gtest/gtest.h>

#include "DudIzizoz/Internals/DelegateForwarder/DIZAppDelegateForwarder.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

struct RecordingObserver : DIZCustomApplicationDelegate {
    std::vector<std::string> calls;
    bool reopenAnswer = true;
    void applicationWillFinishLaunching(const Notification&) override { calls.push_back("willFinish"); }
    void applicationDidFinishLaunching(const Notification& n) override {
        calls.push_back("didFinish " + n.name);
    }
    bool applicationShouldHandleReopen(bool, bool returnedValue) override {
        calls.push_back(std::string("reopen ") + (returnedValue ? "YES" : "NO"));
        return reopenAnswer;
    }
};

class DIZAppDelegateForwarderTest : public ::testing::Test {
  protected:
    TestHome home;
    ~DIZAppDelegateForwarderTest() override { resetAllForTesting(); }

    static std::shared_ptr<DIZAppDelegateForwarder> forwarderWithPlist(Dictionary info) {
        Bundle::setMainBundle(std::make_shared<Bundle>(std::move(info)));
        DIZAppDelegateForwarder::resetSharedInstance();
        return DIZAppDelegateForwarder::sharedInstance();
    }
};

struct AppDelegate : NSApplicationDelegate {
    bool applicationShouldHandleReopen(NSApplication&, bool) override { return false; }
};

TEST_F(DIZAppDelegateForwarderTest, DisabledInInfoPlistForwardsNothing) {
    auto forwarder = forwarderWithPlist({{kDIZAppDelegateForwarderEnabledKey, Value(false)}});
    EXPECT_FALSE(forwarder->isEnabled());

    auto observer = std::make_shared<RecordingObserver>();
    forwarder->addDelegate(observer);
    auto app = NSApplication::sharedApplication();
    app->setDelegate(std::make_shared<AppDelegate>());
    app->finishLaunching();
    app->reopen(false);
    EXPECT_FALSE(forwarder->applicationShouldHandleReopen(false, false));
    EXPECT_TRUE(observer->calls.empty());
}

TEST_F(DIZAppDelegateForwarderTest, EnabledObserversGetTheApplicationsCallbacks) {
    auto forwarder = forwarderWithPlist({{"CFBundleIdentifier", Value("com.quorvane.agent")}});
    EXPECT_TRUE(forwarder->isEnabled());

    auto first = std::make_shared<RecordingObserver>();
    auto second = std::make_shared<RecordingObserver>();
    first->reopenAnswer = true;
    forwarder->addDelegate(first);
    forwarder->addDelegate(second);
    {
        auto gone = std::make_shared<RecordingObserver>();
        forwarder->addDelegate(gone);  // held weakly: dropped with its owner
    }

    auto app = NSApplication::sharedApplication();
    app->setDelegate(std::make_shared<AppDelegate>());
    app->finishLaunching();
    // The delegate answers NO; each observer sees the answer given before it.
    app->reopen(true);
    EXPECT_EQ(first->calls,
              (std::vector<std::string>{"willFinish", "didFinish NSApplicationDidFinishLaunchingNotification",
                                        "reopen NO"}));
    EXPECT_EQ(second->calls,
              (std::vector<std::string>{"willFinish", "didFinish NSApplicationDidFinishLaunchingNotification",
                                        "reopen YES"}));
    second->reopenAnswer = false;
    EXPECT_FALSE(forwarder->applicationShouldHandleReopen(true, true)) << "the last observer decides";

    forwarder->removeDelegate(second);
    app->reopen(true);
    EXPECT_EQ(second->calls.size(), 4u);

    forwarder->setEnabled(false);
    forwarder->setEnabled(true);
    app->terminate(nullptr);
    EXPECT_EQ(first->calls.size(), 5u) << "disabling dropped the observers";
    EXPECT_TRUE(forwarder->applicationShouldHandleReopen(false, true))
        << "no observer: the answer comes back";
}

TEST_F(DIZAppDelegateForwarderTest, TracesWaitInTheBufferUntilFlushed) {
    DIZLogCapture capture;
    auto forwarder = forwarderWithPlist({});
    EXPECT_TRUE(capture.texts().empty());

    DIZDelegateForwarder::flushTraceBuffer();
    // Forwarders made earlier in this process may have buffered traces of their own in between.
    auto texts = capture.texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts.front(), "Start buffering traces.");
    EXPECT_EQ(
        texts[texts.size() - 2],
        "Delegate forwarder for info.plist key 'DudIzizozAppDelegateForwarderEnabled' enabled. It may use "
        "swizzling.");
    EXPECT_EQ(capture.entries()[texts.size() - 2].level, DIZLogLevel::Debug);
    EXPECT_EQ(texts.back(), "Stop buffering traces, flushed.");

    DIZDelegateForwarder::flushTraceBuffer();
    EXPECT_EQ(capture.texts().size(), texts.size());
    forwarder->addTraceBlock([] { DIZLogWarning("T", "after the flush"); });
    EXPECT_EQ(capture.texts().back(), "after the flush");
}

}  // namespace
