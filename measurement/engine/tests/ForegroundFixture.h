#pragma once
// The app in front of the user: the shared engine made as the app's start makes it, the shared
// screen-view reporter subscribed to the application object, which the test activates and
// deactivates as the platform would, and every internal event the library logs recorded as it
// leaves the reporters.
#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"

struct LoggedEvent {
    std::string origin;
    std::string name;
    Dictionary parameters;

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

class ForegroundFixture : public EngineFixture {
  protected:
    static constexpr const char* kAppID = "1:123456:ios:abcdef";

    ForegroundFixture() {
        ZDMMeasurement::initializeSharedInstanceWithAppID(kAppID, true, false, {});
        engine_ = ZDMMeasurement::sharedInstance();
        drain(*engine_);
        RunLoop::runUntilIdle();
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
        reporter_->trackScreenWithParameters(parameters, clock_->now());
        settle();
    }
    // Lets the reporter's queue, the worker queue and the main queue run what they were handed,
    // and what that handed on.
    void settle() {
        for (int round = 0; round < 3; ++round) {
            reporter_->currentScreen();
            drain(*engine_);
            RunLoop::runUntilIdle();
        }
    }
    void setting(const std::string& key, const std::string& value) {
        engine_->remoteConfigInstance()->cacheValue(Value(value), key);
    }
    std::shared_ptr<ZDMSessionReporter> sessionReporter() { return engine_->sessionReporter(); }

    std::vector<LoggedEvent> logged(const std::string& name = {}) {
        std::lock_guard lock(mutex_);
        std::vector<LoggedEvent> out;
        for (const auto& event : events_)
            if (name.empty() || event.name == name) out.push_back(event);
        return out;
    }
    std::vector<std::string> loggedNames() {
        std::vector<std::string> names;
        for (const auto& event : logged()) names.push_back(event.name);
        return names;
    }
    // The stored user property's integer; nullopt when none is stored.
    std::optional<int64_t> storedProperty(const std::string& name) {
        std::shared_ptr<ZDMUserAttribute> attribute;
        onWorkerQueue(*engine_, [&] { attribute = engine_->database()->userAttributeWithName(name); });
        return attribute && attribute->value() ? std::optional(attribute->value()->int64Value()) : std::nullopt;
    }
    void storeProperty(const std::string& name, int64_t value) {
        onWorkerQueue(*engine_, [&] {
            engine_->setUserPropertyInDatabaseOnWorkerQueue(
                ZDMUserAttribute::initWithOrigin("auto", name, ZDMValue::initWithInt64(value), clock_->now()));
        });
    }

    std::shared_ptr<ZDMMeasurement> engine_;
    std::shared_ptr<ZDMScreenViewReporter> reporter_ = ZDMScreenViewReporter::sharedInstance();

  private:
    std::mutex mutex_;
    std::vector<LoggedEvent> events_;
    Cancellable observer_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
            std::lock_guard lock(mutex_);
            events_.push_back({origin, name, parameters});
        });
};
