#include <sqlite3.h>

#include "measurement/audiences/conditional/ZDMConditionalPropertiesForEngine.h"
#include "measurement/audiences/conditional/ZDMConditionalUserPropertyController.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMValue.h"

namespace {
std::vector<std::string> storedNames(const std::string& path) {
    std::vector<std::string> names;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT name FROM raw_events ORDER BY rowid", -1, &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW)
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return names;
}

std::shared_ptr<ZDMEvent> appEvent(const std::string& name) {
    return ZDMEvent::initWithOrigin("app", true, name, Clock::current().now(), 0, {});
}
}  // namespace

class ConditionalThroughEngine : public EngineFixture {
  protected:
    ~ConditionalThroughEngine() override { ZDMConnectConditionalPropertiesToEngine(nullptr); }
};

TEST_F(ConditionalThroughEngine, TheTriggeredEventIsStoredAfterTheEventThatTriggeredIt) {
    const auto engine = makeEngine("1:123456:ios:abcdef");
    forgetStartUpReports(*engine);
    ZDMConnectConditionalPropertiesToEngine(engine);

    ZDMConditionalUserProperty property;
    property.setName("level");
    property.setOrigin("app");
    property.setValue(ZDMValue::initWithString(Value("gold")));
    property.setTriggerEventName("cycled");
    property.setTriggerTimeout(100);
    property.setTimeToLive(100);
    property.setTriggeredEvent(appEvent("level_on"));
    ZDMConditionalUserPropertyController::sharedInstance()->setConditionalUserProperty(&property, "level");
    drain(*engine);

    const auto cycled = appEvent("cycled");
    onWorkerQueue(*engine, [&] { engine->handleEventOnWorkerQueue(cycled); });
    EXPECT_EQ(storedNames(databasePath()), (std::vector<std::string>{"cycled", "level_on"}));
    EXPECT_EQ(countOf(23050), 0);
}
