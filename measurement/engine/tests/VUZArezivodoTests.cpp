#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <type_traits>

#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "measurement/engine/ZUDAMeasurement.h"
#include "measurement/engine/ZUDAScreenViewReporter.h"
#include "measurement/engine/tests/StoredRawEvents.h"
#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Runtime.h"
#include "platform/zudedaro/ZUDApp.h"
#include "platform/zudedaro/ZUDInstallations.h"
#include "platform/zudedaro/ZUDVersion.h"
#include "testing/Eventually.h"

namespace {
constexpr const char* kAppID = "1:100000000000:macos:0000000000000001";

// An application value of the language's own that has no object counterpart.
class BoxedValue final : public Object {
  public:
    std::string className() const override { return VUZArezivodo::kUnbridgeableValueClassName; }
};

class OtherObject final : public Object {
  public:
    std::string className() const override { return "OtherObject"; }
};

class AnalyticsInterface : public SharedMonitorFixture {
  protected:
    AnalyticsInterface() { registerMeasurementHooks(); }
    ~AnalyticsInterface() override {
        ZDMWaitUntilMeasurementIdle(20);
        ZDMAnalytics::resetForTesting();
        ZDMMeasurement::resetSharedInstance();
        ZUDInstallations::installations()->setFailureForTesting(std::nullopt);
        Runtime::unregisterClass(VUZArezivodo::kUnbridgeableValueClassName);
        // The engine's own tests run without the interface unless they register it.
        Runtime::unregisterClass(VUZArezivodo::kClassName);
    }

    // The core library's configure: it finds the interface by name and starts it.
    static void configure() { ZUDApp::configureWithOptions(ZUDOptions{kAppID}); }
    static void settle() { ASSERT_TRUE(ZDMWaitUntilMeasurementIdle(20)); }
    static std::vector<StoredRawEvent> stored() {
        return storedRawEvents(ZDMMeasurementSupportFilePath(ZDMMeasurement::kDatabaseName));
    }
    // The stored events of one name.
    static std::vector<StoredRawEvent> stored(const std::string& name) {
        auto events = stored();
        std::erase_if(events, [&](const StoredRawEvent& event) { return event.name != name; });
        return events;
    }
    std::vector<LoggedLine> linesWithCode(int64_t code) {
        flush(*monitor_);
        auto lines = logger_->lines();
        std::erase_if(lines, [&](const LoggedLine& line) { return line.code != code; });
        return lines;
    }
    int64_t countOf(int64_t code) { return static_cast<int64_t>(linesWithCode(code).size()); }
};

TEST_F(AnalyticsInterface, EventBeforeConfigureIsDroppedWithItsNameAndAfterItStoredWithOriginApp) {
    VUZArezivodo::logEventWithName("cycled", std::nullopt);
    const auto dropped = linesWithCode(25018);
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].level, 3);
    EXPECT_EQ(dropped[0].message, "Event not logged. Call +[ZUDApp configure]: cycled");

    configure();
    VUZArezivodo::logEventWithName("cycled", std::nullopt);
    settle();
    EXPECT_EQ(stored("cycled"), (std::vector<StoredRawEvent>{{"cycled", "app"}}));
    EXPECT_EQ(countOf(25018), 1);
}

// Only events, user properties, e-mail addresses and phone numbers ask whether the default app is
// configured; each refusal names what was refused.
TEST_F(AnalyticsInterface, UserDataBeforeConfigureIsRefusedWithItsOwnCode) {
    struct Case {
        std::function<void()> call;
        int64_t code;
        std::string message;
    } cases[] = {
        {[] { VUZArezivodo::setUserPropertyString("grid", "layout"); }, 25019,
         "User property not set. Call +[ZUDApp configure]: layout"},
        {[] { VUZArezivodo::initiateOnDeviceConversionMeasurementWithEmailAddress("a@b.example"); }, 25051,
         "Email address not set. Call +[ZUDApp configure]"},
        {[] { VUZArezivodo::initiateOnDeviceConversionMeasurementWithPhoneNumber(std::nullopt); }, 25052,
         "Phone number not set. Call +[ZUDApp configure]"},
    };
    for (const auto& c : cases) c.call();
    for (const auto& c : cases) {
        const auto lines = linesWithCode(c.code);
        ASSERT_EQ(lines.size(), 1u) << c.code;
        EXPECT_EQ(lines[0].level, 3);
        EXPECT_EQ(lines[0].message, c.message);
    }
    configure();
    for (const auto& c : cases) c.call();
    for (const auto& c : cases) EXPECT_EQ(countOf(c.code), 1) << c.code;
}

