// Conditional user properties on a real database file, a real worker queue and the manual clock. The
// engine is a small stand-in that records each event it is handed, together with what a separate
// connection to the file sees at that moment: an event handed over inside an open transaction would
// see the file as it was before.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "measurement/audiences/conditional/ZDMConditionalUserPropertyController.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "testing/Eventually.h"

namespace {

using Events = ZDMConditionalUserPropertyController::Events;

// The manual clock's start, so that the file's times read as offsets from it.
constexpr double kStart = 1767225600.0;

struct Written {
    std::string name;
    std::string origin;
    double timestamp;
    bool isPublic;
    // "name|active" and "name|value|set time offset" rows of the file when the event arrived.
    std::vector<std::string> records;
    std::vector<std::string> userProperties;
};

std::vector<std::string> recordRows(RawFile& file) {
    return file.rows("SELECT name, active FROM conditional_properties ORDER BY name");
}
std::vector<std::string> userPropertyRows(RawFile& file) {
    return file.rows("SELECT name, value, set_timestamp - " + std::to_string(int64_t(kStart)) +
                     " FROM user_attributes ORDER BY name");
}

class TestEngine : public ZDMConditionalUserPropertyEngine {
  public:
    TestEngine(ZDMDatabase* database, std::string path) : database_(database), path_(std::move(path)) {}

    bool isEnabled() const override { return enabled; }
    ZDMDatabase* database() override { return database_; }
    ZDMScheduler& scheduler() override { return scheduler_; }
    void writeEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) override {
        RawFile file(path_);
        Written written{event->name(),     event->origin(),  event->timestamp(),
                        event->isPublic(), recordRows(file), userPropertyRows(file)};
        std::lock_guard lock(mutex_);
        written_.push_back(std::move(written));
    }
    std::vector<Written> written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    std::vector<std::string> writtenNames() const {
        std::vector<std::string> names;
        for (const auto& event : written()) names.push_back(event.name);
        return names;
    }

    std::atomic<bool> enabled{true};

  private:
    ZDMDatabase* database_;
    std::string path_;
    ZDMScheduler scheduler_{"test.conditional.worker"};
    mutable std::mutex mutex_;
    std::vector<Written> written_;
};

std::shared_ptr<const ZDMValue> text(const std::string& value) {
    return ZDMValue::initWithString(Value(value));
}

std::shared_ptr<ZDMEvent> storedEvent(const std::string& name) {
    return ZDMEvent::initWithOrigin("app", true, name, 1, 0, Dictionary{{"level", Value(int64_t{3})}});
}

// A record as a caller fills it: events named after the property, "<name>_on", "_late", "_gone".
ZDMConditionalUserProperty record(const std::string& name, const std::string& value,
                                  const std::string& trigger = "", double timeout = 100,
                                  double timeToLive = 100) {
    ZDMConditionalUserProperty property;
    property.setName(name);
    property.setOrigin("app");
    if (!value.empty()) property.setValue(text(value));
    property.setTriggerEventName(trigger);
    property.setTriggerTimeout(timeout);
    property.setTimeToLive(timeToLive);
    property.setTriggeredEvent(storedEvent(name + "_on"));
    property.setTimedOutEvent(storedEvent(name + "_late"));
    property.setExpiredEvent(storedEvent(name + "_gone"));
    return property;
}

class Conditional : public Database {
  protected:
    Conditional() {
        // The debug lines (record written, user property updated) show what was done.
        ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
        controller_->setEngine(engine_);
    }

    // Runs `work` on the worker queue and waits for it, and with it for everything queued before.
    template <class Work>
    void onWorker(Work work) {
        engine_->scheduler().dispatchSyncOnWorkerQueueBlockID("test", [&] { work(); });
    }
    void drain() {
        onWorker([] {});
    }
    void set(const ZDMConditionalUserProperty& property) {
        controller_->setConditionalUserProperty(&property, property.name());
        drain();
    }
    std::optional<Events> process(const std::string& eventName) {
        std::optional<Events> triggered;
        onWorker([&] {
            triggered = controller_->processEventOnWorkerQueue(
                ZDMEvent::initWithOrigin("app", true, eventName, clock_->now(), 0, {}));
        });
        return triggered;
    }
    std::vector<std::string> records() { return recordRows(file_); }
    std::vector<std::string> userProperties() { return userPropertyRows(file_); }
    size_t count(int64_t code) { return messagesOf(code).size(); }

