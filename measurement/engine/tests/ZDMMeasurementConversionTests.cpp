#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/engine/tests/FakePSMClient.h"
#include "measurement/engine/tests/StoredRawEvents.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zed/ZEDUdovade.h"
#include "testing/Eventually.h"

namespace {

class ConversionTest : public EngineFixture {
  protected:
    ~ConversionTest() override {
        if (engine_) drain(*engine_);
        Runtime::unregisterClass(ZDMPrivateSetMembershipClientClass::kClassName);
    }

    void registerClient() {
        Runtime::registerClass(ZDMPrivateSetMembershipClientClass::kClassName,
                               std::make_shared<FakeClientClass>(server_.url("/psm")));
    }
    // A started engine with a network, its start-up reports forgotten.
    ZDMMeasurement& start() {
        auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
        auto alarm = ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName);
        engine_ = ZDMMeasurement::initWithDatabaseName(
            ZDMMeasurement::kDatabaseName, ZDMPersistedConfig::sharedInstance(),
            ZEDUdovade::initWithReachabilityHost("127.0.0.1"), std::move(scheduler), std::move(alarm),
            "1:123:ios:abc", true, false, {}, nullptr);
        forgetStartUpReports(*engine_);
        return *engine_;
    }
    void setUserData(Dictionary userData) {
        engine_->setUserData(userData);
        drain(*engine_);
    }
    // Waits until the engine has handled `count` answers of the server.
    bool answered(int64_t count) {
        return eventually([&] { return countOf(23228) + countOf(23229) + countOf(23230) >= count; });
    }
    std::shared_ptr<ZDMUserAttribute> stored(const std::string& name) {
        std::shared_ptr<ZDMUserAttribute> attribute;
        onWorkerQueue(*engine_, [&] { attribute = engine_->database()->userAttributeWithName(name); });
        return attribute;
    }
    int64_t storedCount(const std::string& name) {
        const auto attribute = stored(name);
        return attribute && attribute->value() ? attribute->value()->int64Value() : -1;
    }
    static std::string query(const LocalHttpServer::Request& request, const std::string& key) {
        for (const auto& [name, value] : request.query)
            if (name == key) return value;
        return "<none>";
    }

    LocalHttpServer server_;
    std::shared_ptr<ZDMMeasurement> engine_;
};

TEST_F(ConversionTest, WithoutTheClientNothingIsQueriedAndStoredCountsAreFlagged) {
    auto& engine = start();
    setUserData(Dictionary{{"email_address", Value("a@example.com")}});
    EXPECT_EQ(countOf(23233), 1);

    onWorkerQueue(engine, [&] {
        engine.setUserPropertyInDatabaseOnWorkerQueue(
            ZDMUserAttribute::initWithOrigin("auto", "_psmcount", ZDMValue::initWithInt64(1), 0));
        engine.checkPSMDependencyOnWorkerQueue();
    });
    EXPECT_EQ(countOf(23254), 1);
    EXPECT_EQ(server_.received().size(), 0u);
}

TEST_F(ConversionTest, WithTheClientTheStartSaysItIsReady) {
    registerClient();
    start();
    const auto codes = loggedCodes();  // the start's codes too
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 23253), 1);
}

TEST_F(ConversionTest, TheEmailAddressWinsAndAnEmptyOneLeavesThePhoneNumber) {
    struct Case {
        std::string email;
        std::string countKey;
        bool emptyEmailLogged;
    };
    server_.script("/psm", {textAnswer(200, "")});
    registerClient();
    // First open 12.345 s past a whole minute.
    start();
    constexpr int64_t kWholeMinute = 1767225600;
    ZDMPersistedConfig::sharedInstance()->setFirstOpenTimestampMilliseconds(kWholeMinute * 1000 + 12345);
    const std::vector<Case> cases{{"a@example.com", "psm_count", false}, {"", "psm_phone_count", true}};
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        SCOPED_TRACE(c.countKey);
        setUserData(Dictionary{{"email_address", Value(c.email)}, {"phone_number", Value("+15555550100")}});
        const auto request = server_.waitForRequest(n + 1);
        ASSERT_TRUE(request);
        EXPECT_EQ(query(*request, c.countKey), "0");
        EXPECT_EQ(query(*request, c.countKey == "psm_count" ? "psm_phone_count" : "psm_count"), "<none>");
        EXPECT_EQ(query(*request, "timestamp_first_open"), std::to_string(kWholeMinute + 60));
        EXPECT_EQ(query(*request, "retry"), "0");
        EXPECT_EQ(countOf(23234), c.emptyEmailLogged ? 1 : 0);
        ASSERT_TRUE(answered(n + 1));
    }
}

