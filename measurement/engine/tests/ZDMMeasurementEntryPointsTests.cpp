#include <chrono>
#include <future>
#include <thread>

#include "measurement/engine/tests/WritePathFixture.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OperationQueue.h"
#include "testing/Eventually.h"

namespace {
constexpr const char* kBackgroundQueue = "com.quorvane.global.background";

// Where an answer arrived and what it was.
template <class Answer>
struct Delivery {
    Answer answer{};
    std::string queueLabel;
    std::thread::id thread;
};

template <class Answer>
class Awaited {
  public:
    // The callback to hand to the engine; it records one delivery.
    std::function<void(Answer)> callback() {
        return [promise = promise_](Answer answer) {
            promise->set_value(
                {std::move(answer), DispatchQueue::currentLabel(), std::this_thread::get_id()});
        };
    }
    std::optional<Delivery<Answer>> get() {
        auto future = promise_->get_future();
        if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return std::nullopt;
        return future.get();
    }

  private:
    std::shared_ptr<std::promise<Delivery<Answer>>> promise_ =
        std::make_shared<std::promise<Delivery<Answer>>>();
};

std::string text(const ZDMEvent& event, const std::string& key) {
    const auto value = event.parameters()[key].objectAs<ZDMValue>();
    if (!value) return "<absent>";
    if (value->isString()) return value->stringValue().value_or("");
    return value->description();
}

struct Intercepted {
    std::string origin;
    std::string name;
    Dictionary parameters;
    double timestamp = 0;
};
}  // namespace

class EntryPoints : public WritePath {
  protected:
    // The facade's call, with everything the routing looks at spelled out.
    struct Call {
        std::string origin = "app";
        bool isPublic = true;
        std::string name = "cycled";
        std::optional<Dictionary> parameters = std::nullopt;
        bool enabled = true;
        bool ignoreEnabled = false;
        bool ignoreInterceptor = false;
        bool withInterceptor = false;
        Dictionary screenParameters = {};
    };
    void log(ZDMMeasurement& engine, const Call& call) {
        ZDMMeasurement::EventInterceptor interceptor;
        if (call.withInterceptor)
            interceptor = [this](const std::string& origin, const std::string& name,
                                 const Dictionary& parameters, double timestamp) {
                std::lock_guard lock(interceptedMutex_);
                intercepted_.push_back({origin, name, parameters, timestamp});
            };
        engine.logEventWithOrigin(call.origin, call.isPublic, call.name, call.parameters, kTimestamp,
                                  call.enabled, call.ignoreEnabled, call.ignoreInterceptor, interceptor,
                                  call.screenParameters);
        drain(engine);
    }
    // The facade's listeners hear what the engine announces once its held operations run.
    void listen() {
        ZDMAnalytics::unsuspendOperationQueue();
        listenerToken_ = ZDMAnalytics::addLogEventListener([this](const std::shared_ptr<ZDMEvent>& event) {
            std::lock_guard lock(interceptedMutex_);
            heard_.push_back(event->origin() + "/" + event->name());
        });
    }
    std::vector<std::string> heard() {
        ZDMAnalytics::operationQueue()->waitUntilAllOperationsAreFinished();
        ZDMAnalytics::queue()->sync([] {});
        std::lock_guard lock(interceptedMutex_);
        return heard_;
    }
    std::vector<Intercepted> intercepted() {
        std::lock_guard lock(interceptedMutex_);
        return intercepted_;
    }
    void setDefaults(ZDMMeasurement& engine, const std::optional<Dictionary>& parameters) {
        engine.setDefaultEventParameters(parameters);
        drain(engine);
    }
    std::optional<Dictionary> storedDefaults(ZDMMeasurement& engine) {
        return engine.persistedConfig()->defaultEventParameters();
    }
    std::vector<LoggedLine> linesOf(int64_t code) {
        loggedCodes();  // waits for the monitor's queue
        std::vector<LoggedLine> out;
        for (const auto& line : logger_->lines())
            if (line.code == code) out.push_back(line);
        return out;
    }
    void storeProperty(ZDMMeasurement& engine, const std::string& name,
                       std::shared_ptr<const ZDMValue> value) {
        onWorkerQueue(engine, [&] {
            const auto property =
                ZDMUserAttribute::initWithOrigin("app", name, value, Clock::current().now());
            ASSERT_TRUE(engine.database()->updateUserAttribute(property.get()));
        });
    }

