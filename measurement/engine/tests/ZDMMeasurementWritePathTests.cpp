#include <sqlite3.h>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/WritePathFixture.h"
#include "measurement/foundation/ZDMDailyCounts.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMRemoteConfigEventEditing.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBProgramMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {
constexpr const char* kAppID = kEngineTestAppID;

std::shared_ptr<ZDMEvent> event(const std::string& name, Dictionary parameters = {}) {
    const bool isPublic = !name.starts_with("_");
    return ZDMEvent::initWithOrigin("app", isPublic, name, Clock::current().now(), 0, parameters);
}

// The engine's own events keep their reserved flags; the app's lose them in the sanitiser.
std::shared_ptr<ZDMEvent> internalEvent(const std::string& name, Dictionary parameters = {}) {
    return ZDMEvent::initWithOrigin("auto", false, name, Clock::current().now(), 0, parameters);
}

int64_t intParameter(const ZDMEvent& event, const std::string& key) {
    const auto value = event.parameters()[key].objectAs<ZDMValue>();
    return value ? value->int64Value() : -1;
}

Value z(int64_t v) {
    return Value(ZDMValue::initWithInt64(v));
}

bool hasParameter(const ZDMEvent& event, const std::string& key) {
    return event.parameters().find(key) != nullptr;
}
// An editor whose answer the test sets; it stands where the configuration's program runs.
class ScriptedEditor : public ZDMRemoteConfigEventEditing {
  public:
    std::function<bool(const ZDMEvent&, EditedEvents*, Error*)> script;
    void setHostModules(HostModules) override {}
    bool loadProgram(const ZDMPBProgram&, Error*) override { return true; }
    bool editEvent(const ZDMEvent& event, EditedEvents* edited, Error* error) override {
        return script(event, edited, error);
    }
};

// The server's configuration for the engine's app: one blocklisted event and, when asked, a program,
// which is what makes the configuration load an editor.
void installConfiguration(ZDMMeasurement& engine, const std::vector<std::string>& blocklisted,
                          bool withProgram) {
    auto config = ZDMPBMeasurementConfig::initWithBuffer(nullptr);
    ZDMPBSetString(config.get(), 1, engine.appID());
    auto setting = ZDMPBSetting::initWithBuffer(nullptr);
    ZDMPBSetString(setting.get(), 0, "measurement.upload.max_events_per_day");
    ZDMPBSetString(setting.get(), 1, "100000");
    ZDMPBSetArray(config.get(), 3, Value::Array{Value(std::static_pointer_cast<const Object>(setting))});
    Value::Array eventConfigs;
    for (const auto& name : blocklisted) {
        auto eventConfig = ZDMPBEventConfig::initWithBuffer(nullptr);
        ZDMPBSetString(eventConfig.get(), 0, name);
        ZDMPBSetBool(eventConfig.get(), 1, true);
        eventConfigs.push_back(Value(std::static_pointer_cast<const Object>(eventConfig)));
    }
    if (!eventConfigs.empty()) ZDMPBSetArray(config.get(), 4, eventConfigs);
    if (withProgram)
        ZDMPBSetArray(config.get(), 8,
                      Value::Array{Value(
                          std::static_pointer_cast<const Object>(ZDMPBProgram::initWithBuffer(nullptr)))});
    engine.remoteConfigInstance()->parseRemoteConfigFromMeasurementConfig(config.get());
}
}  // namespace

