#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

class DIZContextTest : public ::testing::Test {
  protected:
    TestHome home{DIZHostBundle()};
    ScopedManualClock clock;

    DIZContextTest() { DIZArchiverUtil::addAllowedDudIzizozModuleClasses(); }
    ~DIZContextTest() override { resetAllForTesting(); }

    static Date now() { return Date::now(); }
    // A new process run: the next sharedInstance reads the stored history.
    static void relaunch() { resetAllForTesting(); }
};

TEST_F(DIZContextTest, SessionIdAtAPastMomentComesFromTheRunItBelongsTo) {
    DIZSessionContext::sharedInstance();
    clock->advance(10);
    DIZSessionContext::sharedInstance()->setSessionId("S0");
    Date firstRunSession = now();
    clock->advance(10);
    DIZSessionContext::sharedInstance()->setSessionId("S0b");  // same run: replaces the entry
    Date secondSessionOfFirstRun = now();

    relaunch();
    clock->advance(100);
    auto context = DIZSessionContext::sharedInstance();
    Date launch = now();
    clock->advance(10);
    context->setSessionId("S1");
    Date set = now();

    EXPECT_EQ(context->sessionHistory().size(), 2u);
    EXPECT_EQ(context->sessionIdAt(set.addingTimeInterval(1)), "S1");
    EXPECT_EQ(context->sessionIdAt(launch.addingTimeInterval(5)), "S0b");
    EXPECT_EQ(context->sessionIdAt(set), "S0b") << "an entry does not match its own timestamp";
    EXPECT_EQ(context->sessionIdAt(secondSessionOfFirstRun), std::nullopt);
    EXPECT_EQ(context->sessionIdAt(firstRunSession), std::nullopt);

    context->clearSessionHistoryAndKeepCurrentSession(false);
    EXPECT_TRUE(context->sessionHistory().empty());
    EXPECT_EQ(context->sessionIdAt(set.addingTimeInterval(1)), std::nullopt);
    EXPECT_EQ(context->sessionId(), "S1");
    context->setSessionId("S2");
    EXPECT_EQ(context->sessionHistory().size(), 1u);

    relaunch();
    EXPECT_EQ(DIZSessionContext::sharedInstance()->sessionHistory().size(), 2u) << "stored, plus the new run";
}

// A moment of an earlier run that this run's entries postdate only by a fraction of a second (a
// crash time known to the second) is answered from the earlier run.
TEST_F(DIZContextTest, AMomentOfAnEarlierRunIsNeverAnsweredFromThisRun) {
    DIZSessionContext::sharedInstance()->setSessionId("S0");
    DIZUserIdContext::sharedInstance()->setUserId("c:first");
    const Date moment = now().addingTimeInterval(0.999);
    relaunch();
    clock->advance(0.5);
    auto sessions = DIZSessionContext::sharedInstance();
    auto users = DIZUserIdContext::sharedInstance();
    sessions->setSessionId("S1");
    users->setUserId("c:second");

    EXPECT_EQ(sessions->sessionIdAt(moment), "S1");
    EXPECT_EQ(users->userIdAt(moment), "c:second");
    EXPECT_EQ(sessions->sessionIdOfEarlierRunAt(moment), "S0");
    EXPECT_EQ(users->userIdOfEarlierRunAt(moment), "c:first");

    sessions->clearSessionHistoryAndKeepCurrentSession(true);
    users->clearUserIdHistory();
    EXPECT_EQ(sessions->sessionIdOfEarlierRunAt(moment), std::nullopt) << "only this run's entry is left";
    EXPECT_EQ(users->userIdOfEarlierRunAt(moment), std::nullopt);
}

