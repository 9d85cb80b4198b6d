#pragma once
// Audience evaluation over a real measurement database file: definitions as hand-encoded
// protocol-buffer bytes, limits through the installed remote configuration, and result rows read
// back and decoded.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/audiences/ZDMAudience.h"
#include "measurement/audiences/filters/tests/FilterFixture.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMFilterResult.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"

// Filters are written with designated initializers that leave the other fields at their defaults
// on purpose; the compiler would otherwise ask for every field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Event filter tags: 1 ID, 2 name, 3 parameter filters, 5 count filter, 6 dynamic, 7 sequence,
// 8 session-scoped.
struct EventFilterSpec {
    int32_t id = 1;
    std::string name = "cycled";
    std::vector<Proto> parameters;
    bool dynamic = false;
    bool sequence = false;
    bool sessionScoped = false;

    Proto proto() const {
        Proto out = Proto().varint(1, static_cast<uint64_t>(static_cast<int64_t>(id))).text(2, name);
        for (const Proto& parameter : parameters) out.message(3, parameter);
        if (dynamic) out.varint(6, 1);
        if (sequence) out.varint(7, 1);
        if (sessionScoped) out.varint(8, 1);
        return out;
    }
};

// Property filter tags: 1 ID, 2 name, 3 value filter, 4 dynamic, 5 sequence, 6 session-scoped.
struct PropertyFilterSpec {
    int32_t id = 1;
    std::string name = "color";
    Proto filter = withString(stringFilter(5, "red"));
    bool dynamic = false;
    bool sequence = false;
    bool sessionScoped = false;

    Proto proto() const {
        Proto out = Proto()
                        .varint(1, static_cast<uint64_t>(static_cast<int64_t>(id)))
                        .text(2, name)
                        .message(3, filter);
        if (dynamic) out.varint(4, 1);
        if (sequence) out.varint(5, 1);
        if (sessionScoped) out.varint(6, 1);
        return out;
    }
};

// A parameter filter: a value filter with the parameter's name in tag 4.
inline Proto parameterFilter(const std::string& name, const Proto& valueFilter) {
    return Proto(valueFilter).text(4, name);
}

inline std::shared_ptr<ZDMPBAudience> audienceMessage(
    int32_t id, const std::vector<EventFilterSpec>& events,
    const std::vector<PropertyFilterSpec>& properties = {}) {
    Proto out = Proto().varint(1, static_cast<uint64_t>(static_cast<int64_t>(id)));
    for (const auto& property : properties) out.message(2, property.proto());
    for (const auto& event : events) out.message(3, event.proto());
    return decoded<ZDMPBAudience>(out);
}

// The decoded parts of a stored or bundled result message.
struct ResultBits {
    std::vector<uint64_t> status;
    std::vector<uint64_t> results;
    std::map<int32_t, int64_t> dynamicTimes;
    std::map<int32_t, std::vector<int64_t>> sequenceTimes;
    bool operator==(const ResultBits&) const = default;
};

inline std::vector<uint64_t> words(const NANOMessageBase& data, int32_t index) {
    std::vector<uint64_t> out;
    for (const Value& word : ZDMPBGetArray(&data, index).value_or(Value::Array()))
        out.push_back(static_cast<uint64_t>(word.integerOr(0)));
    return out;
}

inline ResultBits bitsOf(const ZDMPBResultData& data) {
    ResultBits bits{words(data, 0), words(data, 1), {}, {}};
    for (const Value& entry : ZDMPBGetArray(&data, 2, &ZDMPBDynamicFilterResultTimestamp::messageClass())
                                  .value_or(Value::Array())) {
        const auto message = entry.objectAs<ZDMPBDynamicFilterResultTimestamp>();
        bits.dynamicTimes[ZDMPBGetInt32(message.get(), 0)] = ZDMPBGetInt64(message.get(), 1);
    }
    for (const Value& entry : ZDMPBGetArray(&data, 3, &ZDMPBSequenceFilterResultTimestamp::messageClass())
                                  .value_or(Value::Array())) {
        const auto message = entry.objectAs<ZDMPBSequenceFilterResultTimestamp>();
        std::vector<int64_t> times;
        for (const Value& time : ZDMPBGetArray(message.get(), 1).value_or(Value::Array()))
            times.push_back(time.integerOr(0));
        bits.sequenceTimes[ZDMPBGetInt32(message.get(), 0)] = times;
    }
    return bits;
}