TEST_F(WritePath, AnEventIsStoredWithAMetadataRowSharedUntilTheUserPropertiesChange) {
    const auto engine = startedEngine();
    handle(*engine, event("cycled"));
    auto stored = rows();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "cycled");
    EXPECT_FALSE(stored[0].realtime);
    EXPECT_EQ(metadataRowCount(), 1);

    std::shared_ptr<ZDMPBMeasurementBundle> metadata;
    onWorkerQueue(*engine, [&] {
        metadata = engine->database()->queryRawEventsMetadataWithFingerprint(stored[0].fingerprint);
    });
    ASSERT_NE(metadata, nullptr);
    // Fields by index: tag 1 → 0, 8 → 8, 13 → 13, 14 → 14, 17 → 17, 52 → 40, 21 → 22, 19 → 19, 27 → 20.
    EXPECT_EQ(ZDMPBGetInt32(metadata.get(), 0), 1);
    EXPECT_EQ(ZDMPBGetString(metadata.get(), 8), "macos");
    EXPECT_EQ(ZDMPBGetString(metadata.get(), 13), "manual_install");
    EXPECT_EQ(ZDMPBGetString(metadata.get(), 14), engine->identity()->appID());
    EXPECT_EQ(ZDMPBGetInt64(metadata.get(), 17), 101300);
    EXPECT_EQ(ZDMPBGetString(metadata.get(), 40), "G1--");
    EXPECT_TRUE(ZDMPBHasField(metadata.get(), 22));
    EXPECT_FALSE(ZDMPBHasField(metadata.get(), 19));
    EXPECT_FALSE(ZDMPBHasField(metadata.get(), 20));

    handle(*engine, event("cycled"));
    onWorkerQueue(*engine, [&] {
        const auto property = ZDMUserAttribute::initWithOrigin("app", "level", ZDMValue::initWithInt64(3),
                                                               Clock::current().now());
        ASSERT_TRUE(engine->database()->updateUserAttribute(property.get()));
    });
    handle(*engine, event("cycled"));
    stored = rows();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[1].fingerprint, stored[0].fingerprint);
    EXPECT_NE(stored[2].fingerprint, stored[0].fingerprint);
    EXPECT_EQ(metadataRowCount(), 2);
    EXPECT_TRUE(loggedInOrder({23051, 23072}));
}

TEST_F(WritePath, ADisabledEngineAndTheAllowListDropEvents) {
    {
        const auto engine = makeEngine(kAppID, false);
        drain(*engine);
        ASSERT_FALSE(engine->isEnabled());
        handle(*engine, event("cycled"));
        EXPECT_EQ(countOf(23049), 1);
        EXPECT_TRUE(rows().empty());
    }
    const auto engine = startedEngine({"_s"});
    handle(*engine, event("cycled"));
    EXPECT_EQ(countOf(23174), 1);
    handle(*engine, event("_s"));
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->name(), "_s");
    EXPECT_EQ(intParameter(*events[0], "za_safelisted"), 1);
}

TEST_F(WritePath, DailyLimitsRejectAndStillCount) {
    const auto engine = startedEngine();
    setting(*engine, "measurement.upload.max_events_per_day", Value(int64_t{2}));
    for (int i = 0; i < 2; ++i) handle(*engine, event("cycled"));
    EXPECT_EQ(rows().size(), 2u);
    // The 1st rejection (count at the limit) and the 1001st (1000 over) speak; those between do not.
    onWorkerQueue(*engine, [&] {
        for (int i = 0; i < 1001; ++i) engine->writeEventOnWorkerQueue(event("cycled"));
    });
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_EQ(countOf(23055), 2);
    EXPECT_EQ(counts(*engine).allEventsCount(), 1003);
}

TEST_F(WritePath, ArraysCountPerItemAndThePublicLimitSparesTheAllEventsCount) {
    const auto engine = startedEngine();
    Value::Array items;
    for (int i = 0; i < 5; ++i) items.push_back(Value(Dictionary{{"quantity", z(i)}}));
    handle(*engine, event("view_list", Dictionary{{"items", Value(ZDMValue::initWithArray(Value(items)))}}));
    EXPECT_EQ(counts(*engine).allEventsCount(), 6);

    setting(*engine, "measurement.upload.max_public_events_per_day", Value(int64_t{6}));
    handle(*engine, event("cycled"));
    EXPECT_EQ(countOf(23057), 1);
    EXPECT_EQ(counts(*engine).allEventsCount(), 6);
    EXPECT_EQ(counts(*engine).publicEventsCount(), 7);
    const auto errors = errorEventCodes();
    EXPECT_EQ(std::ranges::count(errors, 16), 1);
    EXPECT_EQ(rows().size(), 1u);
}

