#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <typeinfo>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizozAnalytics/Model/DIZStartSessionLog.h"
#include "DudIzizozAnalytics/tests/DIZClientTesting.h"
#include "platform/appkit/NSApplication.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/UserDefaults.h"

namespace {

const std::string kNotStarted =
    "Analytics service hasn't been started. You need to call [DIZDudIzizoz start:YOUR_APP_SECRET "
    "withServices:LIST_OF_SERVICES] first.";

// The logs prepared by the units of the group, with their flags, in order.
class PreparedLogs : public DIZChannelDelegate {
  public:
    struct Entry {
        std::shared_ptr<DIZLog> log;
        uint64_t flags;
    };
    void channelDidPrepareLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log, const std::string&,
                              uint64_t flags) override {
        std::lock_guard guard(mutex_);
        entries_.push_back({log, flags});
    }
    std::vector<Entry> of(const std::string& type) {
        std::lock_guard guard(mutex_);
        std::vector<Entry> found;
        for (const auto& entry : entries_)
            if (entry.log->type() == type) found.push_back(entry);
        return found;
    }

  private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

class DIZAnalyticsTest : public DIZClientTest {
  protected:
    size_t count(const std::string& text) {
        auto texts = logs.texts();
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }
    // The stored event logs of `groupId` with their priorities, in the order stored.
    std::vector<std::pair<std::shared_ptr<DIZEventLog>, std::string>> storedEvents(
        const std::string& groupId) {
        settle();
        std::vector<std::pair<std::shared_ptr<DIZEventLog>, std::string>> events;
        for (const auto& row : storedRows()) {
            auto event = std::dynamic_pointer_cast<DIZEventLog>(row.log);
            if (event && row.groupId == groupId) events.emplace_back(event, row.priority);
        }
        return events;
    }
    std::optional<std::string> storedEventName(size_t index) {
        auto events = storedEvents("Analytics");
        if (index >= events.size()) return std::nullopt;
        return events[index].first->name();
    }
};

TEST_F(DIZAnalyticsTest, SwitchIsStoredAsNormalAndPostedAsAnEventWithItsIdAndSession) {
    DIZAnalytics::trackEvent("switch");
    EXPECT_EQ(count(kNotStarted), 1u);

    startBoth();
    EXPECT_TRUE(storedEvents("Analytics").empty()) << "nothing of the early call was kept";
    DIZAnalytics::trackEvent("switch");
    auto stored = storedEvents("Analytics");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].second, "1");

    auto sent = sentLogs();
    const auto request = server.received().back();
    EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
    auto event =
        std::find_if(sent.begin(), sent.end(), [](const Value& log) { return log["type"] == "event"; });
    ASSERT_NE(event, sent.end());
    EXPECT_EQ((*event)["name"].stringOr(""), "switch");
    const std::string id = (*event)["id"].stringOr("");
    ASSERT_EQ(id.size(), 36u);
    ASSERT_TRUE(UUID::fromString(id));
    EXPECT_EQ(id, UUID::fromString(id)->uuidString()) << "upper case";
    ASSERT_TRUE(DIZSessionContext::sharedInstance()->sessionId());
    EXPECT_EQ((*event)["sid"].stringOr(""), *DIZSessionContext::sharedInstance()->sessionId());
    EXPECT_FALSE(event->asDictionary()->contains("properties"));
    EXPECT_FALSE(event->asDictionary()->contains("typedProperties"));
}

TEST_F(DIZAnalyticsTest, FlagsChooseTheUnitAndTheStoredPriority) {
    struct Case {
        uint64_t flags;
        const char* groupId;
        const char* priority;
        const char* warning;  // null: none
    } cases[] = {
        {0, "Analytics", "1", "Invalid flags (0) received, using normal as a default."},
        {3, "Analytics", "1", "Invalid flags (3) received, using normal as a default."},
        {0x102, "Analytics_critical", "2", nullptr},
        {2, "Analytics_critical", "2", nullptr},
        {1, "Analytics", "1", nullptr},
    };
    startBoth();
    for (const auto& c : cases) {
        const std::string name = "flags" + std::to_string(c.flags);
        DIZAnalytics::trackEvent(name, std::nullopt, c.flags);
        auto events = storedEvents(c.groupId);
        ASSERT_FALSE(events.empty()) << c.flags;
        EXPECT_EQ(events.back().first->name(), name);
        EXPECT_EQ(events.back().second, c.priority) << c.flags;
        EXPECT_EQ(count(c.warning ? c.warning : "-"), c.warning ? 1u : 0u) << c.flags;
    }
    EXPECT_EQ(storedEvents("Analytics").size() + storedEvents("Analytics_critical").size(), std::size(cases));
}

