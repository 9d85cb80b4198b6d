// The connector other components reach the analytics library through: what it lets through to a
// real engine, what it answers, and what its listeners hear, on the manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "measurement/engine/VUZArezivodoConnector.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/tests/FacadeFixture.h"
#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/zudedaro/ZUDApp.h"
#include "platform/zudedaro/ZUDComponentContainer.h"

namespace {
Value measured(std::shared_ptr<const ZDMValue> value) {
    return Value(Value::ObjectPtr(std::move(value)));
}

struct Heard {
    std::string listener;
    std::string name;
    Dictionary parameters;
    bool onMainThread;
};

// A component's listener: records what it hears, on which thread.
class RecordingListener : public VUZArezivodoInteropListener {
  public:
    RecordingListener(std::string label, std::vector<Heard>& heard, std::mutex& mutex)
        : label_(std::move(label)), heard_(heard), mutex_(mutex) {}
    void messageTriggered(const std::string& name, const Dictionary& parameters) override {
        std::lock_guard lock(mutex_);
        heard_.push_back({label_, name, parameters, DispatchQueue::isMainThread()});
    }

  private:
    std::string label_;
    std::vector<Heard>& heard_;
    std::mutex& mutex_;
};

class Connector : public FacadeFixture {
  protected:
    void SetUp() override { startFacade(); }
    ~Connector() override { VUZArezivodoConnector::installConditionalUserPropertyRequests({}); }

    // The stored events, each as name -> plain parameters.
    std::vector<std::pair<std::string, Dictionary>> stored() {
        std::vector<std::pair<std::string, Dictionary>> out;
        for (const auto& event : storedEvents())
            out.emplace_back(event->name(), VUZArezivodoConnector::simplifiedParametersFromEventParameters(
                                                event->parameters()));
        return out;
    }
    std::shared_ptr<RecordingListener> listener(const std::string& label) {
        return std::make_shared<RecordingListener>(label, heard_, heardMutex_);
    }
    std::vector<Heard> heard() {
        std::lock_guard lock(heardMutex_);
        return heard_;
    }
    // Hands `events` to the facade's listeners as the engine does, then waits until they were told.
    void announce(const std::vector<std::shared_ptr<ZDMEvent>>& events) {
        for (const auto& event : events) ZDMAnalytics::notifyEventListeners(event);
        settle();
        VUZArezivodoConnector::connectorQueue()->sync([] {});
        RunLoop::runUntilIdle();
    }
    static size_t facadeListenerCount() {
        settle();
        size_t count = 0;
        ZDMAnalytics::queue()->sync([&] {
            const auto& listeners = ZDMAnalyticsCurrentState()->listeners;
            count = listeners ? listeners->size() : 0;
        });
        return count;
    }
    static std::shared_ptr<ZDMEvent> event(const std::string& origin, const std::string& name,
                                           const Dictionary& parameters = {}) {
        return ZDMEvent::initWithOrigin(origin, false, name, 1767225600, 0, parameters);
    }

    const std::shared_ptr<VUZArezivodoConnector> connector_ = std::make_shared<VUZArezivodoConnector>();
    std::mutex heardMutex_;
    std::vector<Heard> heard_;
};

TEST_F(Connector, ComponentEventsAreFilteredByOriginNameAndParametersAndMarked) {
    connector_->logEventWithOrigin("zcm", "_cmp", std::nullopt);
    for (const char* origin : {"app", "auto", "am"})
        connector_->logEventWithOrigin(origin, "_cmp", std::nullopt);
    for (const char* name : {"_e", "_s", "_iap"}) connector_->logEventWithOrigin("crash", name, Dictionary{});
    connector_->logEventWithOrigin("crash", "_debugged", Dictionary{{"_dbg", 1}});
    connector_->logEventWithOrigin("crash", "_realtime", Dictionary{{"_r", 1}});
    connector_->logEventWithOrigin("zlx", "_ae", Dictionary{{"k", "v"}});
    connector_->logEventWithOrigin("zdl", "_cmp", Dictionary{{"source", "link"}});
    connector_->logEventWithOrigin("crash", "_cmp", std::nullopt);

    const auto events = stored();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].first, "_cmp");
    EXPECT_EQ(events[0].second, (Dictionary{{"_o", "zcm"}, {"_cis", "fcm_integration"}}));
    EXPECT_EQ(events[1].first, "_ae");
    EXPECT_EQ(events[1].second["_r"], Value(1));
    EXPECT_EQ(events[1].second["k"], Value("v"));
    EXPECT_EQ(events[2].second["_cis"], Value("fdl_integration"));
    EXPECT_EQ(events[2].second["source"], Value("link"));
    EXPECT_FALSE(events[3].second.contains("_cis")) << "only the core library's own origins are marked";
}