    // An engine the fixture does not hold, so that the test decides when it goes.
    static std::shared_ptr<ZDMMeasurement> makeEngineOfItsOwn() {
        auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
        auto alarm = ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName);
        return ZDMMeasurement::initWithDatabaseName(
            ZDMMeasurement::kDatabaseName, ZDMPersistedConfig::sharedInstance(), nullptr,
            std::move(scheduler), std::move(alarm), kEngineTestAppID, true, false, {}, nullptr);
    }

    static constexpr double kTimestamp = 1700000000.5;

  private:
    std::mutex interceptedMutex_;
    std::vector<Intercepted> intercepted_;
    std::vector<std::string> heard_;
    std::optional<ZDMLogEventListenerToken> listenerToken_;
};

TEST_F(EntryPoints, DefaultsNilClearsAllAndAnEmptyDictionaryKeepsThem) {
    const auto engine = startedEngine();
    setDefaults(*engine, Dictionary{{"level", Value("gold")}, {"score", Value(int64_t{3})}});
    EXPECT_EQ(storedDefaults(*engine), (Dictionary{{"level", Value("gold")}, {"score", Value(int64_t{3})}}));

    setDefaults(*engine, Dictionary{});
    EXPECT_EQ(storedDefaults(*engine), (Dictionary{{"level", Value("gold")}, {"score", Value(int64_t{3})}}));

    setDefaults(*engine, std::nullopt);
    EXPECT_EQ(storedDefaults(*engine).value_or(Dictionary{{"unset", Value()}}), Dictionary{});
    EXPECT_EQ(countOf(23216), 3);
}

TEST_F(EntryPoints, DefaultsAreEditedKeyByKeyAndARefusedOneLeavesTheOthers) {
    const auto engine = startedEngine();
    setDefaults(*engine,
                Dictionary{{"level", Value("gold")}, {"score", Value(int64_t{3})}, {"ratio", Value(0.5)}});

    setDefaults(*engine, Dictionary{
                             {"level", Value()},                                  // null deletes
                             {"items", Value(Value::Array{Value(1), Value(2)})},  // error event 27, 23213
                             {"blob", Value(Data{1, 2})},                         // 23213 only
                             {"_internal", Value("x")},                           // 23214
                             {"long", Value(std::string(101, 'a'))},              // skipped silently
                             {"ratio", Value(0.75)},
                             {"mode", Value("dark")},
                         });
    EXPECT_EQ(storedDefaults(*engine),
              (Dictionary{{"score", Value(int64_t{3})}, {"ratio", Value(0.75)}, {"mode", Value("dark")}}));
    EXPECT_EQ(errorEventCodes(), std::vector<int64_t>{27});
    const auto refused = linesOf(23213);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].level, 4);
    EXPECT_NE(refused[0].message.find("Invalid key in default event parameters. Parameter ignored."),
              std::string::npos);
    const auto badName = linesOf(23214);
    ASSERT_EQ(badName.size(), 1u);
    EXPECT_NE(badName[0].message.find("_internal"), std::string::npos);
}

TEST_F(EntryPoints, ThirtyPublicDefaultsKeepTheTwentyFiveThatSortFirst) {
    const auto engine = startedEngine();
    Dictionary thirty;
    // Given in reverse, so that what is kept follows the names' order, not the call's.
    for (int i = 29; i >= 0; --i) thirty.set((i < 10 ? "p0" : "p") + std::to_string(i), Value(int64_t{i}));
    setDefaults(*engine, thirty);

    const auto stored = storedDefaults(*engine);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 25u);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(stored->contains((i < 10 ? "p0" : "p") + std::to_string(i)), i < 25) << i;
    EXPECT_EQ(errorEventCodes(), std::vector<int64_t>{26});
    const auto tooMany = linesOf(23215);
    ASSERT_EQ(tooMany.size(), 1u);
    EXPECT_EQ(tooMany[0].level, 4);
    EXPECT_TRUE(loggedInOrder({23215, 23216}));
}

