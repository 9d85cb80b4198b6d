#pragma once
// The app in front of the user: the facade started as the app's start starts it, with the shared
// engine behind it, and the shared screen-view reporter subscribed to the application object, which
// the test activates and deactivates as the platform would. What the reporters log is read back as
// the engine stored it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/WritePathFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OperationQueue.h"

struct LoggedEvent {
    std::string origin;
    std::string name;
    Dictionary parameters;
    double timestamp = 0;

    // The integer of a ZDMValue parameter; nullopt when absent.
    std::optional<int64_t> integer(const std::string& key) const {
        const auto value = parameters[key].objectAs<ZDMValue>();
        return value && value->isInt64() ? std::optional(value->int64Value()) : std::nullopt;
    }
    std::optional<std::string> text(const std::string& key) const {
        const auto value = parameters[key].objectAs<ZDMValue>();
        return value ? value->stringValue() : std::nullopt;
    }
    bool has(const std::string& key) const { return parameters.contains(key); }
};

class ForegroundFixture : public WritePath {
  protected:
    ForegroundFixture() {
        ZDMAnalytics::startWithAppID(kEngineTestAppID, "za", {});
        settle();
        engine_ = ZDMMeasurement::sharedInstance();
        startEvents_ = storedEvents(*engine_).size();
    }
    ~ForegroundFixture() override { settle(); }

    void activate() {
        NSApplication::sharedApplication()->activateIgnoringOtherApps(true);
        settle();
    }
    void deactivate() {
        NSApplication::sharedApplication()->deactivate();
        settle();
    }
    void screenView(Dictionary parameters) {
        ZDMAnalytics::logEventWithName("screen_view", parameters);
        settle();
    }
    // Lets the reporter's queue, the facade's queues, the worker queue and the main queue run what
    // they were handed, and what that handed on.
    void settle() {
        for (int round = 0; round < 3; ++round) {
            reporter_->currentScreen();
            const auto operations = ZDMAnalytics::operationQueue();
            if (!operations->isSuspended()) operations->waitUntilAllOperationsAreFinished();
            ZDMAnalytics::queue()->sync([] {});
            if (ZDMMeasurement::hasSharedInstance()) drain(*ZDMMeasurement::sharedInstance());
            RunLoop::runUntilIdle();
        }
    }
    void setting(const std::string& key, const std::string& value) {
        engine_->remoteConfigInstance()->cacheValue(Value(value), key);
    }
    std::shared_ptr<ZDMSessionReporter> sessionReporter() { return engine_->sessionReporter(); }

    // The events of that name (all when empty) stored since the start's own (a fresh install's first
    // open and its session), in the order they were stored.
    std::vector<LoggedEvent> stored(const std::string& name = {}) {
        const auto events = storedEvents(*engine_);
        std::vector<LoggedEvent> out;
        for (size_t i = startEvents_; i < events.size(); ++i)
            if (name.empty() || events[i]->name() == name)
                out.push_back({events[i]->origin(), events[i]->name(), events[i]->parameters(),
                               events[i]->timestamp()});
        return out;
    }
    // The names of the stored events among `names`, in order.
    std::vector<std::string> storedNamesAmong(const std::vector<std::string>& names) {
        std::vector<std::string> out;
        for (const auto& event : stored())
            if (std::ranges::find(names, event.name) != names.end()) out.push_back(event.name);
        return out;
    }
    // The stored user property's integer; nullopt when none is stored.
    std::optional<int64_t> storedProperty(const std::string& name) {
        std::shared_ptr<ZDMUserAttribute> attribute;
        onWorkerQueue(*engine_, [&] { attribute = engine_->database()->userAttributeWithName(name); });
        return attribute && attribute->value() ? std::optional(attribute->value()->int64Value())
                                               : std::nullopt;
    }
    void storeProperty(const std::string& name, int64_t value) {
        onWorkerQueue(*engine_, [&] {
            engine_->setUserPropertyInDatabaseOnWorkerQueue(ZDMUserAttribute::initWithOrigin(
                "auto", name, ZDMValue::initWithInt64(value), clock_->now()));
        });
    }

    std::shared_ptr<ZDMScreenViewReporter> reporter_ = ZDMScreenViewReporter::sharedInstance();
    std::shared_ptr<ZDMMeasurement> engine_;

  private:
    size_t startEvents_ = 0;
};