TEST_F(Connector, ComponentPropertiesAreFilteredByNameAndOrigin) {
    struct Case {
        const char* origin;
        const char* name;
        bool stored;
    } const cases[] = {
        {"zcm", "_ln", true},         {"ziam", "_ln", true},   {"crash", "_ln", false},
        {"crash", "_ltv_USD", false}, {"zcm", "_cc3", false},  {"crash", "_cc6", true},
        {"crash", "_ltv_usd", true},  {"app", "level", false}, {"crash", "_id", false},
    };
    for (const auto& c : cases) {
        connector_->setUserPropertyWithOrigin(c.origin, c.name, Value("v"));
        const auto properties = storedProperties();
        EXPECT_EQ(properties.contains(c.name), c.stored) << c.origin << " " << c.name;
        if (c.stored) {
            EXPECT_EQ(properties.at(c.name).origin, c.origin);
        }
        ZDMAnalytics::removeInternalUserAttributeForName(c.name);
    }
}

TEST_F(Connector, ThePropertiesAnswerKeepsFirstOpenTimeAndThePublicOnes) {
    ZDMAnalytics::setInternalUserProperty(Value(1767225600000), "_fot", "auto");
    ZDMAnalytics::setInternalUserProperty(Value("x"), "_ln", "zcm");
    ZDMAnalytics::setUserPropertyString(Value("red"), "color");
    settle();
    std::promise<std::pair<Dictionary, std::string>> answered;
    connector_->getUserPropertiesWithCallback([&](const Dictionary& properties) {
        answered.set_value({properties, DispatchQueue::currentLabel()});
    });
    auto answer = answered.get_future();
    ASSERT_EQ(answer.wait_for(kTestPatience), std::future_status::ready);
    const auto [properties, queue] = answer.get();
    EXPECT_EQ(properties, (Dictionary{{"_fot", 1767225600000}, {"color", "red"}}));
    EXPECT_EQ(queue, VUZArezivodoConnector::connectorQueue()->label());
}

TEST_F(Connector, TheLimitIsTheEnginesOrZeroAfterTenSecondsOfClock) {
    EXPECT_EQ(connector_->maxUserProperties("crash"), 25);

    ZDMAnalytics::resetForTesting();  // a facade that never starts never answers
    const size_t timersBefore = clock_->pendingTimers();
    auto waiting = std::async(std::launch::async, [this] { return connector_->maxUserProperties("crash"); });
    ASSERT_TRUE(eventually([&] { return clock_->pendingTimers() > timersBefore; }));
    clock_->advance(9.9);
    EXPECT_NE(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::ready);
    clock_->advance(0.1);
    ASSERT_EQ(waiting.wait_for(kTestPatience), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
}

TEST_F(Connector, AListenerHearsItsOriginAndTheAppsEventsOnTheMainQueue) {
    connector_->registerAnalyticsListener(listener("crash"), "crash");
    connector_->registerAnalyticsListener(listener("zcm"), "zcm");
    announce({event("crash", "_crashed", {{"n", measured(ZDMValue::initWithInt64(3))}}),
              event("app", "tapped"), event("app+ztm", "opened"), event("crash", "_xa"),
              event("app", "campaign_details"), event("crash", "_exp_set"), event("zcm", "_cmp"),
              event("ziam", "_shown")});
    const auto got = heard();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].name, "_crashed");
    EXPECT_EQ(got[0].parameters, (Dictionary{{"n", 3}, {"_o", "crash"}}));
    EXPECT_EQ(got[1].name, "tapped");
    EXPECT_EQ(got[2].name, "opened");
    for (const auto& h : got) {
        EXPECT_EQ(h.listener, "crash") << "a listener for zcm is not kept";
        EXPECT_TRUE(h.onMainThread);
    }
}

TEST_F(Connector, AppEventsReachEveryListenerAndEachOriginOnlyItsOwn) {
    connector_->registerAnalyticsListener(listener("crash"), "crash");
    connector_->registerAnalyticsListener(listener("ziam"), "ziam");
    connector_->registerAnalyticsListener(listener("zlx-old"), "zlx");
    connector_->registerAnalyticsListener(listener("zlx"), "zlx");
    announce({event("ziam", "_shown"), event("app", "tapped")});
    std::vector<std::string> got;
    for (const auto& h : heard()) got.push_back(h.listener + ":" + h.name);
    std::sort(got.begin() + 1, got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"ziam:_shown", "crash:tapped", "ziam:tapped", "zlx:tapped"}));
}

