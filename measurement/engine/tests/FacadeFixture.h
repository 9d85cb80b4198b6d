#pragma once
// The facade over a real engine: started, when a test wants it so, with the engine's start-up
// reports forgotten, so that what the test hands to the facade is all the engine stores. Reads back
// the stored user properties and the decoded raw events, and runs the main queue for answers.
#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OperationQueue.h"
#include "testing/Eventually.h"

struct StoredProperty {
    std::string origin;
    Value value;
};

class FacadeFixture : public EngineFixture {
  protected:
    static constexpr const char* kAppID = "1:123456:ios:abcdef";

    void startFacade() {
        ZDMAnalytics::startWithAppID(kAppID, "za", {});
        settle();
        ASSERT_TRUE(ZDMMeasurement::hasSharedInstance());
        forgetStartUpReports(*ZDMMeasurement::sharedInstance());
    }
    // Every stored user property, internal ones included, by name.
    std::map<std::string, StoredProperty> storedProperties() {
        settle();
        std::map<std::string, StoredProperty> properties;
        const auto engine = ZDMMeasurement::sharedInstance();
        onWorkerQueue(*engine, [&] {
            const auto all = engine->database()->userAttributesIncludingInternal(true);
            for (const auto& attribute : all.value_or(std::vector<std::shared_ptr<ZDMUserAttribute>>{}))
                properties[attribute->name()] = {attribute->origin(), attribute->value()->value()};
        });
        return properties;
    }
    // The stored raw events in row order, decoded by the engine's database; none without an engine.
    std::vector<std::shared_ptr<ZDMEvent>> storedEvents() {
        settle();
        std::vector<std::shared_ptr<ZDMEvent>> events;
        if (!ZDMMeasurement::hasSharedInstance()) return events;
        const auto engine = ZDMMeasurement::sharedInstance();
        onWorkerQueue(*engine, [&] {
            RawFile file(databasePath());
            for (const std::string& text :
                 file.rows("SELECT DISTINCT metadata_fingerprint FROM raw_events")) {
                int64_t fingerprint = 0;
                std::from_chars(text.data(), text.data() + text.size(), fingerprint);
                const auto records =
                    engine->database()->rawEventsWithMetadataFingerprint(fingerprint, nullptr, nullptr);
                for (const auto& record : records.value_or(std::vector<std::shared_ptr<ZDMRawEventData>>{}))
                    events.push_back(record->rawEvent());
            }
        });
        return events;
    }
    // Runs the main queue until `answered` holds.
    template <class Predicate>
    static bool eventuallyOnMainQueue(Predicate&& answered) {
        return eventually([&] {
            RunLoop::runUntilIdle();
            return answered();
        });
    }
};
