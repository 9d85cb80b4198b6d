#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Channel/DIZChannelGroupDefault.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZDidOzodozudaChannelDelegate.h"
#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/Ingestion/tests/DIZIngestionTesting.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"

namespace {

constexpr const char* kToken = "4f1c2e-token-of-target";

// A log for a transmission target whose Core Schema form carries a name, as the analytics
// service's event logs do.
class NamedLog : public DIZLogWithProperties {
  public:
    explicit NamedLog(std::string name) : name_(std::move(name)) {
        setType("event");
        addTransmissionTargetToken(kToken);
    }
    std::shared_ptr<DIZCoreSchemaLog> toCoreSchemaLogForTargetToken(const std::string& token,
                                                                    int64_t flags) const override {
        auto log = DIZLogWithProperties::toCoreSchemaLogForTargetToken(token, flags);
        log->setName(name_);
        return log;
    }

  private:
    std::string name_;
};

std::shared_ptr<DIZCoreSchemaLog> coreSchemaLog(const std::string& name, const std::string& token = kToken) {
    NamedLog source(name);
    source.setTimestamp(Date::now());
    return source.toCoreSchemaLogForTargetToken(token, 1);
}

// Drains the group's queue and whatever it started, never waiting for a timer.
void settle() {
    ASSERT_TRUE(BackgroundActivity::waitUntilSettled(20));
}

// Records which units report a change of their enabled state or pause lane.
class ChannelRecorder : public DIZChannelDelegate {
  public:
    void channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled, bool) override {
        record(channel, isEnabled ? "enabled" : "disabled");
    }
    void channelDidPauseWithIdentifyingObject(DIZChannelProtocol& channel,
                                              const DIZIdentifyingObject&) override {
        record(channel, "paused");
    }
    void channelDidResumeWithIdentifyingObject(DIZChannelProtocol& channel,
                                               const DIZIdentifyingObject&) override {
        record(channel, "resumed");
    }
    std::vector<std::string> events() {
        std::lock_guard guard(mutex_);
        return events_;
    }