TEST_F(Connector, AnEventTheEngineStoresReachesTheListener) {
    connector_->registerAnalyticsListener(listener("crash"), "crash");
    connector_->logEventWithOrigin("crash", "_fatal", Dictionary{{"reason", "signal"}});
    settle();
    ASSERT_TRUE(eventuallyOnMainQueue([&] { return !heard().empty(); }));
    EXPECT_EQ(heard()[0].name, "_fatal");
    EXPECT_EQ(heard()[0].parameters["reason"], Value("signal"));
}

TEST_F(Connector, TheFacadeListenerLivesWhileAnyListenerIsRegistered) {
    connector_->registerAnalyticsListener(listener("zcm"), "zcm");
    connector_->registerAnalyticsListener(nullptr, "crash");
    EXPECT_FALSE(connector_->isListening());
    EXPECT_EQ(facadeListenerCount(), 0u);

    connector_->registerAnalyticsListener(listener("crash"), "crash");
    connector_->registerAnalyticsListener(listener("ziam"), "ziam");
    EXPECT_EQ(facadeListenerCount(), 1u);
    connector_->unregisterAnalyticsListenerWithOrigin("crash");
    EXPECT_TRUE(connector_->isListening());
    connector_->unregisterAnalyticsListenerWithOrigin("ziam");
    EXPECT_FALSE(connector_->isListening());
    EXPECT_EQ(facadeListenerCount(), 0u);

    connector_->registerAnalyticsListener(listener("again"), "crash");
    EXPECT_EQ(facadeListenerCount(), 1u);
    announce({event("crash", "_crashed")});
    ASSERT_EQ(heard().size(), 1u);
    EXPECT_EQ(heard()[0].listener, "again");
}

TEST_F(Connector, AConnectorGoneStopsHearingWithoutHarm) {
    auto connector = std::make_shared<VUZArezivodoConnector>();
    connector->registerAnalyticsListener(listener("crash"), "crash");
    connector.reset();
    announce({event("crash", "_crashed")});
    EXPECT_TRUE(heard().empty());
}

TEST(ConnectorParameters, MeasurementValuesBecomePlainNumbersAndTexts) {
    const Dictionary given{{"count", 3},
                           {"ratio", 0.5},
                           {"label", "x"},
                           {"double", measured(ZDMValue::initWithDouble(1.5))},
                           {"int", measured(ZDMValue::initWithInt64(7))},
                           {"text", measured(ZDMValue::initWithString("t"))},
                           {"items", Value::Array{Value(1)}},
                           {"data", Value(Data{1, 2})}};
    EXPECT_EQ(VUZArezivodoConnector::simplifiedParametersFromEventParameters(given),
              (Dictionary{
                  {"count", 3}, {"ratio", 0.5}, {"label", "x"}, {"double", 1.5}, {"int", 7}, {"text", "t"}}));
}

TEST_F(Connector, TheLibraryRegistersOneLazyComponentMakingANewConnectorEachTime) {
    registerMeasurementHooks();
    const auto libraries = ZUDApp::registeredLibraries();
    EXPECT_NE(std::find(libraries.begin(), libraries.end(), "ruve-dedarodav/10.13.0"), libraries.end());

    const auto components = VUZArezivodoConnector::componentsToRegister();
    ASSERT_EQ(components.size(), 1u);
    EXPECT_EQ(components[0]->protocol(), "VUZArezivodoInterop");
    EXPECT_EQ(components[0]->instantiationTiming(), ZUDInstantiationTiming::Lazy);
    EXPECT_TRUE(components[0]->dependencies().empty());
    ZUDComponentContainer container(components);
    bool cacheable = true;
    const auto first = components[0]->creationBlock()(container, &cacheable);
    const auto second = components[0]->creationBlock()(container, &cacheable);
    EXPECT_TRUE(cacheable) << "left as the container set it";
    ASSERT_TRUE(std::dynamic_pointer_cast<VUZArezivodoInterop>(first));
    EXPECT_NE(first, second);
    EXPECT_TRUE(
        std::dynamic_pointer_cast<VUZArezivodoInterop>(container.instanceForProtocol("VUZArezivodoInterop")));
}

// The conditional requests as the installed layer receives them.
struct RecordedRequests {
    std::vector<std::pair<std::shared_ptr<ZDMConditionalUserProperty>, std::string>> set;
    std::vector<std::pair<std::shared_ptr<ZDMEvent>, std::string>> cleared;
    std::vector<std::pair<std::string, std::string>> queried;
    std::vector<std::shared_ptr<ZDMConditionalUserProperty>> answer;

    VUZArezivodoConnector::ConditionalUserPropertyRequests requests() {
        return {[this](const auto& property, const std::string& name) { set.emplace_back(property, name); },
                [this](const auto& event, const std::string& name) { cleared.emplace_back(event, name); },
                [this](const std::string& prefix, const std::string& origin) {
                    queried.emplace_back(prefix, origin);
                    return answer;
                }};
    }
};

