#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZDidOzodozudaChannelDelegate.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/Ingestion/DIZDidOzodozudaIngestion.h"
#include "DudIzizoz/Internals/Ingestion/tests/DIZIngestionTesting.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozAnalytics/tests/DIZClientTesting.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"
#include "testing/ChildProcess.h"
#include "testing/EnvironmentOverride.h"
#include "testing/OtherThreads.h"

namespace {

const std::string kAlreadyConfigured = "Dud Izizoz SDK has already been configured.";

// Records the units that report a change of their enabled state.
class SwitchRecorder : public DIZChannelDelegate {
  public:
    void channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled, bool) override {
        auto* unit = dynamic_cast<DIZChannelUnitProtocol*>(&channel);
        if (!unit) return;
        std::lock_guard guard(mutex_);
        events_.push_back(unit->configuration()->groupId() + (isEnabled ? " enabled" : " disabled"));
    }
    std::vector<std::string> events() {
        std::lock_guard guard(mutex_);
        return events_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

class DIZDudIzizozTest : public DIZClientTest {};

TEST_F(DIZDudIzizozTest, StartPostsTheStartedServicesCrashesFirst) {
    startBoth();

    for (const char* groupId : {"DudIzizoz", "Crashes", "Analytics", "Analytics_critical", "Crashes/one",
                                "Analytics/one", "Analytics_critical/one", "DudIzizoz/one"})
        EXPECT_TRUE(group()->channelUnitForGroupId(groupId)) << groupId;
    auto sent = sentLogs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["type"].stringOr(""), "startService");
    EXPECT_EQ(json::write(sent[0]["services"]), R"(["Crashes","Analytics"])");
    EXPECT_EQ(sent[0]["isDidOzodozudaEnabled"].asBool(), false);
    const auto request = server.received().front();
    EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(request.header("App-Secret"), kSecret);
    EXPECT_EQ(request.header("Install-ID"), DIZDudIzizoz::installId().uuidString());
}

TEST_F(DIZDudIzizozTest, CollectorOnThisMachineReceivesTheLogsWithoutAnyOtherNetwork) {
    SimulatedNetwork::setLoopbackFlags(NetworkReachabilityFlag::Reachable);
    SimulatedNetwork::setFlags(0);
    startBoth();
    RunLoop::runUntilIdle();  // the HTTP clients hear of their paths
    // Another path that changes, still down, says nothing about the path to this machine.
    SimulatedNetwork::setFlags(NetworkReachabilityFlag::ConnectionRequired);
    RunLoop::runUntilIdle();

    auto sent = sentLogs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["type"].stringOr(""), "startService");
}

TEST_F(DIZDudIzizozTest, DisableVariableSkipsTheServicesItNames) {
    struct Case {
        const char* value;
        bool crashes, analytics;
    } cases[] = {{" Crashes , Foo", false, true}, {"All", false, false}, {"Analytics,", true, false}};
    auto noneStarted = [&] {
        auto texts = logs.texts();
        return std::count(texts.begin(), texts.end(), "No services have been started.");
    };
    for (const auto& c : cases) {
        const auto noneStartedBefore = noneStarted();
        environment.set(kDIZDisableVariable, c.value);
        startBoth();
        EXPECT_EQ(DIZCrashes::sharedInstance()->isStarted(), c.crashes) << c.value;
        EXPECT_EQ(DIZAnalytics::sharedInstance()->isStarted(), c.analytics) << c.value;
        EXPECT_EQ(noneStarted() - noneStartedBefore, !c.crashes && !c.analytics ? 1 : 0) << c.value;
        settle();
        forgetTheProcess();
    }
}

TEST_F(DIZDudIzizozTest, DisabledClientHoldsTheStartedNamesAndRefusesServiceSwitchesUntilEnabled) {
    DIZDudIzizozUserDefaults::shared()->setObject(Value(false), "DudIzizozIsEnabled");
    startBoth();
    EXPECT_EQ(DIZDudIzizoz::sharedInstance()->startedServiceNames(),
              (std::vector<std::string>{"Crashes", "Analytics"}));
    EXPECT_FALSE(DIZAnalytics::classObject().isEnabled());

    DIZAnalytics::classObject().setEnabled(true);
    EXPECT_TRUE(
        logs.contains("The SDK is disabled. Re-enable the whole SDK from DudIzizoz first before enabling "
                      "Analytics service."));
    EXPECT_FALSE(DIZAnalytics::classObject().isEnabled());

    DIZDudIzizoz::setEnabled(true);
    EXPECT_TRUE(DIZAnalytics::classObject().isEnabled());
    EXPECT_FALSE(DIZDudIzizoz::sharedInstance()->startedServiceNames());
    auto sent = sentLogs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(json::write(sent[0]["services"]), R"(["Crashes","Analytics"])");
}

