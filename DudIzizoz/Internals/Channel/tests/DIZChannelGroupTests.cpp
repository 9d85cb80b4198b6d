#include <future>

#include "DudIzizoz/Internals/Channel/tests/DIZChannelTesting.h"
#include "DudIzizoz/Internals/Ingestion/DIZDudIzizozIngestion.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"

namespace diz_channel_test {
namespace {

// Adds a twin "<group id>/one" for every unit it hears of, from inside the group's callback.
class TwinMaker : public DIZChannelDelegate {
  public:
    void channelGroupDidAddChannelUnit(DIZChannelGroupProtocol& group,
                                       const std::shared_ptr<DIZChannelUnitProtocol>& unit) override {
        const std::string groupId = unit->configuration()->groupId();
        if (groupId.ends_with("/one")) return;
        twins.push_back(group.addChannelUnitWithConfiguration(std::make_shared<DIZChannelUnitConfiguration>(
            groupId + "/one", unit->configuration()->flushInterval())));
    }
    std::vector<std::shared_ptr<DIZChannelUnitProtocol>> twins;
};

std::vector<std::string> groupIds(const std::vector<std::shared_ptr<DIZChannelUnitProtocol>>& units) {
    std::vector<std::string> ids;
    for (const auto& unit : units) ids.push_back(unit->configuration()->groupId());
    return ids;
}

TEST_F(DIZChannelTest, GroupOwnsItsQueueAndFindsItsUnitsByGroupId) {
    EXPECT_EQ(group->logsDispatchQueue()->label(), std::string(kDIZSdkIdentifier) + ".ChannelGroupQueue");
    EXPECT_EQ(group->logUrl(), server.url());
    EXPECT_EQ(group->appSecret(), "app-secret");
    EXPECT_EQ(group->ingestion()->appSecret(), "app-secret");

    EXPECT_EQ(group->addChannelUnitWithConfiguration(nullptr), nullptr);
    EXPECT_TRUE(recorder->events().empty());

    auto twinMaker = std::make_shared<TwinMaker>();
    group->addDelegate(twinMaker);
    auto unit = group->addChannelUnitWithConfiguration(
        std::make_shared<DIZChannelUnitConfiguration>("Analytics", 10));
    EXPECT_EQ(groupIds(group->channels()), (std::vector<std::string>{"Analytics", "Analytics/one"}));
    EXPECT_EQ(recorder->events(), (std::vector<std::string>{"added Analytics", "added Analytics/one"}));
    EXPECT_EQ(group->channelUnitForGroupId("Analytics"), unit);
    EXPECT_EQ(group->channelUnitForGroupId("Analytics/one"), twinMaker->twins.front());
    EXPECT_EQ(group->channelUnitForGroupId("Analytics/one")->configuration()->flushInterval(), 10u);
    EXPECT_EQ(group->channelUnitForGroupId("Crashes"), nullptr);
}

TEST(DIZChannelUnitConfiguration, DefaultsAreFiftyLogsABatchThreeBatchesInFlightAndSixSeconds) {
    struct Case {
        DIZChannelUnitConfiguration configuration;
        std::vector<int64_t> expected;  // priority, flush interval, batch size, pending batches
    };
    const std::vector<Case> cases = {
        {DIZChannelUnitConfiguration("Crashes"), {1, 6, 50, 3}},
        {DIZChannelUnitConfiguration("Analytics", 60), {1, 60, 50, 3}},
        {DIZChannelUnitConfiguration("Custom", 7, 8, 9, 10), {7, 8, 9, 10}},
    };
    for (const auto& c : cases) {
        const auto& configuration = c.configuration;
        EXPECT_EQ((std::vector<int64_t>{configuration.priority(),
                                        static_cast<int64_t>(configuration.flushInterval()),
                                        static_cast<int64_t>(configuration.batchSizeLimit()),
                                        static_cast<int64_t>(configuration.pendingBatchesLimit())}),
                  c.expected)
            << configuration.groupId();
    }
}

TEST_F(DIZChannelTest, GroupDelegatesHearEveryUnitAndTheFirstFilterEndsTheAsking) {
    auto second = std::make_shared<DIZChannelRecorder>();
    recorder->filterPrefix = "drop";
    group->addDelegate(second);
    group->addDelegate(recorder);  // once only
    auto unit = addUnit();
    recorder->clear();
    second->clear();

    struct ChannelSpy : DIZChannelDelegate {
        void channelWillSendLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>&) override {
            channels.push_back(&channel);
        }
        std::vector<DIZChannelProtocol*> channels;
    };
    auto spy = std::make_shared<ChannelSpy>();
    group->addDelegate(spy);