TEST_F(Connector, AConditionalPropertyIsBuiltFromItsDictionary) {
    RecordedRequests recorded;
    VUZArezivodoConnector::installConditionalUserPropertyRequests(recorded.requests());
    connector_->setConditionalUserProperty({});
    EXPECT_TRUE(recorded.set.empty());

    connector_->setConditionalUserProperty(
        {{"name", "_tier"},
         {"origin", "zrc"},
         {"value", "gold"},
         {"triggerEventName", "_purchase"},
         {"triggerTimeout", 60},
         {"timeToLive", 3600.5},
         {"creationTimestamp", 1767225000},
         {"active", true},
         {"triggeredEvent", Dictionary{{"origin", "zrc"},
                                       {"name", "_triggered"},
                                       {"timestamp", 1767225100},
                                       {"parameters", Dictionary{{"k", "v"}}}}},
         {"expiredEvent", Dictionary{{"origin", "zrc"}, {"name", "_expired"}}},
         {"timedOutEvent", "not a dictionary"},
         {"unknownKey", 1}});
    ASSERT_EQ(recorded.set.size(), 1u);
    const auto& [property, name] = recorded.set[0];
    EXPECT_EQ(name, "_tier");
    EXPECT_EQ(property->name(), "_tier");
    EXPECT_EQ(property->origin(), "zrc");
    ASSERT_TRUE(property->value());
    EXPECT_EQ(property->value()->stringValue(), "gold");
    EXPECT_EQ(property->triggerEventName(), "_purchase");
    EXPECT_EQ(property->triggerTimeout(), 60);
    EXPECT_EQ(property->timeToLive(), 3600.5);
    EXPECT_EQ(property->creationTimestamp(), 1767225000);
    EXPECT_TRUE(property->isActive());
    ASSERT_TRUE(property->triggeredEvent());
    EXPECT_EQ(property->triggeredEvent()->name(), "_triggered");
    EXPECT_EQ(property->triggeredEvent()->timestamp(), 1767225100);
    EXPECT_FALSE(property->triggeredEvent()->isPublic());
    ASSERT_TRUE(property->expiredEvent());
    EXPECT_EQ(property->expiredEvent()->timestamp(), clock_->now()) << "no timestamp: now";
    EXPECT_FALSE(property->timedOutEvent());
}

TEST_F(Connector, ClearingNamesThePropertyByTheFirstClearEventParameter) {
    RecordedRequests recorded;
    VUZArezivodoConnector::installConditionalUserPropertyRequests(recorded.requests());
    connector_->clearConditionalUserProperty("ignored", "zrc", "_cleared", {});
    EXPECT_TRUE(recorded.cleared.empty());

    connector_->clearConditionalUserProperty("ignored", "zrc", "_cleared", {{"_tier", "gold"}, {"other", 1}});
    ASSERT_EQ(recorded.cleared.size(), 1u);
    const auto& [event, name] = recorded.cleared[0];
    EXPECT_EQ(name, "_tier");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->origin(), "zrc");
    EXPECT_EQ(event->name(), "_cleared");
    const auto plain = VUZArezivodoConnector::simplifiedParametersFromEventParameters(event->parameters());
    EXPECT_EQ(plain, (Dictionary{{"_tier", "gold"}, {"_o", "zrc"}}));
    EXPECT_EQ(event->timestamp(), clock_->now());
}

TEST_F(Connector, TheQueryAnswersRecordsWithANameAndATextValue) {
    EXPECT_TRUE(connector_->conditionalUserProperties("zrc", "_t").empty()) << "no layer installed";
    RecordedRequests recorded;
    const auto record = [](const std::string& name, std::shared_ptr<const ZDMValue> value) {
        auto property = std::make_shared<ZUDAConditionalUserProperty>();
        property->setName(name);
        property->setValue(std::move(value));
        return property;
    };
    recorded.answer = {record("_tier", ZDMValue::initWithString("gold")),
                       record("_count", ZDMValue::initWithInt64(2)),
                       record("", ZDMValue::initWithString("nameless")), record("_none", nullptr)};
    VUZArezivodoConnector::installConditionalUserPropertyRequests(recorded.requests());
    EXPECT_EQ(connector_->conditionalUserProperties("zrc", "_t"),
              (std::vector<Dictionary>{{{"name", "_tier"}, {"value", "gold"}}}));
    EXPECT_EQ(recorded.queried, (std::vector<std::pair<std::string, std::string>>{{"_t", "zrc"}}));
}
}  // namespace