TEST_F(WritePath, RealtimeIsWithdrawnOverTheLimitAndForcedInDebugMode) {
    const auto engine = startedEngine();
    onWorkerQueue(*engine, [&] {
        auto full = ZDMDailyCounts(engine->currentDayNumber(), 0, 0, 0, 0, 0);
        for (int i = 0; i < 10; ++i) full.incrementRealtimeCountsForCurrentDay(engine->currentDayNumber());
        ASSERT_TRUE(engine->database()->updateDailyCounts(&full));
    });
    handle(*engine, internalEvent("cycled", Dictionary{{"_r", z(1)}}));
    EXPECT_EQ(countOf(23060), 1);
    auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(hasParameter(*events[0], "_r"));
    EXPECT_FALSE(rows()[0].realtime);

    monitor_->setDebugModeEnabled(true);
    handle(*engine, internalEvent("cycled", Dictionary{{"_r", z(1)}}));
    handle(*engine, event("plain"));
    monitor_->setDebugModeEnabled(false);
    events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(intParameter(*events[i], "_r"), 1) << i;
        EXPECT_EQ(intParameter(*events[i], "_dbg"), 1) << i;
        EXPECT_TRUE(rows()[i].realtime) << i;
    }
    EXPECT_EQ(countOf(23073), 2);
}

TEST_F(WritePath, BlocklistedEventsAreRejectedWithoutAnErrorEventUnderAGlobalList) {
    const auto engine = startedEngine();
    setting(*engine, "measurement.upload.blacklist_public", Value(int64_t{1}));
    handle(*engine, event("cycled"));
    // Level 5 reaches the monitor's sample, not the console.
    EXPECT_EQ(lastSampledMessage(), "W:Rejected event. Event name");
    EXPECT_TRUE(errorEventCodes().empty());
    setting(*engine, "measurement.upload.blacklist_public", Value(int64_t{0}));
    setting(*engine, "measurement.upload.blacklist_internal", Value(int64_t{1}));
    handle(*engine, internalEvent("_err", Dictionary{{"_err", z(3)}}));
    EXPECT_EQ(countOf(23051), 2);
    EXPECT_EQ(countOf(23072), 0);
    EXPECT_TRUE(errorEventCodes().empty());
    EXPECT_TRUE(rows().empty());
}

TEST_F(WritePath, ABlocklistedEventLogsAnErrorEventUnlessItIsOne) {
    const auto engine = startedEngine();
    installConfiguration(*engine, {"cycled", "_err"}, false);
    handle(*engine, event("cycled"));
    EXPECT_EQ(lastSampledMessage(), "W:Rejected event. Event name");
    onWorkerQueue(*engine, [&] {
        engine->writeEventOnWorkerQueue(internalEvent("_err", Dictionary{{"_err", z(3)}}));
    });
    // The one error event is about "cycled"; the blocklisted "_err" made none.
    EXPECT_EQ(errorEventCodes(), std::vector<int64_t>{11});
    EXPECT_TRUE(rows().empty());
}

TEST_F(WritePath, EditingReplacesOrAddsEventsAndAFailureKeepsTheReceivedOne) {
    auto editor = std::make_shared<ScriptedEditor>();
    ZDMRemoteConfigEventEditing::setFactory([editor] { return editor; });
    const auto engine = startedEngine();
    installConfiguration(*engine, {}, true);
    ZDMRemoteConfigEventEditing::setFactory(nullptr);
    ASSERT_EQ(engine->remoteConfigInstance()->eventEditing(), editor);

    editor->script = [](const ZDMEvent&, ZDMRemoteConfigEventEditing::EditedEvents*, Error* error) {
        if (error) *error = Error("editing", 2, "script failed");
        return false;
    };
    handle(*engine, event("cycled", Dictionary{{"n", z(1)}}));
    EXPECT_EQ(countOf(23223), 1);

    editor->script = [](const ZDMEvent& received, ZDMRemoteConfigEventEditing::EditedEvents* edited, Error*) {
        Dictionary parameters = received.parameters();
        parameters.set("n", z(2));
        edited->editedEvent = received.copyWithParameters(parameters);
        edited->createdEvents = {ZDMEvent::initWithOrigin("fa", false, "made", received.timestamp(), 0, {})};
        return true;
    };
    handle(*engine, event("cycled", Dictionary{{"n", z(1)}}));
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(intParameter(*events[0], "n"), 1) << "stored unedited after the failure";
    EXPECT_EQ(intParameter(*events[1], "n"), 2);
    EXPECT_EQ(events[2]->name(), "made");
    EXPECT_EQ(events[2]->origin(), "fa");
}