TEST_F(DIZAnalyticsTest, TransmissionIntervalIsTakenWithinItsRangeAndOnlyBeforeStart) {
    const std::string outOfRange =
        "The transmission interval is not valid, it should be between 6 second(s) and 86400 second(s) (1 "
        "day).";
    struct Case {
        uint64_t seconds;
        uint64_t expected;
    } cases[] = {{5, 6}, {86401, 6}, {86400, 86400}, {6, 6}, {3600, 3600}};
    for (const auto& c : cases) {
        const auto refusedBefore = count(outOfRange);
        DIZAnalytics::setTransmissionInterval(c.seconds);
        EXPECT_EQ(DIZAnalytics::transmissionInterval(), c.expected) << c.seconds;
        EXPECT_EQ(count(outOfRange) - refusedBefore, c.seconds == c.expected ? 0u : 1u) << c.seconds;
    }
    EXPECT_EQ(count("Transmission interval set to 86400 second(s)"), 1u);

    startBoth();
    EXPECT_EQ(DIZAnalytics::sharedInstance()->channelUnit()->configuration()->flushInterval(), 3600u);
    EXPECT_EQ(DIZAnalytics::sharedInstance()->criticalChannelUnit()->configuration()->flushInterval(), 6u);
    for (uint64_t seconds : {uint64_t{6}, uint64_t{5}, uint64_t{600}}) {
        DIZAnalytics::setTransmissionInterval(seconds);
        EXPECT_EQ(DIZAnalytics::transmissionInterval(), 3600u);
    }
    EXPECT_EQ(count("The transmission interval should be set before the DIZAnalytics service is started."),
              3u);
}

TEST_F(DIZAnalyticsTest, ValidationCutsTooLongPartsAndDropsOnlyAnUnusableName) {
    startBoth();
    const std::string name256(256, 'n'), name257(257, 'n');
    // A character outside the basic plane counts two units and is never split.
    const std::string name255AndEmoji = std::string(255, 'e') + "\xF0\x9F\x98\x80";
    DIZAnalytics::trackEvent(name256);
    DIZAnalytics::trackEvent(name257);
    DIZAnalytics::trackEvent("");
    DIZAnalytics::trackEvent(name255AndEmoji);
    auto events = storedEvents("Analytics");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].first->name(), name256);
    EXPECT_EQ(events[1].first->name(), name256);
    EXPECT_EQ(events[2].first->name(), std::string(255, 'e'));
    EXPECT_EQ(count("event '" + name257 +
                    "' : name length cannot be longer than 256 characters. Name will be truncated."),
              1u);
    EXPECT_EQ(count("event name cannot be null or empty"), 1u);

    auto typed = std::make_shared<DIZEventProperties>();
    for (int i = 0; i < 25; ++i) typed->setInt64(i, "k" + std::to_string(i));
    DIZAnalytics::trackEvent("many", typed);
    const std::string key125(125, 'k'), key126(126, 'K'), value125(125, 'v'), value126(126, 'w');
    auto lengths = std::make_shared<DIZEventProperties>();
    lengths->setString(value125, key125).setString(value126, key126);
    DIZAnalytics::trackEvent("lengths", lengths);
    DIZAnalytics::trackEvent("strings", Dictionary{{"text", "kept"}, {"number", 7}});

    events = storedEvents("Analytics");
    ASSERT_EQ(events.size(), 6u);
    const auto& many = events[3].first->typedProperties();
    ASSERT_TRUE(many);
    EXPECT_EQ(many->count(), 20u);
    EXPECT_TRUE(many->property("k19") && !many->property("k20"));
    EXPECT_EQ(count("Typed properties cannot contain more than 20 items. Skipping other properties."), 1u);

    const auto& cut = events[4].first->typedProperties();
    ASSERT_TRUE(cut);
    auto kept = std::dynamic_pointer_cast<DIZStringTypedProperty>(cut->property(key125));
    auto shortened = std::dynamic_pointer_cast<DIZStringTypedProperty>(cut->property(std::string(125, 'K')));
    ASSERT_TRUE(kept && shortened);
    EXPECT_EQ(kept->value(), value125);
    EXPECT_EQ(shortened->value(), std::string(125, 'w'));
    EXPECT_EQ(count("Typed property '" + key126 +
                    "': key length cannot exceed 125 characters. Property value will be truncated."),
              1u);
    EXPECT_EQ(
        count("Typed property value length cannot exceed 125 characters. Property value will be truncated."),
        1u);

    const auto& strings = events[5].first->typedProperties();
    ASSERT_TRUE(strings);
    EXPECT_EQ(strings->count(), 1u);
    EXPECT_TRUE(strings->property("text"));
    EXPECT_EQ(count("Event property contains an invalid value for key number, dropping the property."), 1u);
}