TEST_F(EntryPoints, ADisabledEngineChangesNoDefaults) {
    const auto engine = makeEngine(kEngineTestAppID, false);
    drain(*engine);
    ASSERT_FALSE(engine->isEnabled());
    engine->persistedConfig()->setDefaultEventParameters(Dictionary{{"level", Value("gold")}});

    setDefaults(*engine, std::nullopt);
    setDefaults(*engine, Dictionary{{"mode", Value("dark")}});
    EXPECT_EQ(storedDefaults(*engine), (Dictionary{{"level", Value("gold")}}));
    const auto disabled = linesOf(23211);
    ASSERT_EQ(disabled.size(), 2u);
    EXPECT_EQ(disabled[0].level, 7);
    EXPECT_EQ(countOf(23216), 0);
}

TEST_F(EntryPoints, AStoredEventCarriesTheDefaultsUnderItsOwnValues) {
    const auto engine = startedEngine();
    setDefaults(*engine, Dictionary{{"level", Value("gold")}, {"mode", Value("dark")}});

    log(*engine, {.parameters = Dictionary{{"mode", Value("light")}}});
    log(*engine,
        {.origin = "auto", .isPublic = false, .name = "_err", .parameters = Dictionary{{"_err", Value(3)}}});
    log(*engine, {.name = "resized", .ignoreInterceptor = true});
    log(*engine, {.name = "switched"});  // no parameters of its own

    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0]->name(), "cycled");
    EXPECT_EQ(text(*events[0], "level"), "gold");
    EXPECT_EQ(text(*events[0], "mode"), "light");
    EXPECT_EQ(events[1]->name(), "_err");
    EXPECT_EQ(text(*events[1], "level"), "<absent>");
    EXPECT_EQ(events[2]->name(), "resized");
    EXPECT_EQ(text(*events[2], "level"), "<absent>");
    EXPECT_EQ(text(*events[3], "level"), "gold");
    EXPECT_EQ(text(*events[3], "mode"), "dark");
}

// Which road an event takes: intercepted, stored, announced to the listeners, or refused first.
TEST_F(EntryPoints, RoutingFirstMatchWins) {
    struct Case {
        const char* what;
        Call call;
        bool intercepted;
        bool stored;
        bool announced;
    };
    const std::vector<Case> cases = {
        {"public with interceptor", {.withInterceptor = true}, true, false, false},
        {"from the mobile-ads library", {.origin = "am", .withInterceptor = true}, false, true, false},
        {"ad exposure", {.origin = "auto", .isPublic = false, .name = "_xa"}, false, true, false},
        {"collection off as the facade knows it",
         {.enabled = false, .withInterceptor = true},
         false,
         true,
         false},
        {"off but processed anyway",
         {.enabled = false, .ignoreEnabled = true, .withInterceptor = true},
         true,
         false,
         false},
        {"interceptor bypassed", {.ignoreInterceptor = true, .withInterceptor = true}, false, true, true},
        {"not public",
         {.origin = "auto", .isPublic = false, .name = "_cmp", .withInterceptor = true},
         false,
         true,
         true},
        {"no interceptor", {}, false, true, true},
        {"refused name", {.name = "_reserved", .withInterceptor = true}, false, false, false},
    };
    const auto engine = startedEngine();
    listen();
    size_t storedSoFar = 0;
    size_t interceptedSoFar = 0;
    size_t heardSoFar = 0;
    for (const auto& c : cases) {
        log(*engine, c.call);
        const size_t stored = rows().size();
        const size_t interceptions = intercepted().size();
        const auto announced = heard();
        EXPECT_EQ(stored - storedSoFar, c.stored ? 1u : 0u) << c.what;
        EXPECT_EQ(interceptions - interceptedSoFar, c.intercepted ? 1u : 0u) << c.what;
        ASSERT_EQ(announced.size() - heardSoFar, c.announced ? 1u : 0u) << c.what;
        if (c.announced) {
            EXPECT_EQ(announced.back(), c.call.origin + "/" + c.call.name) << c.what;
        }
        storedSoFar = stored;
        interceptedSoFar = interceptions;
        heardSoFar = announced.size();
    }
    const auto refused = linesOf(23219);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].level, 1);
    EXPECT_NE(refused[0].message.find("Attempted to log nil event. Origin, name, parameters"),
              std::string::npos);
}