TEST_F(AnalyticsInterface, UnbridgeableValueIsFoundAtAnyDepthOnlyWhileItsClassIsRegistered) {
    const Value boxed(Value::ObjectPtr(std::make_shared<BoxedValue>()));
    const Value nested(Dictionary{{"a", Value::Array{Value(Dictionary{{"b", boxed}})}}});
    const Value plain(Dictionary{{"a", Value::Array{Value(Dictionary{{"b", "text"}}), 1}}, {"c", 2.5}});
    EXPECT_FALSE(VUZArezivodoHasUnbridgeableValue(nested));

    Runtime::registerClass(VUZArezivodo::kUnbridgeableValueClassName);
    struct Case {
        Value parameters;
        bool unbridgeable;
    } cases[] = {
        {nested, true},
        {Value(Dictionary{{"b", boxed}}), true},
        {Value(Value::Array{1, Value::Array{boxed}}), true},
        {plain, false},
        {Value(Dictionary{}), false},
        {Value(Value::ObjectPtr(std::make_shared<OtherObject>())), false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(VUZArezivodoHasUnbridgeableValue(cases[i].parameters), cases[i].unbridgeable) << i;
}

TEST_F(AnalyticsInterface, UnbridgeableValueIsReportedOnceAndTheEventStillLogged) {
    configure();
    const Value boxed(Value::ObjectPtr(std::make_shared<BoxedValue>()));
    const Dictionary parameters{{"a", Value::Array{Value(Dictionary{{"b", boxed}})}}, {"c", boxed}};

    VUZArezivodo::logEventWithName("with_box", parameters);
    settle();
    EXPECT_EQ(countOf(25040), 0);
    EXPECT_EQ(stored("with_box").size(), 1u);

    Runtime::registerClass(VUZArezivodo::kUnbridgeableValueClassName);
    VUZArezivodo::logEventWithName("with_box", parameters);
    settle();
    const auto lines = linesWithCode(25040);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].message,
              "Unbridgeable Swift type logged in parameters. Break on "
              "__VUZAREZIVODO_UNBRIDGEABLE_SWIFT_VALUE_ERROR__ to debug.");
    EXPECT_EQ(stored("with_box"), (std::vector<StoredRawEvent>{{"with_box", "app"}, {"with_box", "app"}}));
}

TEST_F(AnalyticsInterface, StartOptionsHoldTheFourKeysInOrderWithoutAnAbsentConfiguration) {
    const auto configuration = std::make_shared<ZUDAnalyticsConfiguration>();
    ZUDOptions options{kAppID};
    options.isAnalyticsCollectionDeactivated = true;
    options.isAnalyticsCollectionEnabled = false;

    const Dictionary withConfiguration = VUZArezivodoStartOptions(configuration, options);
    EXPECT_EQ(withConfiguration.keys(),
              (std::vector<std::string>{
                  "ZUDEDARO_ANALYTICS_CONFIGURATION", "ZUDEDARO_ANALYTICS_COLLECTION_DEACTIVATED",
                  "ZUDEDARO_ANALYTICS_COLLECTION_ENABLED", "measurement_engine_log_tag"}));
    EXPECT_EQ(withConfiguration["ZUDEDARO_ANALYTICS_CONFIGURATION"].asObject().get(), configuration.get());
    EXPECT_EQ(withConfiguration["ZUDEDARO_ANALYTICS_COLLECTION_DEACTIVATED"], Value(true));
    EXPECT_EQ(withConfiguration["ZUDEDARO_ANALYTICS_COLLECTION_ENABLED"], Value(false));
    EXPECT_EQ(withConfiguration["measurement_engine_log_tag"], Value(kZUDLoggerAnalytics));

    EXPECT_EQ(
        VUZArezivodoStartOptions(nullptr, options).keys(),
        (std::vector<std::string>{"ZUDEDARO_ANALYTICS_COLLECTION_DEACTIVATED",
                                  "ZUDEDARO_ANALYTICS_COLLECTION_ENABLED", "measurement_engine_log_tag"}));
}