TEST_F(DIZAnalyticsTest, FilterChecksOnlyEventAndPageLogs) {
    startBoth();
    auto analytics = DIZAnalytics::sharedInstance();
    auto unit = analytics->channelUnit();
    // A log of another service passes as it came, even with what an event could not carry.
    auto other = std::make_shared<DIZLogWithProperties>();
    other->setType("appleError");
    DIZProperties properties;
    for (int i = 0; i < 30; ++i) properties["p" + std::to_string(i)] = std::string(200, 'x');
    other->setProperties(properties);
    EXPECT_FALSE(analytics->channelUnitShouldFilterLog(*unit, other));
    EXPECT_EQ(other->properties(), properties);

    auto page = std::make_shared<DIZPageLog>();
    page->setName("");
    EXPECT_TRUE(analytics->channelUnitShouldFilterLog(*unit, page));
    EXPECT_EQ(count("page name cannot be null or empty"), 1u);
    page->setName("Spaces");
    page->setProperties(properties);
    EXPECT_FALSE(analytics->channelUnitShouldFilterLog(*unit, page));
    EXPECT_EQ(page->properties()->size(), 20u);
    EXPECT_EQ(page->properties()->begin()->second.size(), 125u);
}

TEST_F(DIZAnalyticsTest, PropertySettersRefuseMissingAndNonFiniteValues) {
    struct Case {
        std::function<void(DIZEventProperties&)> set;
        const char* message;
    } cases[] = {
        {[](DIZEventProperties& p) { p.setString("v", std::nullopt); },
         "Key cannot be null. Property will not be added."},
        {[](DIZEventProperties& p) { p.setString(std::nullopt, "k"); },
         "Value cannot be null. Property will not be added."},
        {[](DIZEventProperties& p) { p.setDate(std::nullopt, "k"); },
         "Value cannot be null. Property will not be added."},
        {[](DIZEventProperties& p) { p.setDouble(std::nan(""), "k"); },
         "Double value for property 'k' must be finite (cannot be INFINITY or NAN)."},
        {[](DIZEventProperties& p) { p.setDouble(-std::numeric_limits<double>::infinity(), "k"); },
         "Double value for property 'k' must be finite (cannot be INFINITY or NAN)."},
    };
    for (const auto& c : cases) {
        DIZEventProperties properties;
        properties.setBool(true, "k");
        const auto before = count(c.message);
        c.set(properties);
        EXPECT_EQ(count(c.message), before + 1) << c.message;
        ASSERT_EQ(properties.count(), 1u) << c.message;
        EXPECT_TRUE(std::dynamic_pointer_cast<DIZBooleanTypedProperty>(properties.property("k")))
            << c.message;
    }
}