TEST_F(DIZDudIzizozTest, SecondConfigurationFromTheApplicationFailsAndStartsNothingAgain) {
    startBoth();
    auto unit = DIZAnalytics::sharedInstance()->channelUnit();

    EXPECT_FALSE(DIZDudIzizoz::sharedInstance()->configureWithAppSecret(kSecret, std::nullopt, true));
    DIZDudIzizoz::start(kSecret, {&DIZAnalytics::classObject()});

    auto texts = logs.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), kAlreadyConfigured), 2);
    EXPECT_TRUE(logs.contains("Dud Izizoz SDK configuration failed."));
    EXPECT_EQ(DIZAnalytics::sharedInstance()->channelUnit(), unit);
}

// Starting a service again while it is disabled used to give it a second unit and twin.
TEST_F(DIZDudIzizozTest, ServiceIsStartedOncePerProcessEvenWhileDisabled) {
    startBoth();
    auto analytics = DIZAnalytics::sharedInstance();
    auto unit = analytics->channelUnit();
    auto critical = analytics->criticalChannelUnit();
    DIZAnalytics::classObject().setEnabled(false);

    DIZDudIzizoz::startService(&DIZAnalytics::classObject());

    EXPECT_EQ(analytics->channelUnit(), unit);
    EXPECT_EQ(analytics->criticalChannelUnit(), critical);
    EXPECT_FALSE(DIZAnalytics::classObject().isEnabled());
    EXPECT_TRUE(logs.contains("No services have been started."));
}

TEST_F(DIZDudIzizozTest, ServiceSwitchIsStoredUnderItsGroupAndReachesItsUnitsOnlyOnChange) {
    EXPECT_FALSE(DIZAnalytics::classObject().isEnabled());
    EXPECT_TRUE(
        logs.contains("Analytics service hasn't been started. You need to call [DIZDudIzizoz "
                      "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first."));
    startBoth();
    settle();
    auto recorder = std::make_shared<SwitchRecorder>();
    group()->addDelegate(recorder);
    auto defaults = UserDefaults::standardUserDefaults();

    EXPECT_TRUE(DIZAnalytics::classObject().isEnabled());
    DIZAnalytics::classObject().setEnabled(true);
    settle();
    EXPECT_FALSE(defaults->objectForKey("DZDudIzizozAnalyticsIsEnabled"));
    EXPECT_TRUE(recorder->events().empty());

    DIZAnalytics::classObject().setEnabled(false);
    settle();
    EXPECT_EQ(defaults->objectForKey("DZDudIzizozAnalyticsIsEnabled"), Value(false));
    auto events = recorder->events();
    for (const char* expected :
         {"Analytics disabled", "Analytics_critical disabled", "Analytics/one disabled"})
        EXPECT_NE(std::find(events.begin(), events.end(), expected), events.end()) << expected;
    EXPECT_EQ(std::find(events.begin(), events.end(), "Crashes disabled"), events.end());
}

// The group tells its delegates of a starting service's unit at once; a delegate that asks the
// service from another thread meanwhile must get an answer before the start ends.
TEST_F(DIZDudIzizozTest, StartingServiceAnswersOtherThreadsWhileItsGroupCallsOut) {
    struct Asker : DIZChannelDelegate {
        void channelGroupDidAddChannelUnit(DIZChannelGroupProtocol&,
                                           const std::shared_ptr<DIZChannelUnitProtocol>& unit) override {
            if (unit->configuration()->groupId() != DIZAnalytics::kGroupId) return;
            answered = threads.run([this] { seen = DIZAnalytics::sharedInstance()->channelGroup(); });
        }
        OtherThreads threads;
        bool answered = false;
        std::shared_ptr<DIZChannelGroupProtocol> seen;
    };
    DIZDudIzizoz::setLogUrl(server.url());
    DIZDudIzizoz::configureWithAppSecret(kSecret);
    auto asker = std::make_shared<Asker>();
    group()->addDelegate(asker);
    DIZDudIzizoz::startService(&DIZAnalytics::classObject());

    EXPECT_TRUE(asker->answered);
    EXPECT_EQ(asker->seen, group());
    EXPECT_TRUE(DIZAnalytics::classObject().isEnabled());
}

