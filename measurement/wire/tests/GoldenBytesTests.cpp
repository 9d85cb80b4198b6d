// Our encoder against protoc's bytes for the same messages, and decoding them back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "measurement/wire/AudienceCodecs.h"
#include "measurement/wire/UploadCodecs.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "measurement/wire/tests/WireTestSupport.h"

namespace {

template <class T>
std::shared_ptr<T> empty() {
    return T::initWithMessageInfo(nullptr);
}

std::shared_ptr<ZDMPBEventParam> param(std::string_view name, const Value& value) {
    auto p = empty<ZDMPBEventParam>();
    if (!name.empty()) ZDMPBSetString(p.get(), 0, name);
    if (value.isString()) ZDMPBSetString(p.get(), 1, *value.asString());
    if (value.isInteger()) ZDMPBSetInt64(p.get(), 2, *value.asInteger());
    if (value.isReal()) ZDMPBSetDouble(p.get(), 4, *value.asReal());
    return p;
}

// An array value: one nameless EventParam per item, holding the item's entries in its index 5.
std::shared_ptr<ZDMPBEventParam> arrayParam(std::string_view name, const std::vector<Value::Array>& items) {
    auto p = empty<ZDMPBEventParam>();
    ZDMPBSetString(p.get(), 0, name);
    Value::Array elements;
    for (const auto& entries : items) {
        auto item = empty<ZDMPBEventParam>();
        ZDMPBSetArray(item.get(), 5, entries);
        elements.push_back(object(item));
    }
    ZDMPBSetArray(p.get(), 5, elements);
    return p;
}

std::shared_ptr<ZDMPBEvent> fullEvent() {
    auto e = empty<ZDMPBEvent>();
    ZDMPBSetArray(e.get(), 0,
                  Value::Array{object(param("item_id", "sku-1")), object(param("value", -42)),
                               object(param("ratio", 0.25))});
    ZDMPBSetString(e.get(), 1, "purchase");
    ZDMPBSetInt64(e.get(), 2, 1700000000123);
    ZDMPBSetInt64(e.get(), 3, 1699999999000);
    ZDMPBSetInt32(e.get(), 4, 7);
    return e;
}

std::shared_ptr<ZDMPBUserAttribute> fullUserAttribute() {
    auto u = empty<ZDMPBUserAttribute>();
    ZDMPBSetInt64(u.get(), 0, 1700000000000);
    ZDMPBSetString(u.get(), 1, "_fot");
    ZDMPBSetString(u.get(), 2, "blue");
    ZDMPBSetInt64(u.get(), 3, -3);
    ZDMPBSetFloat(u.get(), 4, 0.5f);
    ZDMPBSetDouble(u.get(), 5, 1e100);
    return u;
}

std::shared_ptr<ZDMPBDynamicFilterResultTimestamp> dynamicTimestamp(int32_t filter, int64_t time) {
    auto d = empty<ZDMPBDynamicFilterResultTimestamp>();
    ZDMPBSetInt32(d.get(), 0, filter);
    ZDMPBSetInt64(d.get(), 1, time);
    return d;
}

std::shared_ptr<ZDMPBSequenceFilterResultTimestamp> sequenceTimestamp(int32_t filter, Value::Array times) {
    auto s = empty<ZDMPBSequenceFilterResultTimestamp>();
    ZDMPBSetInt32(s.get(), 0, filter);
    ZDMPBSetArray(s.get(), 1, times);
    return s;
}

std::shared_ptr<ZDMPBResultData> resultData(Value::Array status, Value::Array results,
                                            Value::Array dynamic = {}, Value::Array sequence = {}) {
    auto r = empty<ZDMPBResultData>();
    ZDMPBSetArray(r.get(), 0, status);
    ZDMPBSetArray(r.get(), 1, results);
    ZDMPBSetArray(r.get(), 2, dynamic);
    ZDMPBSetArray(r.get(), 3, sequence);
    return r;
}

std::shared_ptr<ZDMPBAudienceLeafFilterResult> fullLeafResult() {
    auto a = empty<ZDMPBAudienceLeafFilterResult>();
    ZDMPBSetInt32(a.get(), 0, 12);
    auto current =
        resultData({3, 1}, {1, 1}, {object(dynamicTimestamp(0, 5))}, {object(sequenceTimestamp(1, {6, 7}))});
    ZDMPBSetMessage(a.get(), 1, current.get());
    ZDMPBSetMessage(a.get(), 2, resultData({1}, {0}).get());
    ZDMPBSetBool(a.get(), 3, false);
    return a;
}

// Every one of the 46 indexes, set through the accessors; the fixture holds the same values.
std::shared_ptr<ZDMPBMeasurementBundle> fullBundle() {
    auto b = empty<ZDMPBMeasurementBundle>();
    auto* m = b.get();
    ZDMPBSetInt32(m, 0, 1);
    ZDMPBSetArray(m, 1, Value::Array{object(fullEvent()), object(fullEvent())});
    ZDMPBSetArray(m, 2, Value::Array{object(fullUserAttribute()), object(fullUserAttribute())});
    const std::pair<int32_t, int64_t> int64s[] = {{3, 4},    {4, 5},   {5, 6},       {6, 26},
                                                  {7, 7},    {15, 15}, {17, 101300}, {18, 101301},
                                                  {23, -22}, {34, 35}, {38, -47}};
    for (auto [index, value] : int64s) ZDMPBSetInt64(m, index, value);
    const std::pair<int32_t, int32_t> int32s[] = {{12, -330}, {24, 23}, {30, 1}, {31, 2},
                                                  {32, 3},    {35, 39}, {41, 3}};
    for (auto [index, value] : int32s) ZDMPBSetInt32(m, index, value);
    const std::pair<int32_t, const char*> strings[] = {
        {8, "macos"},
        {9, "14.1.2"},
        {10, "Mac14,2"},
        {11, "en-us"},
        {13, "manual_install"},
        {14, "com.example.app"},
        {16, "1.2.3"},
        {19, "00000000-0000-0000-0000-000000000019"},
        {20, "00000000-0000-0000-0000-000000000027"},
        {22, "instance-21"},
        {25, "0:"},
        {26, "1:123:macos:abc"},
        {29, "fid-30"},
        {33, "thirty-four"},
        {36, "ca-app-41"},
        {39, "fifty"},
        {40, "G111"},
        {43, "token-63"},
        {45, "ephemeral-65"},
    };
    for (auto [index, value] : strings) ZDMPBSetString(m, index, value);
    ZDMPBSetBool(m, 21, true);
    ZDMPBSetBool(m, 27, true);
    ZDMPBSetBool(m, 42, false);
    ZDMPBSetArray(m, 28, Value::Array{object(fullLeafResult()), object(fullLeafResult())});
    ZDMPBSetArray(m, 37, Value::Array{45, 4294967295u, 0});
    ZDMPBSetArray(m, 44, Value::Array{"user_id", "device_model"});
    return b;
}

std::shared_ptr<ZDMPBMeasurementBatch> fullBatch() {
    auto first = empty<ZDMPBMeasurementBundle>();
    ZDMPBSetInt32(first.get(), 0, 1);
    Value::Array events;
    for (auto [name, time] : {std::pair{"_e", 1}, std::pair{"_s", 2}}) {
        auto e = empty<ZDMPBEvent>();
        ZDMPBSetString(e.get(), 1, name);
        ZDMPBSetInt64(e.get(), 2, time);
        events.push_back(object(e));
    }
    ZDMPBSetArray(first.get(), 1, events);
    ZDMPBSetString(first.get(), 8, "macos");
    auto second = empty<ZDMPBMeasurementBundle>();
    ZDMPBSetInt32(second.get(), 0, 1);
    Value::Array attributes;
    for (auto [name, value] : {std::pair{"_fot", 1}, std::pair{"_lte", 2}}) {
        auto u = empty<ZDMPBUserAttribute>();
        ZDMPBSetString(u.get(), 1, name);
        ZDMPBSetInt64(u.get(), 3, value);
        attributes.push_back(object(u));
    }
    ZDMPBSetArray(second.get(), 2, attributes);
    ZDMPBSetArray(second.get(), 37, Value::Array{7, 8});
    auto batch = empty<ZDMPBMeasurementBatch>();
    ZDMPBSetArray(batch.get(), 0, Value::Array{object(first), object(second)});
    return batch;
}

std::shared_ptr<ZDMPBEventParam> fullEventParam() {
    auto p = arrayParam("items", {{object(param("item_name", "pen")), object(param("quantity", 2))},
                                  {object(param("item_name", "ink")), object(param("price", 3.5))},
                                  {object(param("item_name", ""))}});
    ZDMPBSetString(p.get(), 1, "s");
    ZDMPBSetInt64(p.get(), 2, 5);
    ZDMPBSetFloat(p.get(), 3, 1.5f);
    ZDMPBSetDouble(p.get(), 4, 2.25);
    return p;
}

template <class T>
std::optional<Data> reencoded(const Data& bytes) {
    auto message = T::initWithBuffer(bytes);
    return message ? message->protoBuffer() : std::nullopt;
}

struct GoldenCase {
    const char* fixture;
    std::function<std::shared_ptr<NANOMessageBase>()> build;
    std::function<std::optional<Data>(const Data&)> roundTrip;
};

template <class T, class Build>
GoldenCase goldenCase(const char* fixture, Build build) {
    return {fixture, [build] { return std::shared_ptr<NANOMessageBase>(build()); }, reencoded<T>};
}

}  // namespace