// The Core Schema data and metadata of an event with these properties.
struct Converted {
    std::optional<Dictionary> data, metadata;
};
Converted convert(const std::function<void(DIZEventProperties&)>& fill) {
    DIZEventLog event;
    event.setName("converted");
    auto properties = std::make_shared<DIZEventProperties>();
    fill(*properties);
    event.setTypedProperties(properties);
    auto log = event.toCoreSchemaLogForTargetToken("target-token", 1);
    Converted out;
    if (log->data()) out.data = log->data()->properties();
    if (log->ext()->metadataExt()) out.metadata = log->ext()->metadataExt()->metadata();
    return out;
}

TEST_F(DIZAnalyticsTest, CoreSchemaNestsDottedNamesAndTypesNumbers) {
    auto nested =
        convert([](DIZEventProperties& p) { p.setInt64(7, "a.b.c").setDouble(1.5, "x").setBool(true, "y"); });
    ASSERT_TRUE(nested.data && nested.metadata);
    EXPECT_EQ(json::write(Value(*nested.data)), R"({"a":{"b":{"c":7}},"x":1.5,"y":true})");
    EXPECT_EQ(json::write(Value(*nested.metadata)), R"({"f":{"a":{"f":{"b":{"f":{"c":4}}}},"x":6}})");

    auto paired =
        convert([](DIZEventProperties& p) { p.setString("T", "baseType").setInt64(1, "baseData.x"); });
    ASSERT_TRUE(paired.data);
    EXPECT_EQ(json::write(Value(*paired.data)), R"({"baseType":"T","baseData":{"x":1}})");

    auto typeAlone = convert([](DIZEventProperties& p) { p.setString("T", "baseType").setString("v", "k"); });
    EXPECT_EQ(json::write(Value(*typeAlone.data)), R"({"k":"v"})");
    EXPECT_EQ(count("baseType was set but baseData is missing."), 1u);

    auto dataAlone =
        convert([](DIZEventProperties& p) { p.setInt64(1, "baseData.x").setInt64(2, "baseType"); });
    EXPECT_FALSE(dataAlone.data);
    EXPECT_FALSE(dataAlone.metadata);
    EXPECT_EQ(count("baseData was set but baseType is missing or invalid."), 1u);

    auto clash = convert([](DIZEventProperties& p) { p.setString("s", "a").setInt64(2, "a.b"); });
    EXPECT_EQ(json::write(Value(*clash.data)), R"({"a":"s"})");
    EXPECT_FALSE(clash.metadata);
    EXPECT_EQ(count("Property key 'b' already has a value, choosing one."), 1u);
}

TEST_F(DIZAnalyticsTest, EveryLogClassComesBackEqualFromTheArchive) {
    DIZAnalytics::sharedInstance();  // registers the classes
    auto device = std::make_shared<DIZDevice>();
    device->setSdkName("dudizizoz.macos");
    auto typed = std::make_shared<DIZEventProperties>();
    typed->setString("s", "string").setInt64(-3, "long").setDouble(0.25, "double").setBool(true, "bool");
    typed->setDate(Date::fromUnix(1767225600.5), "date");
    auto event = std::make_shared<DIZEventLog>();
    event->setEventId(UUID().uuidString());
    event->setTypedProperties(typed);
    auto page = std::make_shared<DIZPageLog>();
    page->setProperties(DIZProperties{{"pane", "general"}});
    auto session = std::make_shared<DIZStartSessionLog>();
    auto named = std::make_shared<DIZLogWithNameAndProperties>();
    for (const auto& log : std::vector<std::shared_ptr<DIZLog>>{event, page, session, named}) {
        log->setTimestamp(Date::fromUnix(1767225601));
        log->setSid("SID");
        log->setDevice(device);
        if (auto withName = std::dynamic_pointer_cast<DIZLogWithNameAndProperties>(log))
            withName->setName("n");
        auto archived = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(Archived(log)));
        ASSERT_TRUE(archived) << *log->type();
        auto back = archived->objectAs<DIZLog>();
        ASSERT_TRUE(back) << *log->type();
        EXPECT_EQ(typeid(*back), typeid(*log));
        EXPECT_TRUE(log->isEqual(*back)) << *log->type();
        EXPECT_EQ(json::write(Value(*back->serializeToDictionary())),
                  json::write(Value(*log->serializeToDictionary())));
    }
    auto eventBack = std::dynamic_pointer_cast<DIZEventLog>(
        DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(Archived(event)))->objectAs<DIZLog>());
    ASSERT_TRUE(eventBack && eventBack->typedProperties());
    EXPECT_TRUE(eventBack->typedProperties()->isEqual(*typed));
}