TEST_F(EntryPoints, TheInterceptorAloneGetsTheEventWithDefaultsAndScreenParametersMerged) {
    const auto engine = startedEngine();
    setDefaults(*engine, Dictionary{{"level", Value("gold")}});
    const Dictionary screen{
        {"_si", Value(int64_t{7})}, {"_sc", Value("Preferences")}, {"_sn", Value("Spaces")}};

    log(*engine, {.parameters = Dictionary{{"mode", Value("light")}},
                  .withInterceptor = true,
                  .screenParameters = screen});
    const auto calls = intercepted();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].origin, "app");
    EXPECT_EQ(calls[0].name, "cycled");
    EXPECT_EQ(calls[0].timestamp, kTimestamp);
    EXPECT_EQ(calls[0].parameters, (Dictionary{{"level", Value("gold")},
                                               {"mode", Value("light")},
                                               {"_si", Value(int64_t{7})},
                                               {"_sc", Value("Preferences")},
                                               {"_sn", Value("Spaces")}}));
    EXPECT_TRUE(rows().empty());

    // Without an interceptor the same screen parameters end up on the stored event.
    log(*engine, {.screenParameters = screen});
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(text(*events[0], "_si"), "7");
    EXPECT_EQ(text(*events[0], "_sn"), "Spaces");
}

TEST_F(EntryPoints, CallerThreadRefusalsAreReportedAtOnce) {
    const auto engine = startedEngine();
    struct Case {
        int64_t code;
        int64_t level;
        const char* message;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {23048, 4, "Attempted to log nil event", [&] { engine->logEvent(nullptr); }},
        {23074, 3, "Attempted to remove nil user property", [&] { engine->removeUserAttribute(nullptr); }},
        {23079, 3, "Attempted to set nil user property", [&] { engine->setUserAttribute(nullptr); }},
        {23088, 0, "userAttributeWithName callback is nil",
         [&] { engine->userAttributeWithName("level", nullptr); }},
        {23090, 0, "Unable to retrieve user properties. Callback is nil",
         [&] { engine->userPropertiesIncludingInternal(true, nullptr); }},
        {23093, 0, "Origin for querying MaxUserProperties cannot be nil",
         [&] { engine->maxUserPropertiesForOrigin("", [](int64_t) {}); }},
        {23094, 0, "MaxUserProperties callback cannot be nil. Origin",
         [&] { engine->maxUserPropertiesForOrigin("x", nullptr); }},
    };
    for (const auto& c : cases) {
        c.call();
        const auto lines = linesOf(c.code);
        ASSERT_EQ(lines.size(), 1u) << c.code;
        EXPECT_EQ(lines[0].level, c.level) << c.code;
        EXPECT_NE(lines[0].message.find(c.message), std::string::npos) << c.code << ": " << lines[0].message;
    }
}

TEST_F(EntryPoints, CallbacksArriveOnTheBackgroundGlobalQueue) {
    const auto engine = startedEngine();
    storeProperty(*engine, "level", ZDMValue::initWithString(Value("gold")));
    storeProperty(*engine, "ratio", ZDMValue::initWithDouble(0.25));
    storeProperty(*engine, "score", ZDMValue::initWithInt64(3));
    storeProperty(*engine, "_fot", ZDMValue::initWithInt64(1700002800000));
    std::thread::id workerThread;
    onWorkerQueue(*engine, [&] { workerThread = std::this_thread::get_id(); });

    Awaited<std::shared_ptr<ZDMUserAttribute>> byName;
    engine->userAttributeWithName("level", byName.callback());
    Awaited<Dictionary> publicOnly;
    engine->userPropertiesIncludingInternal(false, publicOnly.callback());
    Awaited<Dictionary> all;
    engine->userPropertiesIncludingInternal(true, all.callback());
    Awaited<int64_t> limit;
    engine->maxUserPropertiesForOrigin("x", limit.callback());

    const auto attribute = byName.get();
    ASSERT_TRUE(attribute && attribute->answer);
    EXPECT_EQ(attribute->answer->value()->stringValue(), "gold");
    const auto publicProperties = publicOnly.get();
    ASSERT_TRUE(publicProperties);
    EXPECT_EQ(publicProperties->answer,
              (Dictionary{{"level", Value("gold")}, {"ratio", Value(0.25)}, {"score", Value(int64_t{3})}}));
    const auto allProperties = all.get();
    ASSERT_TRUE(allProperties);
    EXPECT_EQ(allProperties->answer["_fot"], Value(int64_t{1700002800000}));
    const auto answeredLimit = limit.get();
    ASSERT_TRUE(answeredLimit);
    EXPECT_EQ(answeredLimit->answer, 25);

    for (const auto& [label, thread] : {std::pair{attribute->queueLabel, attribute->thread},
                                        std::pair{publicProperties->queueLabel, publicProperties->thread},
                                        std::pair{allProperties->queueLabel, allProperties->thread},
                                        std::pair{answeredLimit->queueLabel, answeredLimit->thread}}) {
        EXPECT_EQ(label, kBackgroundQueue);
        EXPECT_NE(thread, std::this_thread::get_id());
        EXPECT_NE(thread, workerThread);
    }
}