TEST_F(DIZContextTest, UnreadableHistoryStartsEmpty) {
    DIZLogCapture capture;
    DIZDudIzizozUserDefaults::shared()->setObject(Value(dataFromString("garbage")), "SessionIdHistory");
    DIZDudIzizozUserDefaults::shared()->setObject(Value("not even data"), "UserIdHistory");
    EXPECT_EQ(DIZSessionContext::sharedInstance()->sessionHistory().size(), 1u);
    EXPECT_EQ(DIZUserIdContext::sharedInstance()->userIdHistory().size(), 1u);
    EXPECT_TRUE(capture.contains("0 session(s) in the history."));
    EXPECT_TRUE(capture.find("0 userId(s) in the history."));
}

struct RecordingUserIdDelegate : DIZUserIdContextDelegate {
    std::vector<std::optional<std::string>> updates;
    void userIdContext(DIZUserIdContext&, const std::optional<std::string>& userId) override {
        updates.push_back(userId);
    }
};

TEST_F(DIZContextTest, UserIdChangesAreStoredAndAnnouncedOnlyWhenDifferent) {
    auto context = DIZUserIdContext::sharedInstance();
    auto delegate = std::make_shared<RecordingUserIdDelegate>();
    context->addDelegate(delegate);
    context->addDelegate(delegate);  // a member of the table once
    auto stored = [] { return DIZDudIzizozUserDefaults::shared()->objectForKey("UserIdHistory"); };
    ASSERT_TRUE(stored()) << "the launch entry is stored at once";

    clock->advance(5);
    context->setUserId("alice");
    Date set = now();
    auto afterAlice = stored();
    clock->advance(5);
    context->setUserId("alice");
    EXPECT_EQ(stored(), afterAlice) << "an equal id writes nothing";
    context->setUserId(std::nullopt);
    context->setUserId(std::nullopt);
    EXPECT_EQ(delegate->updates, (std::vector<std::optional<std::string>>{"alice", std::nullopt}));

    clock->advance(5);
    context->setUserId("bob");
    EXPECT_EQ(context->userIdAt(set.addingTimeInterval(1)), std::nullopt)
        << "the same run's entry was replaced";
    EXPECT_EQ(context->userIdAt(now().addingTimeInterval(1)), "bob");

    relaunch();
    auto next = DIZUserIdContext::sharedInstance();
    clock->advance(5);
    EXPECT_EQ(next->userIdAt(now()), std::nullopt) << "the new run's entry holds no id yet";
    EXPECT_EQ(next->userIdHistory().size(), 2u);
    EXPECT_EQ(next->userIdHistory().front().userId(), "bob");
    next->clearUserIdHistory();
    EXPECT_EQ(next->userIdHistory().size(), 1u);
}

TEST(DIZUserIdRulesTest, LengthPrefixAndEmptyIds) {
    DIZLogCapture capture;
    EXPECT_TRUE(DIZUserIdContext::isUserIdValidForDudIzizoz(std::string(256, 'u')));
    EXPECT_FALSE(DIZUserIdContext::isUserIdValidForDudIzizoz(std::string(257, 'u')));
    EXPECT_TRUE(DIZUserIdContext::isUserIdValidForDudIzizoz(std::nullopt));
    EXPECT_TRUE(capture.contains("userId is limited to 256 characters."));

    struct Case {
        std::optional<std::string> userId;
        bool valid;
        std::optional<std::string> prefixed;
    } cases[] = {
        {std::nullopt, true, std::nullopt},
        {"alice", true, "c:alice"},
        {"c:alice", true, "c:alice"},
        {"", false, "c:"},
        {"c:", false, "c:"},
        {"x:alice", false, "x:alice"},
        {":alice", false, ":alice"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DIZUserIdContext::isUserIdValidForDidOzodozuda(c.userId), c.valid)
            << c.userId.value_or("nil");
        EXPECT_EQ(DIZUserIdContext::prefixedUserIdFromUserId(c.userId), c.prefixed)
            << c.userId.value_or("nil");
    }
    EXPECT_TRUE(capture.contains("userId must not be empty."));
    EXPECT_TRUE(capture.contains("userId prefix must be 'c', 'x' is not supported."));
}

}  // namespace
