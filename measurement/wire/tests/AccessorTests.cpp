// The index accessors over real message objects: kinds, failures and the copies they hand out.
#include <gtest/gtest.h>

#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "measurement/wire/tests/WireTestSupport.h"

TEST(Accessors, PresenceFollowsCardinalityAndTheValuePointer) {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    EXPECT_TRUE(ZDMPBHasField(event.get(), 0));  // repeated, no elements
    EXPECT_FALSE(ZDMPBHasField(event.get(), 1));
    EXPECT_EQ(ZDMPBGetArray(event.get(), 0), Value::Array{});

    ZDMPBSetString(event.get(), 1, "_s");
    EXPECT_TRUE(ZDMPBHasField(event.get(), 1));
    ZDMPBSetString(event.get(), 1, std::nullopt);
    EXPECT_FALSE(ZDMPBHasField(event.get(), 1));
    EXPECT_EQ(ZDMPBGetString(event.get(), 1), std::nullopt);

    ZDMPBSetArray(event.get(), 0, std::nullopt);
    EXPECT_TRUE(ZDMPBHasField(event.get(), 0));
    EXPECT_EQ(ZDMPBGetArray(event.get(), 0), Value::Array{});
}

TEST(Accessors, UnsetFieldsReadEmptyWithoutALogLine) {
    LoggedLines logged;
    auto attribute = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
    EXPECT_EQ(ZDMPBGetInt64(attribute.get(), 0), 0);
    EXPECT_EQ(ZDMPBGetString(attribute.get(), 1), std::nullopt);
    EXPECT_EQ(ZDMPBGetFloat(attribute.get(), 4), 0.0f);
    EXPECT_EQ(ZDMPBGetDouble(attribute.get(), 5), 0.0);
    auto leaf = ZDMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
    EXPECT_FALSE(ZDMPBGetBool(leaf.get(), 3));
    EXPECT_EQ(ZDMPBGetMessage<ZDMPBResultData>(leaf.get(), 1), nullptr);
    EXPECT_TRUE(logged.lines().empty());
}

TEST(Accessors, IntegerGettersAcceptTheirKindsAndEnums) {
    auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    ZDMPBSetInt32(bundle.get(), 41, 3);  // enum
    ZDMPBSetInt32(bundle.get(), 12, -330);
    ZDMPBSetInt64(bundle.get(), 38, INT64_MIN);
    EXPECT_EQ(ZDMPBGetInt32(bundle.get(), 41), 3);
    EXPECT_EQ(ZDMPBGetInt32(bundle.get(), 12), -330);
    EXPECT_EQ(ZDMPBGetInt64(bundle.get(), 38), INT64_MIN);
    auto result = ZDMPBResultData::initWithMessageInfo(nullptr);
    ZDMPBSetArray(result.get(), 0, Value::Array{static_cast<unsigned long long>(UINT64_MAX)});
    EXPECT_EQ(hex(result->protoBuffer()), "08ffffffffffffffffff01");
}

TEST(Accessors, AccessorOfAnotherKindLogsAndLeavesTheMessageAlone) {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    ZDMPBSetString(event.get(), 1, "purchase");
    const auto before = event->protoBuffer();
    LoggedLines logged;
    EXPECT_EQ(ZDMPBGetInt64(event.get(), 1), 0);
    ZDMPBSetInt64(event.get(), 1, 5);
    ZDMPBSetDouble(event.get(), 2, 1.5);
    EXPECT_EQ(ZDMPBGetArray(event.get(), 1), std::nullopt);
    ZDMPBSetMessage(event.get(), 1, event.get());
    EXPECT_EQ(logged.lines(),
              (std::vector<std::string>{
                  "<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 1",
                  "<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 1",
                  "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: Event, field ID: 2",
                  "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1",
                  "<Nano/Failure> Field type isn't a scalar MESSAGE. Message: Event, field ID: 1",
              }));
    EXPECT_EQ(event->protoBuffer(), before);
}

TEST(Accessors, MessageWithoutARecordOrIndexOutOfRangeAnswersEmpty) {
    LoggedLines logged;
    EXPECT_FALSE(ZDMPBHasField(nullptr, 0));
    EXPECT_EQ(ZDMPBGetInt32(nullptr, 0), 0);
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    EXPECT_FALSE(ZDMPBHasField(event.get(), 5));
    ZDMPBSetInt32(event.get(), -1, 1);
    EXPECT_EQ(logged.lines(),
              (std::vector<std::string>{
                  "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. "
                  "Message name "
                  "(null)",
                  "ProtocolBuffer message hasn't been initialized. GetInt32 can't be performed",
                  "<Nano/Failure> Field ID is out of range. Message: Event, field ID: 5",
                  "<Nano/Failure> Field ID is out of range. Message: Event, field ID: -1",
              }));
    EXPECT_EQ(event->protoBuffer(), Data());
}