// An event log as an older version archived it, under its old class name.
class StoredByAnOlderVersion : public DIZEventLog {
  public:
    std::string archiveClassName() const override { return "DZEventLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DZEventLog", "DZLogWithNameAndProperties", "DZLogWithProperties", "DZAbstractLog",
                "NSObject"};
    }
};

TEST_F(DIZAnalyticsTest, EventStoredUnderItsOldClassNameDecodesAsAnEventLog) {
    DIZAnalytics::sharedInstance();  // registers the old names
    auto old = std::make_shared<StoredByAnOlderVersion>();
    old->setName("cycled");
    old->setEventId("E");
    auto archived = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(Archived(old)));
    ASSERT_TRUE(archived);
    auto event = archived->objectAs<DIZEventLog>();
    ASSERT_TRUE(event);
    EXPECT_EQ(typeid(*event), typeid(DIZEventLog));
    EXPECT_EQ(event->name(), "cycled");
    EXPECT_EQ(event->eventId(), "E");
}

// Sessions: the application resigns, stays away, becomes active again; then an event is tracked.
TEST_F(DIZAnalyticsTest, ComingBackAfterALongSilentAbsenceStartsANewSession) {
    struct Case {
        const char* name;
        double away;              // seconds between resigning and becoming active again
        double loggedBeforeBack;  // seconds before coming back that a log was stamped; 0: none
        bool newSession;
    } cases[] = {
        {"30 s away, silent", 30, 0, true},
        {"10 s away", 10, 0, false},
        {"30 s away, a log 5 s before", 30, 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto prepared = std::make_shared<PreparedLogs>();
        startBoth();
        group()->addDelegate(prepared);
        auto app = NSApplication::sharedApplication();
        app->activateIgnoringOtherApps(true);
        const auto first = DIZSessionContext::sharedInstance()->sessionId();
        ASSERT_TRUE(first);
        app->deactivate();
        if (c.loggedBeforeBack > 0) {
            settle();
            clock->advance(c.away - c.loggedBeforeBack);
            DIZAnalytics::trackEvent("meanwhile");
            settle();
            clock->advance(c.loggedBeforeBack);
        } else {
            settle();
            clock->advance(c.away);
        }
        app->activateIgnoringOtherApps(true);
        DIZAnalytics::trackEvent("after");
        settle();

        const auto current = DIZSessionContext::sharedInstance()->sessionId();
        EXPECT_EQ(current != first, c.newSession);
        auto starts = prepared->of("startSession");
        ASSERT_EQ(starts.size(), c.newSession ? 1u : 0u);
        if (c.newSession) {
            EXPECT_EQ(starts[0].flags, 1u);
            EXPECT_EQ(starts[0].log->sid(), current);
        }
        auto events = prepared->of("event");
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().log->sid(), current);
        settle();
        forgetTheProcess();
    }
}