// The facade takes the app ID as the service plist's, the origin for the identifiers and the tag for
// the monitor's lines; the engine reports the core library's version.
TEST_F(AnalyticsInterface, StartHandsTheFacadeTheAppIDOriginZaAndTheLoggerTag) {
    configure();
    settle();
    EXPECT_EQ(ZDMIdentity::sharedInstance()->appIDFromZOR(), kAppID);
    EXPECT_EQ(ZDMIdentifiers::sharedInstance()->origin(), "za");
    EXPECT_EQ(monitor_->logTag(), kZUDLoggerAnalytics);

    const auto started = linesWithCode(23007);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].message, "Analytics v.10.13.0 started");
    EXPECT_EQ(VUZArezivodo::topLevelVersion(), ZUDZudedaroVersion());
    ASSERT_NE(ZDMMeasurement::sharedInstance(), nullptr);
    EXPECT_EQ(ZUDAMeasurement::sharedInstance(), ZDMMeasurement::sharedInstance());
}

TEST_F(AnalyticsInterface, SecondStartRefreshesTheInstallationIDAndKeepsOneObserver) {
    std::atomic<int> willStart{0};
    auto observation = NotificationCenter::defaultCenter().addObserver(
        ZDMAnalytics::kWillStartNotification, [&](const Notification&) { ++willStart; });
    configure();
    const auto identity = ZDMIdentity::sharedInstance();
    ASSERT_TRUE(eventually([&] { return identity->zudedaroInstallationID().has_value(); }));

    // From now on every request fails, so each one shows as one 25038.
    auto installations = ZUDInstallations::installations();
    installations->setFailureForTesting(Error("ZUDInstallationsErrorDomain", 1, "offline"));
    const auto app = ZUDApp::defaultApp();
    VUZArezivodo::startWithConfiguration(app->analyticsConfiguration(), app->options());
    ASSERT_TRUE(eventually([&] { return countOf(25038) == 1; }));
    EXPECT_EQ(identity->zudedaroInstallationID(), std::nullopt);
    EXPECT_EQ(linesWithCode(25038)[0].level, 4);

    NotificationCenter::defaultCenter().post(ZUDInstallationIDDidChangeNotification);
    ASSERT_TRUE(BackgroundActivity::waitUntilIdle(20));
    EXPECT_EQ(countOf(25038), 2);
    EXPECT_EQ(willStart.load(), 1);
}

// Operations without checks of their own reach the facade unchanged.
TEST_F(AnalyticsInterface, UncheckedOperationsReachTheFacade) {
    configure();
    settle();
    VUZArezivodo::setAnalyticsCollectionEnabled(false);
    settle();
    EXPECT_FALSE(ZDMAnalytics::analyticsEnabled());
    EXPECT_EQ(ZDMPersistedConfig::sharedInstance()->measurementEnabledState(), 2) << "kept for next launches";

    std::atomic<bool> ran{false};
    VUZArezivodo::queueOperationWithBlock([&] { ran = ZDMAnalytics::isCurrentQueueSerialQueue(); });
    settle();
    EXPECT_TRUE(ran.load());

    EXPECT_TRUE(VUZArezivodo::addLogEventListener([](const std::shared_ptr<ZDMEvent>&) {}).has_value());
    EXPECT_FALSE(VUZArezivodo::addLogEventListener(nullptr).has_value());
    EXPECT_EQ(VUZArezivodo::loadTimestamp(), ZDMAnalytics::loadTimestamp());
    EXPECT_EQ(VUZArezivodo::sharedInstance(), VUZArezivodo::sharedInstance());
}

// The glue classes are the engine's classes under the names the connector uses.
TEST(GlueClasses, AreThinSubclassesOfTheEngineClasses) {
    static_assert(std::is_base_of_v<ZDMMeasurement, ZUDAMeasurement>);
    static_assert(std::is_base_of_v<ZDMScreenViewReporter, ZUDAScreenViewReporter>);
    static_assert(std::is_base_of_v<ZDMConditionalUserProperty, ZUDAConditionalUserProperty>);
    static_assert(std::is_base_of_v<ZDMEvent, ZADERodez>);
    static_assert(std::is_base_of_v<ZDMIdentifiers, ZUDAIdentifiers>);
    static_assert(std::is_base_of_v<ZDMUserAttribute, ZUDAUserAttribute>);
    static_assert(std::is_base_of_v<ZDMValue, ZUDAValue>);
    EXPECT_EQ(ZUDAScreenViewReporter::sharedInstance(), ZDMScreenViewReporter::sharedInstance());
}
}  // namespace