inline ResultBits bitsOf(const Data& bytes) {
    const auto data = ZDMPBResultData::initWithBuffer(bytes);
    EXPECT_TRUE(data) << "result bytes do not decode";
    return data ? bitsOf(*data) : ResultBits{};
}

// The encoded result message holding `bits`.
inline Data encodedBits(const ResultBits& bits) {
    auto data = ZDMPBResultData::initWithMessageInfo(nullptr);
    Value::Array status(bits.status.begin(), bits.status.end());
    Value::Array results(bits.results.begin(), bits.results.end());
    ZDMPBSetArray(data.get(), 0, status);
    ZDMPBSetArray(data.get(), 1, results);
    Value::Array dynamic;
    for (const auto& [filterID, time] : bits.dynamicTimes) {
        auto entry = ZDMPBDynamicFilterResultTimestamp::initWithMessageInfo(nullptr);
        ZDMPBSetInt32(entry.get(), 0, filterID);
        ZDMPBSetInt64(entry.get(), 1, time);
        dynamic.emplace_back(Value::ObjectPtr(entry));
    }
    ZDMPBSetArray(data.get(), 2, dynamic);
    Value::Array sequence;
    for (const auto& [filterID, times] : bits.sequenceTimes) {
        auto entry = ZDMPBSequenceFilterResultTimestamp::initWithMessageInfo(nullptr);
        ZDMPBSetInt32(entry.get(), 0, filterID);
        ZDMPBSetArray(entry.get(), 1, Value::Array(times.begin(), times.end()));
        sequence.emplace_back(Value::ObjectPtr(entry));
    }
    ZDMPBSetArray(data.get(), 3, sequence);
    return data->protoBuffer().value_or(Data());
}

class AudienceFixture : public Database {
  protected:
    AudienceFixture() {
        ZDMMeasurement::setRemoteConfigForTesting(config_);
        database_ = open();
        audience_ = ZDMAudience::initWithDatabase(database_);
    }
    ~AudienceFixture() override { ZDMMeasurement::setRemoteConfigForTesting(nullptr); }

    void setSetting(const std::string& key, const std::string& text) {
        config_->cacheValue(Value(text), key);
    }

    void store(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences) {
        ASSERT_TRUE(audience_->updateAudiences(audiences));
    }
    void storeRow(int32_t audienceID, const ResultBits& current, const Data& previous = {}) {
        Error error;
        ASSERT_TRUE(database_->updateFilterResults(
            {std::make_shared<ZDMFilterResult>(audienceID, encodedBits(current), previous)}, &error))
            << error.description;
    }
    std::shared_ptr<ZDMFilterResult> row(int32_t audienceID) {
        return database_->filterResultForAudienceID(audienceID);
    }
    // Whether the audience's filter is true in its stored row.
    bool isTrue(int32_t audienceID, int32_t filterID) {
        return ZDMAudience::isFilterResult(row(audienceID).get(), filterID);
    }
    bool evaluate(const std::string& name, Dictionary parameters, double timestamp,
                  ZDMAudienceTimestampsCache* cache = nullptr) {
        return audience_->evaluateFiltersForEventName(name, parameters, nullptr, timestamp, cache);
    }
    std::vector<std::string> rows(const std::string& sql) { return RawFile(path()).rows(sql); }
    // Every further write to the result table fails, as a full or broken disk would make it.
    void failResultWrites() {
        RawFile(path()).exec(
            "CREATE TRIGGER fail_results BEFORE INSERT ON audience_filter_values "
            "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
    }

    std::shared_ptr<ZDMRemoteConfig> config_ =
        std::make_shared<ZDMRemoteConfig>("1:123456:ios:abcdef", nullptr, nullptr);
    std::shared_ptr<ZDMDatabase> database_;
    std::shared_ptr<ZDMAudience> audience_;
};

inline Dictionary params(std::initializer_list<std::pair<const char*, const char*>> entries) {
    Dictionary out;
    for (const auto& [name, value] : entries) out[name] = Value(Value::ObjectPtr(text(value)));
    return out;
}