// Active again after a short absence, with no log for longer than the timeout: an application keeps
// its session, an extension (its executable inside an ".appex" bundle) starts a new one.
TEST_F(DIZAnalyticsTest, AnExtensionEndsItsSessionOnSilenceAlone) {
    struct Case {
        const char* name;
        bool extension;
    } cases[] = {{"application", false}, {"extension", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bundle = DIZHostBundle();
        if (c.extension) bundle->setBundlePath(home.path() / "Share.appex");
        Bundle::setMainBundle(bundle);
        startBoth();
        auto app = NSApplication::sharedApplication();
        app->activateIgnoringOtherApps(true);
        const auto first = DIZSessionContext::sharedInstance()->sessionId();
        ASSERT_TRUE(first);
        settle();
        clock->advance(15);
        app->deactivate();
        clock->advance(10);
        app->activateIgnoringOtherApps(true);
        const auto current = DIZSessionContext::sharedInstance()->sessionId();
        ASSERT_TRUE(current);
        EXPECT_EQ(*current != *first, c.extension);
        settle();
        forgetTheProcess();
    }
}

TEST_F(DIZAnalyticsTest, DisablingEndsTheSessionAndDeletesBothUnitsLogs) {
    startBoth();
    DIZAnalytics::trackEvent("normal");
    DIZAnalytics::trackEvent("critical", std::nullopt, kDIZFlagsCritical);
    ASSERT_EQ(storedEvents("Analytics").size(), 1u);
    ASSERT_EQ(storedEvents("Analytics_critical").size(), 1u);
    auto crashesUnit = DIZCrashes::sharedInstance()->channelUnit();
    auto crashLog = [] {
        auto log = std::make_shared<DIZLogWithProperties>();
        log->setType("handledError");
        return log;
    };
    auto before = crashLog();
    crashesUnit->enqueueItem(before, 1);
    EXPECT_EQ(before->sid(), DIZSessionContext::sharedInstance()->sessionId());
    EXPECT_TRUE(before->sid());

    DIZAnalytics::classObject().setEnabled(false);
    settle();
    EXPECT_TRUE(storedEvents("Analytics").empty());
    EXPECT_TRUE(storedEvents("Analytics_critical").empty());
    EXPECT_FALSE(DIZSessionContext::sharedInstance()->sessionId());
    auto after = crashLog();
    crashesUnit->enqueueItem(after, 1);
    EXPECT_FALSE(after->sid());
    DIZAnalytics::trackEvent("while disabled");
    EXPECT_TRUE(storedEvents("Analytics").empty());
}

TEST_F(DIZAnalyticsTest, ManualSessionTrackerIsRefusedOnceStarted) {
    startBoth();
    DIZAnalytics::enableManualSessionTracker();
    EXPECT_EQ(count("Manual session tracker should be set before the DIZAnalytics service is started."), 1u);
    auto tracker = DIZAnalytics::sharedInstance()->sessionTracker();
    EXPECT_FALSE(tracker->isManualSessionTrackerEnabled());
    EXPECT_TRUE(tracker->isStarted());
    DIZAnalytics::startSession();
    EXPECT_EQ(count("Can't start new session because manual session tracker is disabled."), 1u);
}

TEST_F(DIZAnalyticsTest, ManualSessionsChangeOnlyOnRequest) {
    DIZAnalytics::enableManualSessionTracker();
    EXPECT_EQ(count("Manual session tracker is enabled."), 1u);
    startBoth();
    EXPECT_FALSE(DIZSessionContext::sharedInstance()->sessionId());
    DIZAnalytics::startSession();
    const auto session = DIZSessionContext::sharedInstance()->sessionId();
    ASSERT_TRUE(session);
    EXPECT_EQ(count("Started a new session: " + *session), 1u);
    // In manual mode the tracker does not follow the application; told of it, it says so.
    auto tracker = DIZAnalytics::sharedInstance()->sessionTracker();
    EXPECT_FALSE(tracker->isStarted());
    tracker->applicationDidEnterBackground();
    settle();
    clock->advance(60);
    tracker->applicationWillEnterForeground();
    for (const char* when : {"background", "foreground"})
        EXPECT_EQ(
            count(std::string("Manual session tracker is enabled. Skip tracking a session status request "
                              "after enter ") +
                  when + "."),
            1u);
    EXPECT_EQ(DIZSessionContext::sharedInstance()->sessionId(), session);
}

}  // namespace

namespace {

TEST_F(DIZAnalyticsTest, CreationMovesOldKeysAndDropsThePastSessions) {
    auto defaults = UserDefaults::standardUserDefaults();
    defaults->setObject(Value(false), "kDZAnalyticsIsEnabledKey");
    defaults->setObject(Value("old sessions"), "pastSessionsKey");
    DIZAnalytics::sharedInstance();
    EXPECT_EQ(defaults->objectForKey("DZDudIzizozAnalyticsIsEnabled"), Value(false));
    EXPECT_FALSE(defaults->objectForKey("kDZAnalyticsIsEnabledKey"));
    EXPECT_FALSE(defaults->objectForKey("pastSessionsKey"));
    EXPECT_FALSE(defaults->objectForKey("DZDudIzizozPastSessions")) << "the session tracker drops them";
}

TEST_F(DIZAnalyticsTest, PageKeepsItsStringPropertiesOnly) {
    startBoth();
    DIZAnalytics::trackPage("Spaces", Dictionary{{"pane", "spaces"}, {"rows", 3}});
    DIZAnalytics::trackPage("General");
    settle();
    std::vector<std::shared_ptr<DIZPageLog>> pages;
    for (const auto& row : storedRows())
        if (auto page = std::dynamic_pointer_cast<DIZPageLog>(row.log)) pages.push_back(page);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0]->properties(), (DIZProperties{{"pane", "spaces"}}));
    EXPECT_EQ(count("Event property contains an invalid value for key rows, dropping the property."), 1u);
    EXPECT_FALSE(pages[1]->serializeToDictionary()->contains("properties"));
}

