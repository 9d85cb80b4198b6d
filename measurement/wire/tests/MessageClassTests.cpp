// The message classes: what they hand the runtime, and how they travel inside Value.
#include <gtest/gtest.h>

#include "measurement/wire/AudienceCodecs.h"
#include "measurement/wire/UploadCodecs.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "measurement/wire/tests/WireTestSupport.h"

TEST(MessageClasses, HandTheRuntimeTheirTypesRecordFunctions) {
    auto event = ZDMPBEvent::initWithBuffer(nullptr);
    EXPECT_STREQ(event->messageID(), "Event");
    EXPECT_EQ(event->messageInfo()->name, event->messageID());
    EXPECT_EQ(event->className(), "ZDMPBEvent");
    EXPECT_EQ(event->initMessageInfoFn(), &ZDMPBEventInitMessageInfo);
    EXPECT_EQ(event->deallocMessageFieldFn(), &ZDMPBEventDeallocMessageField);
    EXPECT_EQ(event->copyMessageInfoFn(), &ZDMPBEventCopyMessageInfo);
    auto leaf = ZDMPBAudienceLeafFilterResult::initWithBuffer(nullptr);
    EXPECT_EQ(leaf->copyMessageInfoFn(), &ZDMPBAudienceLeafFilterResultCopyMessageInfo);
}

TEST(MessageClasses, AbsentEmbeddedMessageStaysAbsentAfterDecoding) {
    Data current;
    putKey(current, 1, 0);
    putVarint(current, 1);
    Data bytes;
    putKey(bytes, 1, 0);
    putVarint(bytes, 2);
    putBytes(bytes, 2, current);
    auto leaf = ZDMPBAudienceLeafFilterResult::initWithBuffer(bytes);
    ASSERT_TRUE(leaf);
    EXPECT_TRUE(ZDMPBHasField(leaf.get(), 1));
    EXPECT_FALSE(ZDMPBHasField(leaf.get(), 2));
    EXPECT_FALSE(ZDMPBHasField(leaf.get(), 3));
    EXPECT_EQ(ZDMPBGetArray(ZDMPBGetMessage<ZDMPBResultData>(leaf.get(), 1).get(), 0), Value::Array{1});
    EXPECT_EQ(leaf->protoBuffer(), bytes);
}

TEST(MessageClasses, TravelInsideValuesAsObjects) {
    auto event = ZDMPBEvent::initWithBuffer(nullptr);
    const Value held = object(event);
    ASSERT_TRUE(held.isObject());
    EXPECT_EQ(held.asObject()->className(), "ZDMPBEvent");
    EXPECT_EQ(held, object(event));
    EXPECT_NE(held, object(ZDMPBEvent::initWithBuffer(nullptr)));  // objects compare by identity
    EXPECT_NE(held, Value("ZDMPBEvent"));
}