TEST(GoldenBytes, EveryMessageBuiltThroughTheAccessorsEncodesAsProtocAndSurvivesDecoding) {
    const GoldenCase cases[] = {
        goldenCase<ZDMPBMeasurementBatch>("MeasurementBatch.full", fullBatch),
        goldenCase<ZDMPBMeasurementBundle>("MeasurementBundle.full", fullBundle),
        goldenCase<ZDMPBEvent>("Event.full", fullEvent),
        goldenCase<ZDMPBEventParam>("EventParam.full", fullEventParam),
        goldenCase<ZDMPBUserAttribute>("UserAttribute.full", fullUserAttribute),
        goldenCase<ZDMPBResultData>(
            "ResultData.full",
            [] {
                return resultData(
                    {0, 64, static_cast<unsigned long long>(UINT64_MAX)}, {1, 64},
                    {object(dynamicTimestamp(1, 1700000000000)), object(dynamicTimestamp(70, 1700000001000))},
                    {object(sequenceTimestamp(2, {10, 20})), object(sequenceTimestamp(5, {30}))});
            }),
        goldenCase<ZDMPBAudienceLeafFilterResult>("AudienceLeafFilterResult.full", fullLeafResult),
        goldenCase<ZDMPBDynamicFilterResultTimestamp>("DynamicFilterResultTimestamp.full",
                                                      [] { return dynamicTimestamp(3, 1700000000000); }),
        goldenCase<ZDMPBSequenceFilterResultTimestamp>(
            "SequenceFilterResultTimestamp.full",
            [] {
                return sequenceTimestamp(4, {1700000000000, -1, 1700000000500});
            }),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        const Data expected = golden(c.fixture);
        EXPECT_EQ(hex(c.build()->protoBuffer()), hex(expected));
        EXPECT_EQ(hex(c.roundTrip(expected)), hex(expected));
    }
}