TEST_F(EntryPoints, AFailedQueryStillAnswersOnTheBackgroundGlobalQueue) {
    const auto engine = startedEngine();
    storeProperty(*engine, "level", ZDMValue::initWithString(Value("gold")));
    RawFile(databasePath()).exec("DROP TABLE user_attributes");

    Awaited<std::shared_ptr<ZDMUserAttribute>> byName;
    engine->userAttributeWithName("level", byName.callback());
    Awaited<Dictionary> all;
    engine->userPropertiesIncludingInternal(true, all.callback());

    const auto attribute = byName.get();
    ASSERT_TRUE(attribute);
    EXPECT_EQ(attribute->answer, nullptr);
    EXPECT_EQ(attribute->queueLabel, kBackgroundQueue);
    const auto properties = all.get();
    ASSERT_TRUE(properties);
    EXPECT_TRUE(properties->answer.empty());
    EXPECT_EQ(properties->queueLabel, kBackgroundQueue);
    ASSERT_EQ(linesOf(23089).size(), 1u);
    EXPECT_EQ(linesOf(23089)[0].level, 1);
    ASSERT_EQ(linesOf(23091).size(), 1u);
    EXPECT_EQ(linesOf(23091)[0].level, 1);
}

TEST_F(EntryPoints, TheLimitIsNeverAnsweredForAnEmptyOrigin) {
    const auto engine = startedEngine();
    auto called = std::make_shared<std::atomic<bool>>(false);
    auto sentinel = std::make_shared<int>(0);
    std::weak_ptr<int> watch = sentinel;
    engine->maxUserPropertiesForOrigin("",
                                       [called, sentinel = std::move(sentinel)](int64_t) { *called = true; });
    // The callback was let go of at once, never handed to a queue.
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(*called);
    EXPECT_EQ(countOf(23093), 1);
}

// Only the event call keeps the engine alive until its block has run; every other block, and the
// callback it carries, is dropped once the engine is gone.
TEST_F(EntryPoints, OnlyTheEventBlockOutlivesTheEngine) {
    auto engine = makeEngineOfItsOwn();
    forgetStartUpReports(*engine);
    ASSERT_TRUE(engine->isEnabled());
    const auto scheduler = engine->scheduler();
    std::promise<void> gate;
    scheduler->scheduleOnWorkerQueueBlockID("test",
                                            [waitFor = gate.get_future().share()] { waitFor.wait(); });

    // Queued first: its block lets the engine go once it has run, before the blocks behind it.
    engine->logEventWithOrigin("app", true, "cycled", std::nullopt, kTimestamp, true, false, false, nullptr,
                               {});
    auto called = std::make_shared<std::atomic<int>>(0);
    auto sentinel = std::make_shared<int>(0);
    std::weak_ptr<int> watch = sentinel;
    engine->userAttributeWithName("level",
                                  [called, sentinel](std::shared_ptr<ZDMUserAttribute>) { ++*called; });
    engine->userPropertiesIncludingInternal(true, [called, sentinel](const Dictionary&) { ++*called; });
    sentinel.reset();
    engine->setDefaultEventParameters(Dictionary{{"level", Value("gold")}});
    engine.reset();
    gate.set_value();

    for (int round = 0; round < 3; ++round) scheduler->dispatchSyncOnWorkerQueueBlockID("test", [] {});
    EXPECT_TRUE(eventually([&] { return watch.expired(); }));
    EXPECT_EQ(*called, 0);
    EXPECT_FALSE(ZDMPersistedConfig::sharedInstance()->defaultEventParameters());
    const auto stored = rows();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "cycled");
}