TEST(Accessors, SetArrayRefusingAnElementLeavesTheFieldEmptyAndLogsOnce) {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    auto first = ZDMPBEventParam::initWithMessageInfo(nullptr);
    ZDMPBSetString(first.get(), 0, "a");

    struct Case {
        NANOMessageBase* message;
        int32_t index;
        Value::Array before;
        Value::Array elements;
        std::string text;
    };
    auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    auto other = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
    const Case cases[] = {
        {event.get(),
         0,
         {object(first)},
         {object(first), object(first), "third"},
         "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: NSString"},
        {event.get(),
         0,
         {object(first)},
         {object(first), object(first), object(other)},
         "<ERROR> Invalid object type. Message fields expect ZDMPBEventParam. Type: ZDMPBUserAttribute"},
        {bundle.get(),
         44,
         {"x"},
         {"a", "b", 3},
         "<ERROR> Invalid object type. String fields expect NSString. Type: NSNumber"},
        {bundle.get(),
         37,
         {9},
         {1, 2, Data{1}},
         "<ERROR> Invalid object type. Int32 fields expect NSNumber. Type: NSData"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ZDMPBSetArray(c.message, c.index, c.before);
        ASSERT_EQ(ZDMPBGetArray(c.message, c.index, &ZDMPBEventParam::messageClass())->size(), 1u);
        LoggedLines logged;
        std::string printed = stdoutOf([&] { ZDMPBSetArray(c.message, c.index, c.elements); });
        EXPECT_EQ(logged.lines(), std::vector<std::string>{c.text});
        EXPECT_EQ(printed, "");
        EXPECT_TRUE(ZDMPBHasField(c.message, c.index));
        EXPECT_EQ(ZDMPBGetArray(c.message, c.index, &ZDMPBEventParam::messageClass()), Value::Array{});
    }
}

TEST(Accessors, SubMessagesAndArraysReadOutAreDetachedCopies) {
    auto leaf = ZDMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
    auto current = ZDMPBResultData::initWithMessageInfo(nullptr);
    ZDMPBSetArray(current.get(), 0, Value::Array{1});
    ZDMPBSetMessage(leaf.get(), 1, current.get());
    ZDMPBSetArray(current.get(), 0, Value::Array{2});  // the parent holds its own copy
    const auto stored = leaf->protoBuffer();

    auto read = ZDMPBGetMessage<ZDMPBResultData>(leaf.get(), 1);
    ASSERT_TRUE(read);
    EXPECT_EQ(ZDMPBGetArray(read.get(), 0), Value::Array{1});
    ZDMPBSetArray(read.get(), 0, Value::Array{7, 8});
    EXPECT_EQ(leaf->protoBuffer(), stored);
    ZDMPBSetMessage(leaf.get(), 1, read.get());
    auto again = ZDMPBGetMessage<ZDMPBResultData>(leaf.get(), 1);
    EXPECT_EQ(ZDMPBGetArray(again.get(), 0), (Value::Array{7, 8}));

    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    auto param = ZDMPBEventParam::initWithMessageInfo(nullptr);
    ZDMPBSetString(param.get(), 0, "a");
    ZDMPBSetArray(event.get(), 0, Value::Array{object(param)});
    ZDMPBSetString(param.get(), 0, "changed");
    auto elements = ZDMPBGetArray(event.get(), 0, &ZDMPBEventParam::messageClass());
    ASSERT_TRUE(elements && elements->size() == 1u);
    auto element = std::dynamic_pointer_cast<const ZDMPBEventParam>((*elements)[0].asObject());
    EXPECT_EQ(ZDMPBGetString(element.get(), 0), "a");
    ZDMPBSetString(const_cast<ZDMPBEventParam*>(element.get()), 0, "also changed");
    auto reread = ZDMPBGetArray(event.get(), 0, &ZDMPBEventParam::messageClass());
    EXPECT_EQ(
        ZDMPBGetString(std::dynamic_pointer_cast<const ZDMPBEventParam>((*reread)[0].asObject()).get(), 0),
        "a");
}

TEST(Accessors, SetMessageRefusesAMessageOfAnotherType) {
    auto leaf = ZDMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    LoggedLines logged;
    ZDMPBSetMessage(leaf.get(), 1, event.get());
    ZDMPBSetMessage(leaf.get(), 2, nullptr);
    EXPECT_EQ(logged.lines(),
              (std::vector<std::string>{
                  "<Nano/Failure> Sub-message isn't a ResultData. Message: AudienceLeafFilterResult, "
                  "field ID: 1",
                  "<Nano/Failure> Sub-message isn't a ResultData. Message: AudienceLeafFilterResult, "
                  "field ID: 2",
              }));
    EXPECT_FALSE(ZDMPBHasField(leaf.get(), 1));
    EXPECT_EQ(leaf->protoBuffer(), Data());
}

TEST(Accessors, ArraysConvertEachKindAndSkipTextThatIsNotUtf8) {
    auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    ZDMPBSetArray(bundle.get(), 44, Value::Array{"user_id", "", "é"});
    EXPECT_EQ(ZDMPBGetArray(bundle.get(), 44), (Value::Array{"user_id", "", "é"}));
    ZDMPBSetArray(bundle.get(), 37, Value::Array{0, 4294967295u, true});
    EXPECT_EQ(ZDMPBGetArray(bundle.get(), 37), (Value::Array{0, 4294967295u, 1}));

    Data bytes;
    putBytes(bytes, 64, Data{'o', 'k'});
    putBytes(bytes, 64, Data{0xff, 0xfe});
    auto decoded = ZDMPBMeasurementBundle::initWithBuffer(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(ZDMPBGetArray(decoded.get(), 44), Value::Array{"ok"});
    EXPECT_EQ(decoded->protoBuffer(), bytes);
}

TEST(Accessors, MessageElementsNeedAClassThatMakesThem) {
    auto batch = ZDMPBMeasurementBatch::initWithMessageInfo(nullptr);
    ZDMPBSetArray(batch.get(), 0, Value::Array{object(ZDMPBMeasurementBundle::initWithMessageInfo(nullptr))});
    LoggedLines logged;
    EXPECT_EQ(ZDMPBGetArray(batch.get(), 0), Value::Array{});
    EXPECT_EQ(ZDMPBGetArray(batch.get(), 0, &ZDMPBEvent::messageClass()), Value::Array{});
    EXPECT_EQ(logged.lines(),
              std::vector<std::string>{
                  "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)"});
    EXPECT_EQ(ZDMPBGetArray(batch.get(), 0, &ZDMPBMeasurementBundle::messageClass())->size(), 1u);
}
