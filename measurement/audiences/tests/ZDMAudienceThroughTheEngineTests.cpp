// Audiences the way an app meets them: definitions arrive with the configuration the engine fetches,
// events are evaluated as they are bundled, and the results travel in the uploaded bundles, all
// against a local HTTP server.
#include <gtest/gtest.h>

#include "measurement/audiences/ZDMAudienceForEngine.h"
#include "measurement/audiences/tests/AudienceFixture.h"
#include "measurement/engine/tests/UploadFixture.h"

namespace {

struct UploadedResult {
    int32_t audienceID;
    bool filterTrue;
    bool hasPrevious;
    bool newAudience;
};

class AudienceThroughTheEngine : public UploadFixture {
  protected:
    AudienceThroughTheEngine() { ZDMInstallAudienceForEngine(); }

    // An audience whose one event filter is "cycled" counted more than once.
    static std::shared_ptr<ZDMPBAudience> cycledMoreThanOnce(int32_t audienceID, int32_t filterID) {
        const Proto counted = EventFilterSpec{.id = filterID}.proto().message(5, numberFilter(2, "1"));
        return decoded<ZDMPBAudience>(
            Proto().varint(1, static_cast<uint64_t>(audienceID)).message(3, counted));
    }
    void fetchAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences,
                        const std::string& interval = "7200000") {
        server_.script(
            configPath(),
            {answer(200, {}, configBody(kAppID, audiences, "measurement.upload.interval", interval))});
        fetch();
    }
    void cycled() {
        engine_->logEventWithOrigin("app", true, "cycled", std::nullopt, now(), true, false, false, nullptr,
                                    {});
        drain(*engine_);
    }
    // Uploads what was logged and answers what the one uploaded bundle carries in its audience
    // results, with whether filter `filterID` is true in each.
    std::vector<UploadedResult> upload(int32_t filterID) {
        const size_t before = requests("/a").size();
        server_.script("/a", {answer(204)});
        uploadNow();
        const auto uploads = requests("/a");
        EXPECT_EQ(uploads.size(), before + 1);
        if (uploads.size() != before + 1) return {};
        const auto bundles = bundlesOf(uploads.back());
        EXPECT_EQ(bundles.size(), 1u);
        std::vector<UploadedResult> out;
        for (const auto& leaf :
             messages<ZDMPBAudienceLeafFilterResult>(bundles.at(0).get(), kBundleAudienceResults)) {
            const auto current = ZDMPBGetMessage<ZDMPBResultData>(leaf.get(), 1);
            const int32_t audienceID = ZDMPBGetInt32(leaf.get(), 0);
            const ZDMFilterResult row(audienceID, current ? current->protoBuffer().value_or(Data()) : Data(),
                                      Data());
            out.push_back({audienceID, ZDMAudience::isFilterResult(&row, filterID),
                           ZDMPBHasField(leaf.get(), 2), ZDMPBGetBool(leaf.get(), 3)});
        }
        return out;
    }
};

TEST_F(AudienceThroughTheEngine, TheUploadTellsTheServerOfANewAudienceOnceItsFilterHolds) {
    start();
    fetchAudiences({cycledMoreThanOnce(7, 3)});

    cycled();
    cycled();
    auto results = upload(3);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].audienceID, 7);
    EXPECT_TRUE(results[0].filterTrue);
    EXPECT_TRUE(results[0].newAudience);
    EXPECT_FALSE(results[0].hasPrevious);

    cycled();
    results = upload(3);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].filterTrue);
    EXPECT_FALSE(results[0].newAudience);
    EXPECT_FALSE(results[0].hasPrevious) << "unchanged results carry no previous data";
}

TEST_F(AudienceThroughTheEngine, AudiencesThatCannotBeStoredLeaveThePreviousConfigurationInForce) {
    start();
    fetchAudiences({cycledMoreThanOnce(7, 3)});
    const auto stored = db_->queryMeasurementConfigWithError();
    ASSERT_TRUE(stored);

    RawFile(databasePath())
        .exec(
            "CREATE TRIGGER fail_filters BEFORE INSERT ON event_filters "
            "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
    fetchAudiences({cycledMoreThanOnce(8, 4)}, "10800000");
    expectConfigurationKept(*stored);
    EXPECT_EQ(RawFile(databasePath()).rows("SELECT audience_id, filter_id FROM event_filters"),
              std::vector<std::string>{"7|3"});

    // The audience in force is still evaluated and sent.
    cycled();
    cycled();
    const auto results = upload(3);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].audienceID, 7);
    EXPECT_TRUE(results[0].filterTrue);
}

}  // namespace