TEST_F(WritePath, AnInactiveAppStartsASessionOnlyForExtendSessionOne) {
    const auto engine = startedEngine();
    handle(*engine,
           event("cycled", Dictionary{{"extend_session", Value(ZDMValue::initWithString(Value("yes")))}}));
    EXPECT_EQ(countOf(23179), 1);
    handle(*engine, event("cycled", Dictionary{{"extend_session", z(1)}}));
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]->name(), "cycled");
    EXPECT_EQ(events[1]->name(), "_s") << "the session starts before the event that asked for it";
    EXPECT_EQ(intParameter(*events[1], "_aib"), 1);
    EXPECT_EQ(intParameter(*events[1], "_sno"), 1);
    EXPECT_EQ(intParameter(*events[1], "_sid"), static_cast<int64_t>(events[2]->timestamp()));
    EXPECT_EQ(events[2]->name(), "cycled");
    EXPECT_FALSE(engine->sessionReporter()->isSessionExpired());
}

TEST_F(WritePath, SessionStartRolloutsAreWrittenOnceAndSubscriptionsAreDeduplicated) {
    const auto engine = startedEngine();
    engine->persistedConfig()->setZudedaroFeatureRollouts("r1");
    handle(*engine, internalEvent("_s"));
    auto ffr = [](const ZDMEvent& e) {
        const auto value = e.parameters()["_ffr"].objectAs<ZDMValue>();
        return value ? value->stringValue().value_or("") : "";
    };
    auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1]->name(), "_ssr");
    EXPECT_EQ(ffr(*events[1]), "r1");

    const auto r2 = Dictionary{{"_ffr", Value(ZDMValue::initWithString(Value("r2")))}};
    handle(*engine, internalEvent("_ssr", r2));
    EXPECT_EQ(engine->persistedConfig()->zudedaroFeatureRollouts(), "r2");
    // The duplicate's line is a verbose one.
    monitor_->setVerboseLoggingEnabled(true);
    handle(*engine, internalEvent("_ssr", r2));
    monitor_->setVerboseLoggingEnabled(false);
    EXPECT_EQ(countOf(23191), 1);
    EXPECT_EQ(storedEvents(*engine).size(), 3u) << "the repeated value is dropped";
    handle(*engine, internalEvent("_ae"));
    events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(ffr(*events[2]), "r2");
    EXPECT_EQ(events[3]->name(), "_ae");
    EXPECT_EQ(ffr(*events[3]), "r2");

    for (int i = 0; i < 2; ++i) handle(*engine, internalEvent("_assc", Dictionary{{"_did", z(7)}}));
    EXPECT_EQ(countOf(23182), 1);
    EXPECT_EQ(storedEvents(*engine).size(), 5u);
}

TEST_F(WritePath, ConditionalPropertyEventsFollowTheEventAndAFailureStillWritesIt) {
    const auto engine = startedEngine();
    bool fail = true;
    ZDMMeasurement::setConditionalPropertyProcessor(
        [&](const std::shared_ptr<ZDMEvent>&) -> std::optional<std::vector<std::shared_ptr<ZDMEvent>>> {
            if (fail) return std::nullopt;
            return std::vector<std::shared_ptr<ZDMEvent>>{internalEvent("triggered")};
        });
    handle(*engine, event("cycled"));
    EXPECT_EQ(countOf(23050), 1);
    fail = false;
    handle(*engine, event("cycled"));
    ZDMMeasurement::setConditionalPropertyProcessor(nullptr);
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2]->name(), "triggered");
}