    enqueue(*unit, {"drop-1"});
    enqueue(*unit, {"keep-1"});
    clock->advance(6);
    ASSERT_TRUE(server.waitForUploads(1));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(recorder->events(),
              (std::vector<std::string>{"prepare drop-1", "didPrepare drop-1 1", "filter? drop-1",
                                        "complete drop-1", "prepare keep-1", "didPrepare keep-1 1",
                                        "filter? keep-1", "complete keep-1", "willSend keep-1",
                                        "succeeded keep-1"}));
    EXPECT_EQ(second->matching("filter?"), std::vector<std::string>{"filter? keep-1"});
    EXPECT_EQ(spy->channels, std::vector<DIZChannelProtocol*>{static_cast<DIZChannelProtocol*>(unit.get())});

    group->removeDelegate(second);
    second->clear();
    enqueue(*unit, {"keep-2"});
    EXPECT_TRUE(second->events().empty());
}

TEST_F(DIZChannelTest, DisablingTheGroupTurnsOffTheIngestionThenEveryUnitThenTellsItsDelegates) {
    auto analytics = addUnit(kDIZDefaultFlushInterval, kDIZDefaultBatchSizeLimit, "Analytics");
    auto crashes = addUnit(kDIZDefaultFlushInterval, kDIZDefaultBatchSizeLimit, "Crashes");
    enqueue(*analytics, {"a"});
    enqueue(*crashes, {"c"});
    recorder->clear();

    group->setEnabled(false, true);
    EXPECT_FALSE(group->ingestion()->isEnabled());
    EXPECT_EQ(recorder->count("group disabled deleting"), 1u) << "told on the caller's thread";
    drain();
    EXPECT_EQ(recorder->count("unit disabled deleting"), 2u);
    EXPECT_EQ(recorder->matching("failed"), (std::vector<std::string>{"failed a 100", "failed c 100"}));
    EXPECT_TRUE(storedNames("Analytics").empty());
    EXPECT_TRUE(storedNames("Crashes").empty());

    group->setEnabled(true, false);
    drain();
    EXPECT_TRUE(group->ingestion()->isEnabled());
    EXPECT_TRUE(
        onQueue([&] { return analytics->isEnabled() && !analytics->isPaused() && !crashes->discardLogs(); }));
}

TEST_F(DIZChannelTest, ResumingOneOfTwoPausingObjectsTurnsTheIngestionOnButLeavesTheUnitsPaused) {
    auto unit = addUnit();
    auto networkSwitch = std::make_shared<int>(0);
    auto application = std::make_shared<int>(0);
    group->pauseWithIdentifyingObject(networkSwitch);
    group->pauseWithIdentifyingObject(application);
    EXPECT_FALSE(group->ingestion()->isEnabled());
    enqueue(*unit, names("log-", 0, 50));

    group->resumeWithIdentifyingObject(networkSwitch);
    drain();
    EXPECT_TRUE(group->ingestion()->isEnabled());
    EXPECT_TRUE(onQueue([&] { return unit->isPaused(); }));
    EXPECT_EQ(recorder->count("willSend"), 0u);

    group->resumeWithIdentifyingObject(application);
    drain();
    EXPECT_FALSE(onQueue([&] { return unit->isPaused(); }));
    EXPECT_EQ(recorder->count("willSend"), 50u);
    ASSERT_TRUE(server.waitForUploads(1));
    ASSERT_TRUE(waitUntilAnswered(unit));
}

TEST_F(DIZChannelTest, SetMaxStorageSizeReturnsAtOnceAndTheStoreAnswersLater) {
    std::promise<void> gate;
    group->logsDispatchQueue()->async([opened = gate.get_future().share()] { opened.wait(); });
    std::promise<bool> answer;
    auto answered = answer.get_future();
    group->setMaxStorageSize(1024 * 1024, [&answer](bool succeeded) { answer.set_value(succeeded); });
    EXPECT_EQ(answered.wait_for(0s), std::future_status::timeout);
    gate.set_value();
    drain();
    ASSERT_EQ(answered.wait_for(20s), std::future_status::ready);
    EXPECT_TRUE(answered.get());
}

TEST_F(DIZChannelTest, GroupWithoutIngestionKeepsNoLogsForItsUnits) {
    group = DIZChannelGroupDefault::make(std::shared_ptr<DIZDudIzizozIngestion>());
    group->addDelegate(recorder);
    auto unit = addUnit();
    enqueue(*unit, {"nowhere"});
    EXPECT_EQ(recorder->count("complete nowhere"), 1u);
    EXPECT_TRUE(storedNames().empty());
    EXPECT_EQ(group->logUrl(), "");
    EXPECT_EQ(group->appSecret(), std::nullopt);
}

}  // namespace
}  // namespace diz_channel_test