TEST_F(DIZDudIzizozTest, StorageSizeIsRefusedBelowTheMinimumAndAfterTheFirstCall) {
    std::vector<bool> outcomes;
    auto record = [&](bool success) { outcomes.push_back(success); };

    DIZDudIzizoz::setMaxStorageSize(kDIZMinUpperSizeLimitInBytes - 1, record);
    EXPECT_EQ(outcomes, std::vector<bool>{false});
    EXPECT_TRUE(logs.contains("Cannot set storage size to 24575 bytes, minimum value is 24576 bytes"));

    constexpr int64_t kOneMegabyte = 1024 * 1024;
    DIZDudIzizoz::setMaxStorageSize(kOneMegabyte, record);
    DIZDudIzizoz::setMaxStorageSize(kOneMegabyte, record);
    EXPECT_EQ(outcomes, (std::vector<bool>{false, false}));
    EXPECT_TRUE(logs.contains("setMaxStorageSize:completionHandler: may only be called once per app launch"));

    // The accepted size reaches the log store with the channel group, which answers.
    startBoth();
    settle();
    EXPECT_EQ(outcomes, (std::vector<bool>{false, false, true}));
}

TEST_F(DIZDudIzizozTest, InstallIdIsKeptAcrossLaunchesAndAnUnreadableOneReplaced) {
    DIZDudIzizozUserDefaults::shared()->setObject(Value("not-a-uuid"), "InstallId");
    const UUID first = DIZDudIzizoz::installId();
    EXPECT_EQ(DIZDudIzizozUserDefaults::shared()->objectForKey("InstallId"), Value(first.uuidString()));
    forgetTheProcess();
    EXPECT_EQ(DIZDudIzizoz::installId(), first);
}

TEST_F(DIZDudIzizozTest, ForbiddenNetworkRequestsHoldTheLogsUntilAllowedAgain) {
    startBoth();
    DIZDudIzizoz::setNetworkRequestsAllowed(false);
    EXPECT_FALSE(DIZDudIzizoz::isNetworkRequestsAllowed());
    EXPECT_EQ(DIZDudIzizozUserDefaults::shared()->objectForKey("NetworkRequestsAllowed"), Value(false));
    EXPECT_TRUE(logs.contains("Dud Izizoz SDK network requests are forbidden."));
    settle();
    clock->advance(60);
    settle();
    EXPECT_TRUE(server.received().empty());

    DIZDudIzizoz::setNetworkRequestsAllowed(true);
    EXPECT_TRUE(DIZDudIzizoz::isNetworkRequestsAllowed());
    auto sent = sentLogs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["type"].stringOr(""), "startService");
}

