// The engine's write path meeting the real editor: a configuration carrying a program decides what
// lands in the raw events.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/interpreter/ZDMPConfigurationEventEditing.h"
#include "measurement/interpreter/ZDMPInterpreterErrors.h"
#include "measurement/interpreter/tests/ConfigurationPrograms.h"
#include "measurement/interpreter/tests/ProgramText.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"

using namespace interpreter_test;

namespace {

constexpr const char* kAppID = "1:123456:ios:abcdef";

class EngineEventEditing : public EngineFixture {
  protected:
    EngineEventEditing() { ZDMPInstallEventEditingFactory(); }
    ~EngineEventEditing() override { ZDMRemoteConfigEventEditing::setFactory(nullptr); }

    std::shared_ptr<ZDMMeasurement> engineWithProgram(const std::string& instructions) {
        auto engine = makeEngine(kAppID);
        forgetStartUpReports(*engine);
        EXPECT_TRUE(engine->isEnabled());
        auto config = ZDMPBMeasurementConfig::initWithBuffer(nullptr);
        ZDMPBSetString(config.get(), 1, kAppID);
        auto program = ZDMPBProgram::initWithBuffer(programBytes({instructions}));
        EXPECT_TRUE(program);
        ZDMPBSetArray(config.get(), 8, Value::Array{Value(std::static_pointer_cast<const Object>(program))});
        engine->remoteConfigInstance()->parseRemoteConfigFromMeasurementConfig(config.get());
        EXPECT_TRUE(engine->remoteConfigInstance()->eventEditing());
        return engine;
    }
    void handleCycled(ZDMMeasurement& engine) {
        auto event = ZDMEvent::initWithOrigin("app", true, "cycled", Clock::current().now(), 0,
                                              {{"value", Value(ZDMValue::initWithInt64(3))}});
        ASSERT_TRUE(event);
        onWorkerQueue(engine, [&] { engine.handleEventOnWorkerQueue(event); });
    }
    // The stored events in the order they were written, decoded from the rows of the file.
    std::vector<std::shared_ptr<ZDMEvent>> storedEvents(ZDMMeasurement& engine) {
        std::vector<int64_t> fingerprints;
        sqlite3* db = nullptr;
        sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT DISTINCT metadata_fingerprint FROM raw_events", -1, &statement,
                           nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            fingerprints.push_back(sqlite3_column_int64(statement, 0));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        std::vector<std::shared_ptr<ZDMRawEventData>> all;
        for (int64_t fingerprint : fingerprints)
            onWorkerQueue(engine, [&] {
                auto records =
                    engine.database()->rawEventsWithMetadataFingerprint(fingerprint, nullptr, nullptr);
                if (records) all.insert(all.end(), records->begin(), records->end());
            });
        std::ranges::sort(all, {}, &ZDMRawEventData::rowID);
        std::vector<std::shared_ptr<ZDMEvent>> events;
        for (const auto& record : all) events.push_back(record->rawEvent());
        return events;
    }
};

}  // namespace

TEST_F(EngineEventEditing, TheProgramsRenameAndCreatedEventAreStored) {
    const auto engine = engineWithProgram(kRenameAndCreate);
    handleCycled(*engine);
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->name(), "cycled_x");
    EXPECT_EQ(events[0]->origin(), "app");
    EXPECT_EQ(events[0]->parameters()["value"].objectAs<ZDMValue>()->int64Value(), 3);
    EXPECT_EQ(events[1]->name(), "extra");
    EXPECT_EQ(events[1]->origin(), "fa");
    EXPECT_FALSE(events[1]->isPublic());
    // A program's numbers are floating-point; "k" has no current value to keep it whole.
    const auto k = events[1]->parameters()["k"].objectAs<ZDMValue>();
    ASSERT_TRUE(k);
    EXPECT_EQ(k->doubleValue(), 1) << k->isInt64();
    EXPECT_EQ(countOf(23223), 0);
}

TEST_F(EngineEventEditing, ACallbackRecursingForeverLeavesTheEventStoredAsReceived) {
    const auto engine = engineWithProgram(kRecursingForever);
    // The editor's own answer first: the budget stops the recursion before the stack runs out.
    ZDMRemoteConfigEventEditing::EditedEvents edited;
    Error error;
    auto received = ZDMEvent::initWithOrigin("app", true, "cycled", 20, 0, {});
    EXPECT_FALSE(engine->remoteConfigInstance()->eventEditing()->editEvent(*received, &edited, &error));
    EXPECT_EQ(error.domain, kZDMPInterpreterErrorDomain);
    EXPECT_EQ(error.code, 18);

    handleCycled(*engine);
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->name(), "cycled");
    EXPECT_EQ(events[0]->parameters()["value"].objectAs<ZDMValue>()->int64Value(), 3);
    EXPECT_EQ(countOf(23223), 1);
}
