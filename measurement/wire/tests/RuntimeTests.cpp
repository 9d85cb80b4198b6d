// The C setters and conversions under the accessors and codecs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "measurement/wire/ZDMPBRuntime.h"
#include "measurement/wire/tests/WireTestSupport.h"

TEST(Runtime, SettersWithoutADestinationPrintAndChangeNothing) {
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[] { ZDMPBSetBoolValue(nullptr, true); },
         "<ERROR> Unable to set bool. Destination pointer is NULL\n"},
        {[] { ZDMPBSetUInt32Value(nullptr, 1); },
         "<ERROR> Unable to set uint32. Destination pointer is NULL\n"},
        {[] { ZDMPBSetUInt64Value(nullptr, 1); },
         "<ERROR> Unable to set uint64. Destination pointer is NULL\n"},
        {[] { ZDMPBSetFloatValue(nullptr, 1); },
         "<ERROR> Unable to set float. Destination pointer is NULL\n"},
        {[] { ZDMPBSetDoubleValue(nullptr, 1); },
         "<ERROR> Unable to set double. Destination pointer is NULL\n"},
        {[] { ZDMPBSetStringValue(nullptr, nullptr, 0); },
         "<ERROR> Unable to set string. Destination array is NULL\n"},
        {[] { ZDMPBClearString(nullptr); },
         "<ERROR> Unable to dealloc string field. String struct is NULL\n"},
        {[] { ZDMPBClearBytes(static_cast<ZDMPBRepeatedSlot*>(nullptr)); },
         "<ERROR> Unable to initialize the array. Array pointer is NULL\n"},
    };
    for (const auto& [call, text] : cases) EXPECT_EQ(stdoutOf(call), text);
}

TEST(Runtime, CellsAreReusedAndHoldValuesZeroExtended) {
    void* cell = nullptr;
    ZDMPBSetUInt32Value(&cell, 0xFFFFFFFFu);
    void* const first = cell;
    EXPECT_EQ(ZDMPBCellBits(cell), 0xFFFFFFFFull);
    ZDMPBSetBoolValue(&cell, true);
    EXPECT_EQ(cell, first);
    EXPECT_EQ(ZDMPBCellBits(cell) & 0xFF, 1u);
    std::free(cell);

    void* slot = nullptr;
    const uint8_t text[] = {'a', 'b'};
    ZDMPBSetStringValue(&slot, text, 2);
    auto* string = static_cast<ZDMPBStringSlot*>(slot);
    EXPECT_EQ(string->length, 2u);
    EXPECT_EQ(string->bytes[2], 0);  // the setter's copy is NUL-terminated
    ZDMPBClearString(string);
    EXPECT_EQ(string->bytes, nullptr);
    EXPECT_EQ(string->length, 0u);
    std::free(slot);
}

TEST(Runtime, ObjectsConvertToBytesOnlyFromTheirOwnKind) {
    ZDMPBStringSlot slot{};
    EXPECT_TRUE(ZDMPBCopyStringToBytes(Value(), &slot));
    EXPECT_EQ(slot.bytes, nullptr);
    EXPECT_FALSE(ZDMPBCopyStringToBytes(Value(Data{1}), &slot));
    EXPECT_FALSE(ZDMPBCopyDataToBytes(Value("text"), &slot));
    ASSERT_TRUE(ZDMPBCopyStringToBytes(Value(""), &slot));
    EXPECT_NE(slot.bytes, nullptr);  // an empty text is still a text
    EXPECT_EQ(slot.length, 0u);
    ZDMPBClearString(&slot);
    ASSERT_TRUE(ZDMPBCopyDataToBytes(Value(Data{7, 8}), &slot));
    EXPECT_EQ(Data(slot.bytes, slot.bytes + slot.length), (Data{7, 8}));
    ZDMPBClearBytes(&slot);
}