    std::unique_ptr<ZDMDatabase> database_ = open();
    RawFile file_{path()};
    std::shared_ptr<TestEngine> engine_ = std::make_shared<TestEngine>(database_.get(), path());
    std::shared_ptr<ZDMConditionalUserPropertyController> controller_ =
        std::make_shared<ZDMConditionalUserPropertyController>();
};

TEST_F(Conditional, RecordsOutsideTheLimitsAreRefusedAndNotScheduled) {
    struct Case {
        const char* label;
        void (*change)(ZDMConditionalUserProperty&);
        bool accepted;
        int64_t code;  // 11000 or 11001; 0 when only the validator logs
    };
    const Case cases[] = {
        {"timeout 0.001", [](auto& p) { p.setTriggerTimeout(0.001); }, true, 0},
        {"timeout 180 days", [](auto& p) { p.setTriggerTimeout(15552000); }, true, 0},
        {"time to live 0.001", [](auto& p) { p.setTimeToLive(0.001); }, true, 0},
        {"time to live 180 days", [](auto& p) { p.setTimeToLive(15552000); }, true, 0},
        {"timeout 0.0009", [](auto& p) { p.setTriggerTimeout(0.0009); }, false, 11000},
        {"timeout 180 days + 1 s", [](auto& p) { p.setTriggerTimeout(15552001); }, false, 11000},
        {"time to live 0.0009", [](auto& p) { p.setTimeToLive(0.0009); }, false, 11001},
        {"time to live 180 days + 1 s", [](auto& p) { p.setTimeToLive(15552001); }, false, 11001},
        {"origin of 33", [](auto& p) { p.setOrigin(std::string(33, 'o')); }, false, 0},
        {"value of 37", [](auto& p) { p.setValue(text(std::string(37, 'v'))); }, false, 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ZDMConditionalUserProperty property = record("p" + std::to_string(index++), "on", "go");
        c.change(property);
        const size_t before = records().size();
        EXPECT_EQ(ZDMIsValidConditionalUserProperty(&property), c.accepted);
        set(property);
        EXPECT_EQ(records().size(), before + (c.accepted ? 1 : 0));
        if (c.code == 11000) {
            EXPECT_EQ(lastSampledMessage(), "E:Invalid conditional user property trigger timeout");
        } else if (c.code == 11001) {
            EXPECT_EQ(lastSampledMessage(), "E:Invalid conditional user property time to live");
        }
    }
    // The name is the argument's, not the record's.
    ZDMConditionalUserProperty property = record("ok", "on", "go");
    controller_->setConditionalUserProperty(&property, std::string(25, 'n'));
    drain();
    EXPECT_EQ(records().size(), size_t(4));
    controller_->setConditionalUserProperty(nullptr, "ok");
    EXPECT_EQ(lastSampledMessage(), "E:Cannot set nil conditional user property");
}

TEST_F(Conditional, ARecordWithoutTriggerComesIntoForceAtOnceAndLogsAfterTheCommit) {
    clock_->advance(7);
    set(record("color", "blue"));
    EXPECT_EQ(records(), std::vector<std::string>{"color|1"});
    EXPECT_EQ(userProperties(), std::vector<std::string>{"color|blue|7.0"});
    const auto written = engine_->written();
    ASSERT_EQ(written.size(), size_t(1));
    EXPECT_EQ(written[0].name, "color_on");
    EXPECT_EQ(written[0].origin, "app");
    EXPECT_EQ(written[0].timestamp, kStart + 7);
    EXPECT_FALSE(written[0].isPublic);
    EXPECT_EQ(written[0].records, std::vector<std::string>{"color|1"}) << "written before the commit";
    EXPECT_EQ(written[0].userProperties, std::vector<std::string>{"color|blue|7.0"});
}

TEST_F(Conditional, ANilValueRemovesTheStoredRecordAndLogsTheClearEvent) {
    set(record("color", "blue", "go"));
    clock_->advance(3);
    ZDMConditionalUserProperty removal = record("color", "");
    removal.setOrigin("other");
    removal.setExpiredEvent(storedEvent("color_cleared"));
    set(removal);
    EXPECT_TRUE(records().empty());
    const auto written = engine_->written();
    ASSERT_EQ(written.size(), size_t(1));
    EXPECT_EQ(written[0].name, "color_cleared");
    EXPECT_EQ(written[0].origin, "app") << "the stored record's origin";
    EXPECT_EQ(written[0].timestamp, kStart + 3);
    EXPECT_TRUE(written[0].records.empty());
}

TEST_F(Conditional, ClearingRemovesWhatTheRecordsStateHolds) {
    struct Case {
        const char* label;
        const char* trigger;  // nullptr: nothing stored
        std::vector<std::string> userPropertiesAfter;
        std::vector<std::string> written;
    };
    // A user property of the same name that a pending record does not own stays.
    const Case cases[] = {
        {"pending", "go", {"color|mine|0.0"}, {"cleared"}},
        {"active", "", {}, {"color_on", "cleared"}},
        {"unknown", nullptr, {"color|mine|0.0"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        file_.exec("DELETE FROM conditional_properties; DELETE FROM user_attributes;");
        engine_ = std::make_shared<TestEngine>(database_.get(), path());
        controller_->setEngine(engine_);
        onWorker([&] {
            database_->updateUserAttribute(
                ZDMUserAttribute::initWithOrigin("app", "color", text("mine"), kStart).get());
        });
        if (c.trigger) set(record("color", "blue", c.trigger));
        const size_t missing = count(11018);
        controller_->clearConditionalUserPropertyWithClearEvent(storedEvent("cleared"), "color");
        drain();
        EXPECT_TRUE(records().empty());
        EXPECT_EQ(userProperties(), c.userPropertiesAfter);
        EXPECT_EQ(engine_->writtenNames(), c.written);
        EXPECT_EQ(count(11018), missing + (c.trigger ? 0 : 1));
    }
}

TEST_F(Conditional, TheTriggerActivatesUpToTheTimeOutAndAfterItTheRecordTimesOut) {
    struct Case {
        double after;
        std::vector<std::string> returned;
        std::vector<std::string> records;
        std::vector<std::string> userProperties;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {100, {"color_on"}, {"color|1"}, {"color|blue|100.0"}, {}},
        {101, {}, {}, {}, {"color_late"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        file_.exec("DELETE FROM conditional_properties; DELETE FROM user_attributes;");
        engine_ = std::make_shared<TestEngine>(database_.get(), path());
        controller_->setEngine(engine_);
        const double created = clock_->now();
        set(record("color", "blue", "go", 100));
        clock_->advance(c.after);
        const auto triggered = process("go");
        ASSERT_TRUE(triggered);
        std::vector<std::string> returned;
        for (const auto& event : *triggered) {
            returned.push_back(event->name());
            EXPECT_EQ(event->timestamp(), created + c.after);
            EXPECT_FALSE(event->isPublic());
        }
        EXPECT_EQ(returned, c.returned);
        EXPECT_EQ(records(), c.records);
        file_.exec("UPDATE user_attributes SET set_timestamp = set_timestamp - " +
                   std::to_string(created - kStart));
        EXPECT_EQ(userProperties(), c.userProperties);
        EXPECT_EQ(engine_->writtenNames(), c.written);
    }
}

TEST_F(Conditional, AnExpiredRecordLosesItsUserPropertyAndRow) {
    set(record("color", "blue", "", 100, 50));
    clock_->advance(50);
    EXPECT_EQ(process("other"), Events{});
    EXPECT_EQ(records(), std::vector<std::string>{"color|1"}) << "exactly the time to live is still alive";
    clock_->advance(1);
    EXPECT_EQ(process("other"), Events{});
    EXPECT_TRUE(records().empty());
    EXPECT_TRUE(userProperties().empty());
    const auto written = engine_->written();
    ASSERT_EQ(written.size(), size_t(2));
    EXPECT_EQ(written[1].name, "color_gone");
    EXPECT_EQ(written[1].timestamp, kStart + 51);
    EXPECT_TRUE(written[1].records.empty()) << "written after the commit";
}

TEST_F(Conditional, AFailedActivationRollsBackTheRemovalsOfTheSameEvent) {
    set(record("late", "1", "never", 10));
    set(record("old", "2", "", 100, 10));
    set(record("wait", "3", "go", 1000));
    const auto recordsBefore = records();
    const auto userPropertiesBefore = userProperties();
    ASSERT_EQ(recordsBefore, (std::vector<std::string>{"late|0", "old|1", "wait|0"}));
    const auto writtenBefore = engine_->writtenNames();
    clock_->advance(20);
    file_.exec(
        "CREATE TRIGGER refuse_activation BEFORE INSERT ON conditional_properties WHEN NEW.active = 1 "
        "BEGIN SELECT RAISE(ABORT, 'injected'); END");
    EXPECT_FALSE(process("go"));
    EXPECT_EQ(count(10011), size_t(1));
    EXPECT_EQ(records(), recordsBefore);
    EXPECT_EQ(userProperties(), userPropertiesBefore);
    EXPECT_EQ(engine_->writtenNames(), writtenBefore);

    file_.exec("DROP TRIGGER refuse_activation");
    ASSERT_TRUE(process("go"));
    EXPECT_EQ(records(), std::vector<std::string>{"wait|1"});
    EXPECT_EQ(engine_->writtenNames(), (std::vector<std::string>{"old_on", "late_late", "old_gone"}));
}

TEST_F(Conditional, AQueryOnTheWorkerQueueAnswersAtOnce) {
    set(record("color", "blue", "go"));
    set(record("size", "big", "go"));
    std::optional<ZDMConditionalUserPropertyController::Properties> onQueue;
    onWorker([&] { onQueue = controller_->conditionalUserPropertiesWithNamePrefix(Value("co"), Value()); });
    ASSERT_TRUE(onQueue);
    ASSERT_EQ(onQueue->size(), size_t(1));
    EXPECT_EQ((*onQueue)[0]->name(), "color");
    const auto offQueue = controller_->conditionalUserPropertiesWithNamePrefix(Value(), Value("app"));
    ASSERT_TRUE(offQueue);
    EXPECT_EQ(offQueue->size(), size_t(2));
    EXPECT_EQ(clock_->now(), kStart);
}

TEST_F(Conditional, AnAnswerAfterTheWaitGaveUpIsDroppedSafely) {
    set(record("color", "blue", "go"));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    engine_->scheduler().scheduleOnWorkerQueueBlockID("hold", [released] { released.wait(); });
    std::optional<ZDMConditionalUserPropertyController::Properties> answer{
        ZDMConditionalUserPropertyController::Properties{}};
    const size_t timers = clock_->pendingTimers();
    std::thread caller(
        [&] { answer = controller_->conditionalUserPropertiesWithNamePrefix(Value(), Value()); });
    EXPECT_TRUE(eventually([&] { return clock_->pendingTimers() == timers + 1; }));
    clock_->advance(ZDMConditionalUserPropertyController::kQueryTimeout);
    caller.join();
    EXPECT_FALSE(answer);
    release.set_value();
    drain();
    EXPECT_EQ(count(11006), size_t(0));
}

TEST_F(Conditional, AFailedRecordWriteLeavesNoUserPropertyAndNoEvent) {
    file_.exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
        "INSERT INTO conditional_properties (name, origin, value, creation_timestamp, active, "
        "trigger_timeout, "
        "triggered_timestamp, time_to_live, trigger_event_name) "
        "SELECT 'full' || i, 'app', 'x', " +
        std::to_string(kStart) + ", 0, 1000, 0, 100, 'go' FROM n");
    set(record("color", "blue"));
    EXPECT_EQ(count(11014), size_t(1));
    EXPECT_EQ(count(11013), size_t(0));
    EXPECT_TRUE(userProperties().empty());
    EXPECT_TRUE(engine_->written().empty());
    EXPECT_EQ(file_.rows("SELECT count(*) FROM conditional_properties"), std::vector<std::string>{"1000"});
}

TEST_F(Conditional, ResettingAnActiveRecordRewritesItsUserPropertyAndKeepsTheActivation) {
    set(record("color", "blue"));
    clock_->advance(50);
    ZDMConditionalUserProperty again = record("color", "red", "later", 200, 300);
    set(again);
    EXPECT_EQ(userProperties(), std::vector<std::string>{"color|red|0.0"});
    EXPECT_EQ(file_.rows("SELECT active, triggered_timestamp - creation_timestamp, trigger_event_name, "
                         "trigger_timeout, time_to_live FROM conditional_properties"),
              std::vector<std::string>{"1|0.0|NULL|100.0|300.0"});
    EXPECT_EQ(engine_->writtenNames(), std::vector<std::string>{"color_on"});
}

TEST_F(Conditional, DisabledMeasurementAndMissingInputAreLoggedAndChangeNothing) {
    set(record("color", "blue", "go"));
    engine_->enabled = false;
    set(record("size", "big"));
    controller_->clearConditionalUserPropertyWithClearEvent(nullptr, "color");
    drain();
    EXPECT_FALSE(controller_->conditionalUserPropertiesWithNamePrefix(Value(), Value()));
    for (int64_t code : {11007, 11015, 11005}) EXPECT_EQ(count(code), size_t(1)) << code;
    engine_->enabled = true;

    // Level-2 refusals reach the monitor's sample rather than the console.
    struct Case {
        std::function<void()> call;
        const char* sampled;
    };
    const Case cases[] = {
        {[&] {
             EXPECT_FALSE(controller_->conditionalUserPropertiesWithNamePrefix(Value(int64_t{1}), Value()));
         },
         "E:Cannot query for conditional user properties. Name prefix is not a string. Class"},
        {[&] { EXPECT_FALSE(controller_->conditionalUserPropertiesWithNamePrefix(Value(), Value(true))); },
         "E:Cannot query for conditional user properties. Origin is not a string. Class"},
        {[&] { onWorker([&] { controller_->setConditionalUserPropertyOnWorkerQueue(nullptr); }); },
         "E:Cannot set nil conditional user property on worker queue"},
        {[&] { onWorker([&] { EXPECT_FALSE(controller_->processEventOnWorkerQueue(nullptr)); }); },
         "E:Cannot process nil event for conditional user property"},
    };
    for (const Case& c : cases) {
        c.call();
        EXPECT_EQ(lastSampledMessage(), c.sampled);
    }
    onWorker([&] { controller_->removeConditionalUserPropertyOnWorkerQueue(nullptr); });
    EXPECT_EQ(count(11016), size_t(1));
    EXPECT_EQ(records(), std::vector<std::string>{"color|0"});
    EXPECT_TRUE(engine_->written().empty());
}

}  // namespace

// The connector's names for the record and the controller are the same classes.
TEST(ConditionalGlue, ConnectorClassesAreThinSubclasses) {
    static_assert(
        std::is_base_of_v<ZDMConditionalUserPropertyController, ZUDAConditionalUserPropertyController>);
    static_assert(std::is_base_of_v<ZDMConditionalUserProperty, ZUDAConditionalUserProperty>);
    ZUDAConditionalUserProperty property;
    property.setName("layout");
    EXPECT_EQ(property.name(), "layout");
}