TEST_F(DIZDudIzizozTest, UserIdIsCheckedAgainstWhatTheSecretCarries) {
    const std::string appSecret = std::string("appsecret=") + kSecret;
    const std::string token = "target=a1b2c3d4-token";
    const std::string both = appSecret + ";" + token;
    const std::string tooLong(257, 'u');
    struct Case {
        const char* name;
        std::function<void()> configure;
        std::string userId;
        std::string refusal;  // empty: the id is taken
    };
    const Case cases[] = {
        {"secret, long id", [&] { DIZDudIzizoz::configureWithAppSecret(appSecret); }, tooLong,
         "userId is limited to 256 characters."},
        {"secret, any prefix", [&] { DIZDudIzizoz::configureWithAppSecret(appSecret); }, "x:bob", ""},
        {"token, foreign prefix", [&] { DIZDudIzizoz::configureWithAppSecret(token); }, "x:bob",
         "userId prefix must be 'c', 'x' is not supported."},
        {"token, long id", [&] { DIZDudIzizoz::configureWithAppSecret(token); }, tooLong, ""},
        {"both, long id", [&] { DIZDudIzizoz::configureWithAppSecret(both); }, tooLong,
         "userId is limited to 256 characters."},
        {"both, prefix alone", [&] { DIZDudIzizoz::configureWithAppSecret(both); },
         "c:", "userId must not be empty."},
        {"both, prefixed", [&] { DIZDudIzizoz::configureWithAppSecret(both); }, "c:alice", ""},
        {"library", [] { DIZDudIzizoz::startFromLibraryWithServices({}); }, "alice",
         "DudIzizoz must be configured from application, libraries cannot call setUserId."},
        {"no secret", [] { DIZDudIzizoz::configure(); }, "alice",
         "DudIzizoz must be configured with a secret from application to call setUserId."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forgetTheProcess();
        c.configure();
        const auto texts = logs.texts();
        const auto refusalsBefore = std::count(texts.begin(), texts.end(), c.refusal);
        DIZDudIzizoz::setUserId(c.userId);
        const auto after = logs.texts();
        if (c.refusal.empty()) {
            EXPECT_EQ(DIZDudIzizoz::userId(), c.userId);
        } else {
            EXPECT_EQ(DIZDudIzizoz::userId(), std::nullopt);
            EXPECT_EQ(std::count(after.begin(), after.end(), c.refusal), refusalsBefore + 1);
        }
    }
}

TEST_F(DIZDudIzizozTest, LogUrlSetAfterConfigurationMovesTheUploads) {
    LocalHttpServer moved;
    startBoth();
    DIZDudIzizoz::setLogUrl(moved.url());
    EXPECT_EQ(DIZDudIzizoz::logUrl(), moved.url());
    EXPECT_TRUE(logs.contains("The log url of Dud Izizoz endpoint was changed to " + moved.url()));
    settle();
    clock->advance(6);
    ASSERT_TRUE(moved.waitForRequests(1));
    settle();
    EXPECT_EQ(moved.received()[0].target, "/logs?api-version=1.0.0");
    EXPECT_TRUE(server.received().empty());

    // Without an app secret only the Did Ozodozuda delegate sends, so the URL goes there.
    forgetTheProcess();
    DIZDudIzizoz::configure();
    DIZDudIzizoz::setLogUrl(server.url());
    EXPECT_TRUE(logs.contains("The log url of Did Ozodozuda endpoint was changed to " + server.url()));
    EXPECT_EQ(
        DIZDudIzizoz::sharedInstance()->didOzodozudaChannelDelegate()->didOzodozudaIngestion()->baseURL(),
        server.url());
}

TEST_F(DIZDudIzizozTest, ApplicationStartAfterALibraryStartAddsTheSecretAndReportsBothServices) {
    DIZDudIzizoz::setLogUrl(server.url());
    DIZDudIzizoz::startFromLibraryWithServices({&DIZAnalytics::classObject(), &DIZCrashes::classObject()});
    EXPECT_FALSE(DIZDudIzizoz::isConfigured());
    EXPECT_TRUE(DIZAnalytics::sharedInstance()->isStarted());
    EXPECT_FALSE(DIZCrashes::sharedInstance()->isStarted()) << "the crash service needs the secret";
    const auto unit = DIZAnalytics::sharedInstance()->channelUnit();

    DIZDudIzizoz::start(kSecret, {&DIZAnalytics::classObject(), &DIZCrashes::classObject()});
    EXPECT_TRUE(DIZDudIzizoz::isConfigured());
    EXPECT_EQ(DIZDudIzizoz::sharedInstance()->appSecret(), kSecret);
    EXPECT_TRUE(DIZCrashes::sharedInstance()->isStarted());
    EXPECT_EQ(DIZAnalytics::sharedInstance()->channelUnit(), unit);
    auto sent = sentLogs();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(json::write(sent[0]["services"]), R"(["Crashes","Analytics"])");
    EXPECT_EQ(server.received().front().header("App-Secret"), kSecret);
}

// What the debugger check sees is fixed once per process, so each answer needs a process of its own:
// this runs only as the child of ProcessTracedByItsParentSeesADebugger and answers in its exit code.
constexpr int kSeesNoDebugger = 20, kSeesADebugger = 21, kTracingRefused = 22;

TEST(DIZDudIzizozDebuggerChild, AnswersWhetherItSeesADebugger) {
    const char* mode = std::getenv("DIZ_DEBUGGER_CHILD");
    if (!mode) GTEST_SKIP() << "runs as a child process only";
    if (std::string(mode) == "traced" && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
        _exit(kTracingRefused);
    _exit(DIZDudIzizoz::isDebuggerAttached() ? kSeesADebugger : kSeesNoDebugger);
}

TEST(DIZDudIzizozDebuggerTest, ProcessTracedByItsParentSeesADebugger) {
    for (const std::string mode : {"untraced", "traced"}) {
        const pid_t child =
            spawnThisTestBinary("DIZDudIzizozDebuggerChild.AnswersWhetherItSeesADebugger",
                                {.environment = {"DIZ_DEBUGGER_CHILD=" + mode}, .quiet = true});
        ASSERT_GT(child, 0);
        const auto status = waitForChild(child);
        ASSERT_TRUE(status && WIFEXITED(*status)) << mode;
        if (WEXITSTATUS(*status) == kTracingRefused) GTEST_SKIP() << "tracing is not allowed here";
        EXPECT_EQ(WEXITSTATUS(*status), mode == "traced" ? kSeesADebugger : kSeesNoDebugger) << mode;
    }
}

}  // namespace
