#include <gtest/gtest.h>

#include "measurement/audiences/ZDMAudienceForEngine.h"
#include "measurement/audiences/tests/AudienceFixture.h"
#include "measurement/engine/ZDMEngineAudience.h"

namespace {

class AudienceForEngine : public AudienceFixture {
  protected:
    ~AudienceForEngine() override { ZDMEngineAudience::setFactory(nullptr); }
};

// Definitions handed in through the engine's interface are the evaluator's, and the evaluator's
// results come back out through it.
TEST_F(AudienceForEngine, TheEnginesEvaluatorIsTheAudienceOverItsDatabase) {
    ZDMInstallAudienceForEngine();
    EXPECT_EQ(ZDMEngineAudience::initWithDatabase(nullptr), nullptr);
    const auto engines = ZDMEngineAudience::initWithDatabase(database_);
    ASSERT_NE(engines, nullptr);
    ASSERT_TRUE(engines->updateAudiences({audienceMessage(1, {{.id = 1, .name = "a"}})}));
    ASSERT_TRUE(evaluate("a", {}, 1000.0));
    std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>> results;
    ASSERT_TRUE(engines->resultsForBundling(&results));
    EXPECT_EQ(results.size(), 1u);
    // Each bundle gets a cache of its own; the least evaluator keeps none.
    const auto cache = engines->makeTimestampsCache();
    EXPECT_NE(cache, nullptr);
    EXPECT_NE(engines->makeTimestampsCache(), cache);
    ZDMEngineAudience::setFactory(nullptr);
    EXPECT_EQ(ZDMEngineAudience::initWithDatabase(database_)->makeTimestampsCache(), nullptr);
}

}  // namespace