TEST_F(ConversionTest, FailedQueriesAreRetriedWithBackOffUntilTheLimitAndEveryAnswerIsCounted) {
    server_.script("/psm", {textAnswer(500, "{}")});
    registerClient();
    start();
    setUserData(Dictionary{{"email_address", Value("a@example.com")}});
    const std::vector<double> delays{300, 600, 1200, 2400};
    for (size_t attempt = 0; attempt <= delays.size(); ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(server_.waitForRequests(attempt + 1));
        ASSERT_TRUE(answered(attempt + 1));
        EXPECT_EQ(storedCount("_psmcount"), static_cast<int64_t>(attempt + 1));
        EXPECT_EQ(query(server_.received()[attempt], "psm_count"), std::to_string(attempt));
        EXPECT_EQ(query(server_.received()[attempt], "retry"), std::to_string(attempt));
        if (attempt == delays.size()) break;
        clock_->advance(delays[attempt] - 1);
        drain(*engine_);
        EXPECT_EQ(server_.received().size(), attempt + 1);
        clock_->advance(1);
    }
    EXPECT_EQ(countOf(23231), 1);
    clock_->advance(86400);
    drain(*engine_);
    EXPECT_EQ(server_.received().size(), delays.size() + 1);
    EXPECT_EQ(countOf(23228), static_cast<int64_t>(delays.size() + 1));
}

TEST_F(ConversionTest, ThreeStartedQueriesInARunAreTheLimit) {
    server_.script("/psm", {textAnswer(200, "")});
    registerClient();
    start();
    for (int query = 1; query <= 3; ++query) {
        setUserData(Dictionary{{"email_address", Value("a@example.com")}});
        ASSERT_TRUE(answered(query));
    }
    EXPECT_EQ(countOf(23230), 3);
    setUserData(Dictionary{{"email_address", Value("a@example.com")}});
    EXPECT_EQ(countOf(23236), 1);
    EXPECT_EQ(server_.received().size(), 3u);
    EXPECT_EQ(storedCount("_psmcount"), 3);
}

TEST_F(ConversionTest, AMatchIsStoredAndReportedAndExpiresAfterNinetyDays) {
    server_.script("/psm", {textAnswer(200, "matched")});
    registerClient();
    auto& engine = start();
    setUserData(Dictionary{{"email_address", Value("a@example.com")}});
    ASSERT_TRUE(answered(1));
    EXPECT_EQ(countOf(23229), 1);
    const auto match = stored("_psmvalue");
    ASSERT_TRUE(match && match->value());
    EXPECT_EQ(match->value()->stringValue(), "matched");

    std::optional<std::map<std::string, std::string>> reported;
    for (const auto& [name, data] : storedRawEventRows(databasePath()))
        if (name == "_fx") reported = storedParameters(data);
    ASSERT_TRUE(reported);
    EXPECT_EQ((*reported)["_o"], "auto");
    EXPECT_EQ((*reported)["_fxs"], "psm");
    EXPECT_EQ((*reported)["_r"], "1");

    setUserData(Dictionary{{"phone_number", Value("+15555550100")}});
    EXPECT_EQ(countOf(23237), 1);

    onWorkerQueue(engine, [&] {
        engine.setUserPropertyInDatabaseOnWorkerQueue(
            ZDMUserAttribute::initWithOrigin("auto", "_psmcountph", ZDMValue::initWithInt64(2), 0));
    });
    struct Case {
        double after;
        bool kept;
    };
    for (const Case& c : {Case{7776000 - 1, true}, Case{1, false}}) {
        SCOPED_TRACE(c.after);
        clock_->advance(c.after);
        onWorkerQueue(engine, [&] { engine.maybeDeleteExpiredPSMValueOnWorkerQueue(); });
        for (const char* name : {"_psmvalue", "_psmcount", "_psmcountph"})
            EXPECT_EQ(stored(name) != nullptr, c.kept) << name;
    }
}

}  // namespace