  private:
    void record(DIZChannelProtocol& channel, const std::string& what) {
        auto* unit = dynamic_cast<DIZChannelUnitProtocol*>(&channel);
        std::lock_guard guard(mutex_);
        events_.push_back((unit ? unit->configuration()->groupId() : std::string("group")) + " " + what);
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

class DIZDidOzodozudaChannelDelegateTest : public ::testing::Test {
  protected:
    DIZDidOzodozudaChannelDelegateTest() {
        DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
        RunLoop::runUntilIdle();
        group->addDelegate(delegate);
    }
    ~DIZDidOzodozudaChannelDelegateTest() override {
        settle();
        RunLoop::runUntilIdle();
    }

    std::shared_ptr<DIZChannelUnitProtocol> addUnit(const std::string& groupId, uint64_t flushInterval = 6) {
        return group->addChannelUnitWithConfiguration(
            std::make_shared<DIZChannelUnitConfiguration>(groupId, flushInterval));
    }
    // The Core Schema lines of every Did Ozodozuda request, in order.
    std::vector<Value> lines() {
        std::vector<Value> out;
        for (const auto& request : server.received()) {
            if (!request.target.starts_with("/DidOzodozuda/1.0")) continue;
            std::istringstream body(request.body);
            for (std::string line; std::getline(body, line);)
                out.push_back(json::parse(line).value_or(Value()));
        }
        return out;
    }

    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
    ScopedManualClock clock;
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server;
    const UUID installId;
    std::shared_ptr<DIZDidOzodozudaChannelDelegate> delegate =
        std::make_shared<DIZDidOzodozudaChannelDelegate>(DIZHttpClient::make(), installId, server.url());
    std::shared_ptr<DIZChannelGroupProtocol> group =
        DIZChannelGroupDefault::make(DIZHttpClient::make(), installId, server.url());
};

TEST_F(DIZDidOzodozudaChannelDelegateTest, EveryUnitButADidOzodozudaOneGetsATwinWithItsFlushInterval) {
    addUnit("Analytics", 3);
    addUnit("X/one");

    auto twin = group->channelUnitForGroupId("Analytics/one");
    ASSERT_TRUE(twin);
    EXPECT_EQ(twin->configuration()->flushInterval(), 3u);
    EXPECT_EQ(delegate->twinForGroupId("Analytics"), twin);
    EXPECT_FALSE(group->channelUnitForGroupId("Analytics/one/one"));
    EXPECT_FALSE(group->channelUnitForGroupId("X/one/one"));
}

TEST_F(DIZDidOzodozudaChannelDelegateTest, TargetLogsTravelAsNumberedLinesAndBadNamesAreDropped) {
    auto unit = addUnit("Analytics");
    settle();  // a unit takes its delegates on its queue
    unit->enqueueItem(std::make_shared<NamedLog>("first_event"), 1);
    // Already in Core Schema form: rerouted to the twin, and numbered only there.
    unit->enqueueItem(coreSchemaLog("second.event"), 1);
    unit->enqueueItem(std::make_shared<NamedLog>("ab..c"), 1);
    unit->enqueueItem(coreSchemaLog("trailing."), 1);
    settle();
    clock->advance(6);
    ASSERT_TRUE(server.waitForRequests(1));
    settle();

    auto sent = lines();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["name"].stringOr(""), "first_event");
    EXPECT_EQ(sent[1]["name"].stringOr(""), "second.event");
    const Value& sdk0 = sent[0]["ext"]["sdk"];
    const Value& sdk1 = sent[1]["ext"]["sdk"];
    EXPECT_EQ(sdk0["seq"].integerOr(0), 1);
    EXPECT_EQ(sdk1["seq"].integerOr(0), 2);
    EXPECT_FALSE(sdk0["epoch"].stringOr("").empty());
    EXPECT_EQ(sdk0["epoch"].stringOr(""), sdk1["epoch"].stringOr("x"));
    EXPECT_EQ(sdk0["installId"].stringOr(""), installId.uuidString());
    for (const auto& request : server.received())
        EXPECT_TRUE(request.target.starts_with("/DidOzodozuda/1.0"))
            << "held back from Dud Izizoz: " << request.target;
    EXPECT_TRUE(logs.contains("Log validation failed. Name must match '" + std::string(kDIZLogNameRegex) +
                              "' but was 'ab..c'"));
}

TEST_F(DIZDidOzodozudaChannelDelegateTest, EachKeyNumbersFromOneAndDeletingTheGroupsDataStartsNewEpochs) {
    addUnit("Analytics");
    auto twin = group->channelUnitForGroupId("Analytics/one");
    auto stamp = [&](const std::shared_ptr<DIZCoreSchemaLog>& log) {
        delegate->channelPrepareLog(*twin, log);
        const auto& sdk = log->ext()->sdkExt();
        return std::make_pair(sdk->seq(), sdk->epoch().value_or(""));
    };
    auto a1 = stamp(coreSchemaLog("event_a"));
    auto a2 = stamp(coreSchemaLog("event_a"));
    auto b1 = stamp(coreSchemaLog("event_b", "otherkey-token"));
    auto keyless = coreSchemaLog("event_c");
    keyless->setIKey(std::nullopt);
    auto none1 = stamp(keyless);

    EXPECT_EQ(a1.first, 1);
    EXPECT_EQ(a2, std::make_pair(int64_t{2}, a1.second));
    EXPECT_EQ(b1.first, 1);
    EXPECT_NE(b1.second, a1.second);
    EXPECT_EQ(none1.first, 1);

    delegate->channelDidSetEnabled(*group, false, false);
    EXPECT_EQ(stamp(coreSchemaLog("event_a")).first, 3) << "disabling without deletion keeps the numbering";
    delegate->channelDidSetEnabled(*group, false, true);
    auto renewed = stamp(coreSchemaLog("event_a"));
    EXPECT_EQ(renewed.first, 1);
    EXPECT_NE(renewed.second, a1.second);
}

TEST_F(DIZDidOzodozudaChannelDelegateTest, NameRule) {
    const std::string hundred = "a" + std::string(98, 'b') + "9";
    struct Case {
        std::optional<std::string> name;
        bool valid;
    } cases[] = {
        {std::nullopt, false}, {"", false},      {"abc", false},   {"abcd", true},
        {"a.b_c.9", true},     {"ab..c", false}, {"abcd.", false}, {".abcd", false},
        {"_abcd", false},      {"ab-cd", false}, {hundred, true},  {hundred + "x", false},
        {"émoji", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DIZDidOzodozudaChannelDelegate::validateLogName(c.name), c.valid)
            << c.name.value_or("(none)");
    EXPECT_TRUE(logs.contains("Log validation failed. Name must not be nil or empty."));
}

TEST_F(DIZDidOzodozudaChannelDelegateTest, TwinFollowsItsUnitsSwitchesAndPauses) {
    auto recorder = std::make_shared<ChannelRecorder>();
    group->addDelegate(recorder);
    auto unit = addUnit("Analytics");
    auto pauser = std::make_shared<int>(0);
    settle();

    unit->setEnabled(false, true);
    settle();
    unit->pauseWithIdentifyingObject(pauser);
    settle();
    unit->resumeWithIdentifyingObject(pauser);
    settle();

    const auto events = recorder->events();
    for (const char* expected : {"Analytics/one disabled", "Analytics/one paused", "Analytics/one resumed"})
        EXPECT_NE(std::find(events.begin(), events.end(), expected), events.end()) << expected;
}

}  // namespace