TEST_F(WritePath, PropertiesOfAnOriginStopAtTheLimitButExistingOnesStillUpdate) {
    const auto engine = startedEngine();
    auto property = [](const std::string& name, int64_t value) {
        return ZDMUserAttribute::initWithOrigin("x", "_" + name, ZDMValue::initWithInt64(value),
                                                Clock::current().now());
    };
    std::vector<bool> stored;
    onWorkerQueue(*engine, [&] {
        for (int i = 0; i < 26; ++i)
            stored.push_back(
                engine->setUserPropertyInDatabaseOnWorkerQueue(property("p" + std::to_string(i), i)));
        stored.push_back(engine->setUserPropertyInDatabaseOnWorkerQueue(property("p0", 100)));
    });
    ASSERT_EQ(stored.size(), 27u);
    EXPECT_TRUE(stored[24]);
    EXPECT_FALSE(stored[25]) << "the 26th of the origin";
    EXPECT_TRUE(stored[26]) << "an existing property still updates";
    EXPECT_EQ(countOf(23084), 1);
    EXPECT_EQ(std::ranges::count(errorEventCodes(), 9), 1);
    int64_t updated = -1;
    onWorkerQueue(*engine,
                  [&] { updated = engine->database()->userAttributeWithName("_p0")->value()->int64Value(); });
    EXPECT_EQ(updated, 100);
}

TEST_F(WritePath, ANewUserIDDropsTheResetMarkAndTheStitchingToken) {
    const auto engine = startedEngine();
    auto text = [](const std::string& name, const std::string& value) {
        return ZDMUserAttribute::initWithOrigin("app", name, ZDMValue::initWithString(Value(value)),
                                                Clock::current().now());
    };
    struct Case {
        std::string newID;
        bool lairKept;
    };
    for (const Case& c : {Case{"u1", true}, Case{"u2", false}}) {
        bool hasLair = false;
        std::optional<std::string> before, after;
        // The same request twice gives the same token unless something reset it in between.
        auto token = [&] {
            return engine->identity()->sessionStitchingTokenWithSessionNumber(5, false, true);
        };
        onWorkerQueue(*engine, [&] {
            engine->setUserAttributeOnWorkerQueue(text("_id", "u1"));
            engine->setUserAttributeOnWorkerQueue(ZDMUserAttribute::initWithOrigin(
                "auto", "_lair", ZDMValue::initWithInt64(1), Clock::current().now()));
            before = token();
            engine->setUserAttributeOnWorkerQueue(text("_id", c.newID));
            hasLair = engine->database()->containsUserAttributeWithName("_lair").value_or(false);
            after = token();
        });
        EXPECT_EQ(hasLair, c.lairKept) << c.newID;
        ASSERT_TRUE(before && after);
        EXPECT_EQ(*before == *after, c.lairKept) << c.newID;
    }
    EXPECT_TRUE(loggedInOrder({23087}));
}

TEST_F(WritePath, AFirstOpenWithoutAdvertisingIDIsMarkedAndCounted) {
    const auto engine = startedEngine();
    struct Case {
        std::optional<std::string> stored;
        std::string after;
    };
    for (const Case& c : {Case{std::nullopt, "1"}, Case{"-4", "1"}, Case{"41", "42"},
                          Case{"9223372036854775807", "9223372036854775807"}}) {
        std::optional<std::string> after;
        onWorkerQueue(*engine, [&] {
            engine->setPreviousFirstOpenCount(c.stored);
            engine->persistedConfig()->setUnmatchedFirstOpenWithoutIDFA(false);
            engine->writeEventOnWorkerQueue(internalEvent("_f"));
            after = engine->previousFirstOpenCount();
        });
        EXPECT_EQ(after, c.after) << c.stored.value_or("none");
        EXPECT_TRUE(engine->persistedConfig()->unmatchedFirstOpenWithoutIDFA());
    }
    onWorkerQueue(*engine, [&] { engine->setPreviousFirstOpenCount(std::nullopt); });
    EXPECT_EQ(engine->previousFirstOpenCount(), std::nullopt);
}