// Send results of events and pages, as the application's delegate hears them.
class ResultRecorder : public DIZAnalyticsDelegate {
  public:
    void analyticsWillSendEventLog(DIZAnalytics&, const std::shared_ptr<DIZEventLog>& log) override {
        record("will send event " + log->name().value_or(""));
    }
    void analyticsDidSucceedSendingEventLog(DIZAnalytics&, const std::shared_ptr<DIZEventLog>& log) override {
        record("sent event " + log->name().value_or(""));
    }
    void analyticsWillSendPageLog(DIZAnalytics&, const std::shared_ptr<DIZPageLog>& log) override {
        record("will send page " + log->name().value_or(""));
    }
    void analyticsDidSucceedSendingPageLog(DIZAnalytics&, const std::shared_ptr<DIZPageLog>& log) override {
        record("sent page " + log->name().value_or(""));
    }
    std::vector<std::string> sorted() {
        std::lock_guard guard(mutex_);
        auto copy = events_;
        std::sort(copy.begin(), copy.end());
        return copy;
    }

  private:
    void record(std::string event) {
        std::lock_guard guard(mutex_);
        events_.push_back(std::move(event));
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

TEST_F(DIZAnalyticsTest, DelegateHearsTheSendResultsOfEventsAndPagesOnly) {
    auto recorder = std::make_shared<ResultRecorder>();
    DIZAnalytics::setDelegate(recorder);
    startBoth();
    DIZAnalytics::trackEvent("switch");
    DIZAnalytics::trackPage("Spaces");
    sentLogs();
    EXPECT_EQ(recorder->sorted(),
              (std::vector<std::string>{"sent event switch", "sent page Spaces", "will send event switch",
                                        "will send page Spaces"}));
}

}  // namespace

namespace {

// A log that sets its own session id.
class OwnSessionLog : public DIZLogWithProperties, public DIZNoAutoAssignSessionIdLog {};

// Each kind of log is prepared after a long stay in the background, just before the application
// comes back: only logs that count as activity keep the session.
TEST_F(DIZAnalyticsTest, StampingCountsEveryLogButTheStartLogsAndKeepsOwnSessionIds) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<DIZLog>()> make;
        bool counts;
        bool stamped;
    } cases[] = {
        {"plain", [] { return std::make_shared<DIZLogWithProperties>(); }, true, true},
        {"own session id", [] { return std::make_shared<OwnSessionLog>(); }, true, false},
        {"start session", [] { return std::make_shared<DIZStartSessionLog>(); }, false, false},
        {"start service", [] { return std::make_shared<DIZStartServiceLog>(); }, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startBoth();
        auto analytics = DIZAnalytics::sharedInstance();
        auto tracker = analytics->sessionTracker();
        const auto first = DIZSessionContext::sharedInstance()->sessionId();
        ASSERT_TRUE(first);
        tracker->applicationDidEnterBackground();
        settle();
        clock->advance(30);
        auto log = c.make();
        log->setSid("mine");
        tracker->channelPrepareLog(*analytics->channelUnit(), log);
        EXPECT_EQ(log->sid(), c.stamped ? first : std::optional<std::string>("mine"));
        tracker->applicationWillEnterForeground();
        EXPECT_EQ(DIZSessionContext::sharedInstance()->sessionId() == first, c.counts);
        settle();
        forgetTheProcess();
    }
}

}  // namespace
