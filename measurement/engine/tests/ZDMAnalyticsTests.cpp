#include <gtest/gtest.h>

#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/tests/ParameterHelpers.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

struct LoggedEvent {
    std::string origin;
    std::string name;
    Dictionary parameters;
};

// Resets before the fixture's observer is registered, which a reset would drop.
struct FreshProcessState {
    FreshProcessState() { resetAllForTesting(); }
};

class ErrorEvents : public ::testing::Test, private FreshProcessState {
  protected:
    ~ErrorEvents() override { resetAllForTesting(); }

    TestHome home_;
    std::vector<LoggedEvent> events_;
    Cancellable observation_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
            events_.push_back({origin, name, plainParameters(parameters)});
        });
};

TEST_F(ErrorEvents, ReachTheFacadeAsTheErrorEventFromAuto) {
    ZDMLogErrorEventWithParameter(4, Value("nm"), 40, Value("abc"));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].origin, "auto");
    EXPECT_EQ(events_[0].name, "_err");
    EXPECT_EQ(events_[0].parameters, (Dictionary{{"_err", 4}, {"_ev", "nm"}, {"_el", 3}}));

    ZDMLogErrorEventWithParameter(0, Value("nm"), 40, Value("abc"));
    ZDMLogErrorEvent(0);
    EXPECT_EQ(events_.size(), 1u);

    ZDMLogErrorEvent(13);
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[1].parameters, (Dictionary{{"_err", 13}}));
}

TEST_F(ErrorEvents, TheValueIsReportedOnlyWhenItExplainsTheCode) {
    struct Case {
        int64_t code;
        Value value;
        Dictionary parameters;
    };
    const std::string long41(41, 'v');
    const Case cases[] = {
        {7, Value("abc"), {{"_err", 7}, {"_ev", "nm"}, {"_el", 3}}},
        {2, Value("abc"), {{"_err", 2}, {"_ev", "nm"}}},
        {2, Value(long41), {{"_err", 2}, {"_ev", "nm"}, {"_el", 41}}},
        {4, Value(), {{"_err", 4}, {"_ev", "nm"}}},
    };
    for (const auto& c : cases) {
        events_.clear();
        ZDMLogErrorEventWithParameter(c.code, Value("nm"), 40, c.value);
        ASSERT_EQ(events_.size(), 1u);
        EXPECT_EQ(events_[0].parameters, c.parameters) << c.code;
    }
}

TEST_F(ErrorEvents, ACancelledObserverHearsNothing) {
    observation_.cancel();
    ZDMLogErrorEvent(2);
    EXPECT_TRUE(events_.empty());
}

}  // namespace