TEST(GoldenBytes, ArrayParameterOfTwoItemsNestsOneLevelPerItem) {
    auto items = arrayParam("items", {{object(param("item_name", "pen")), object(param("quantity", 2))},
                                      {object(param("item_name", "ink")), object(param("price", 3.5))}});
    EXPECT_EQ(hex(items->protoBuffer()), hex(golden("EventParam.items")));

    auto decoded = ZDMPBEventParam::initWithBuffer(golden("EventParam.items"));
    ASSERT_TRUE(decoded);
    auto elements = ZDMPBGetArray(decoded.get(), 5, &ZDMPBEventParam::messageClass());
    ASSERT_TRUE(elements);
    ASSERT_EQ(elements->size(), 2u);
    auto second = std::dynamic_pointer_cast<const ZDMPBEventParam>((*elements)[1].asObject());
    ASSERT_TRUE(second);
    EXPECT_FALSE(ZDMPBHasField(second.get(), 0));
    auto entries = ZDMPBGetArray(second.get(), 5, &ZDMPBEventParam::messageClass());
    ASSERT_TRUE(entries && entries->size() == 2u);
    auto price = std::dynamic_pointer_cast<const ZDMPBEventParam>((*entries)[1].asObject());
    EXPECT_EQ(ZDMPBGetString(price.get(), 0), "price");
    EXPECT_EQ(ZDMPBGetDouble(price.get(), 4), 3.5);
}

TEST(GoldenBytes, ResultDataWithFilter70TrueRoundTrips) {
    auto result = resultData({0, 1 << 6}, {0, 1 << 6});
    const Data expected = golden("ResultData.filter70");
    EXPECT_EQ(hex(result->protoBuffer()), hex(expected));
    auto decoded = ZDMPBResultData::initWithBuffer(expected);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(ZDMPBGetArray(decoded.get(), 0), (Value::Array{0, 64}));
    EXPECT_EQ(ZDMPBGetArray(decoded.get(), 1), (Value::Array{0, 64}));
    EXPECT_EQ(hex(decoded->protoBuffer()), hex(expected));
}

TEST(GoldenBytes, DecodedRepeatedFieldIsFilledToItsCountAndItsCopyStartsOver) {
    const Data bytes = golden("Event.full");
    auto* info = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    ASSERT_TRUE(ZDMPBEventInitMessageInfo(info));
    ASSERT_TRUE(ZDMPBEventDecode(bytes.data(), bytes.size(), info));
    const auto* params = static_cast<const ZDMPBRepeatedSlot*>(info->fieldValues[0]);
    EXPECT_EQ(params->count, 3u);
    EXPECT_EQ(params->cursor, 3u);

    ZDMPBMessageInfo* copy = nullptr;
    ASSERT_TRUE(ZDMPBEventCopyMessageInfo(&copy, info));
    const auto* copied = static_cast<const ZDMPBRepeatedSlot*>(copy->fieldValues[0]);
    EXPECT_EQ(copied->count, 3u);
    EXPECT_EQ(copied->cursor, 0u);
    for (const ZDMPBMessageInfo* record : std::vector<const ZDMPBMessageInfo*>{info, copy}) {
        uint8_t* buffer = nullptr;
        const int32_t length = ZDMPBEventEncode(record, &buffer);
        ASSERT_EQ(length, static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(hex(Data(buffer, buffer + length)), hex(bytes));
        std::free(buffer);
    }
    EXPECT_TRUE(ZDMPBEventDeallocMessageInfo(info));
    EXPECT_TRUE(ZDMPBEventDeallocMessageInfo(copy));
}
