// Decoding and encoding at the edges: tag placement, packed input, dropped fields, size limits,
// malformed bytes and broken records.
#include <gtest/gtest.h>

#include <cstdlib>

#include "measurement/wire/UploadCodecs.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "measurement/wire/tests/WireTestSupport.h"

namespace {

std::shared_ptr<ZDMPBMeasurementBundle> emptyBundle() {
    return ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
}

Data eventWithName(size_t length) {
    Data bytes;
    putBytes(bytes, 2, Data(length, 'n'));
    return bytes;
}

// EventParams nested `levels` deep (the outermost counts), each inner one in its parent's tag 6;
// the innermost carries a name.
Data nestedParams(size_t levels) {
    Data inner;
    putBytes(inner, 1, Data{'x'});
    for (size_t level = 1; level < levels; ++level) {
        Data outer;
        putBytes(outer, 6, inner);
        inner.swap(outer);
    }
    return inner;
}

// The same, built outside in without copying the tail at every level.
Data deeplyNestedParams(size_t levels) {
    std::vector<size_t> lengths(levels, 0);
    auto varintSize = [](uint64_t v) {
        size_t n = 1;
        while (v >= 0x80) v >>= 7, ++n;
        return n;
    };
    for (size_t level = 1; level < levels; ++level)
        lengths[level] = 1 + varintSize(lengths[level - 1]) + lengths[level - 1];
    Data bytes;
    for (size_t level = levels - 1; level >= 1; --level) {
        putKey(bytes, 6, 2);
        putVarint(bytes, lengths[level - 1]);
    }
    return bytes;
}

struct Record {
    ZDMPBMessageInfo* info = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    Record() { ZDMPBMeasurementBundleInitMessageInfo(info); }
    ~Record() { ZDMPBMeasurementBundleDeallocMessageInfo(info); }
};

}  // namespace

TEST(Codecs, BundleIndexesWriteTheirOwnTags) {
    struct Case {
        int32_t index;
        std::function<void(NANOMessageBase*)> set;
        std::string bytes;
    };
    const Case cases[] = {
        {6, [](NANOMessageBase* m) { ZDMPBSetInt64(m, 6, 1); }, "d00101"},         // tag 26, varint
        {20, [](NANOMessageBase* m) { ZDMPBSetString(m, 20, "v"); }, "da010176"},  // tag 27
        {19, [](NANOMessageBase* m) { ZDMPBSetString(m, 19, "a"); }, "9a010161"},  // tag 19
        {35, [](NANOMessageBase* m) { ZDMPBSetInt32(m, 35, 2); }, "b80202"},       // tag 39
        {37,
         [](NANOMessageBase* m) {
             ZDMPBSetArray(m, 37, Value::Array{1, 300});
         },
         "e80201e802ac02"},                                                     // 45, unpacked
        {21, [](NANOMessageBase* m) { ZDMPBSetBool(m, 21, true); }, "a00101"},  // tag 20
        {41, [](NANOMessageBase* m) { ZDMPBSetInt32(m, 41, 3); }, "a80303"},    // tag 53
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        auto bundle = emptyBundle();
        c.set(bundle.get());
        EXPECT_EQ(hex(bundle->protoBuffer()), c.bytes);
    }
}

TEST(Codecs, NegativeInt32IsTheTenByteVarintProtocWrites) {
    auto bundle = emptyBundle();
    ZDMPBSetInt32(bundle.get(), 12, -330);
    const Data expected = golden("MeasurementBundle.timezone");
    EXPECT_EQ(expected.size(), 11u);
    EXPECT_EQ(hex(bundle->protoBuffer()), hex(expected));
    EXPECT_EQ(ZDMPBGetInt32(ZDMPBMeasurementBundle::initWithBuffer(expected).get(), 12), -330);
}

TEST(Codecs, PackedExperimentIdsAreReadAndWrittenBackUnpacked) {
    Data packed;
    putBytes(packed, 45, Data{0x01, 0xac, 0x02, 0x07});
    auto bundle = ZDMPBMeasurementBundle::initWithBuffer(packed);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(ZDMPBGetArray(bundle.get(), 37), (Value::Array{1, 300, 7}));
    EXPECT_EQ(hex(bundle->protoBuffer()), "e80201e802ac02e80207");
}

TEST(Codecs, FieldsWithoutAnIndexAndUnknownTagsAreDroppedOnReencoding) {
    Data input = golden("MeasurementBundle.unindexed");
    putKey(input, 99, 0);
    putVarint(input, 5);
    putBytes(input, 100, Data{'?'});
    auto bundle = ZDMPBMeasurementBundle::initWithBuffer(input);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(ZDMPBGetString(bundle.get(), 14), "com.example.app");
    EXPECT_EQ(hex(bundle->protoBuffer()), hex(golden("MeasurementBundle.indexed")));
}

TEST(Codecs, StringLengthLimitIsOneMebibyte) {
    auto largest = ZDMPBEvent::initWithBuffer(eventWithName(1048576));
    ASSERT_TRUE(largest);
    EXPECT_EQ(ZDMPBGetString(largest.get(), 1)->size(), 1048576u);

    std::shared_ptr<ZDMPBEvent> tooLarge;
    const std::string printed =
        stdoutOf([&] { tooLarge = ZDMPBEvent::initWithBuffer(eventWithName(1048577)); });
    EXPECT_EQ(tooLarge, nullptr);
    EXPECT_EQ(printed.rfind("Unable to process proto stream. Buffer is too big. 1048577 > 1048576", 0), 0u)
        << printed;
}

TEST(Codecs, DuplicateSingleStringKeepsTheFirst) {
    Data bytes = eventWithName(1);
    putBytes(bytes, 2, Data{'s', 'e', 'c', 'o', 'n', 'd'});
    auto event = ZDMPBEvent::initWithBuffer(bytes);
    ASSERT_TRUE(event);
    EXPECT_EQ(ZDMPBGetString(event.get(), 1), "n");
}

TEST(Codecs, MalformedBytesGiveNoMessage) {
    const Data full = golden("Event.full");
    const Data truncated(full.begin(), full.end() - 3);
    const Data overlong = {0x12, 0x05, 'a'};           // name runs past the end
    const Data badElement = {0x0a, 0x02, 0x0a, 0x05};  // a param whose name runs past its element
    const Data badVarint = {0x18, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
    for (const Data& bytes : {truncated, overlong, badElement, badVarint}) {
        SCOPED_TRACE(hex(bytes));
        std::shared_ptr<ZDMPBEvent> event;
        const std::string printed = stdoutOf([&] { event = ZDMPBEvent::initWithBuffer(bytes); });
        EXPECT_EQ(event, nullptr);
        EXPECT_NE(printed.find("<ERROR> "), std::string::npos) << printed;
    }
}

TEST(Codecs, EmptyTextStaysAPresentEmptyField) {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    ZDMPBSetString(event.get(), 1, "");
    const auto bytes = event->protoBuffer();
    EXPECT_EQ(hex(bytes), "1200");
    auto decoded = ZDMPBEvent::initWithBuffer(*bytes);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(ZDMPBHasField(decoded.get(), 1));
    EXPECT_EQ(ZDMPBGetString(decoded.get(), 1), "");
    EXPECT_EQ(decoded->protoBuffer(), bytes);
}

TEST(Codecs, EmptyMessageIsZeroBytesNotAFailure) {
    auto event = ZDMPBEvent::initWithBuffer(nullptr);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->protoBuffer(), Data());
    EXPECT_EQ(ZDMPBEvent::initWithBuffer(Data())->protoBuffer(), Data());
}

TEST(Codecs, BrokenRecordsFailToEncode) {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    ZDMPBSetString(event.get(), 1, "purchase");
    ZDMPBClearString(static_cast<ZDMPBStringSlot*>(event->messageInfo()->fieldValues[1]));
    EXPECT_EQ(event->protoBuffer(), std::nullopt);

    auto bundle = emptyBundle();
    ZDMPBMessageInfo* info = bundle->messageInfo();
    std::free(info->fieldValues[44]);
    info->fieldValues[44] = nullptr;
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    int32_t length = 0;
    const std::string printed = stdoutOf([&] { length = ZDMPBMeasurementBundleEncode(info, &buffer); });
    EXPECT_EQ(length, -1);
    EXPECT_EQ(printed, "<ERROR> MeasurementBundle Encoder: 'redacted_fields' should have been allocated\n");
    EXPECT_EQ(bundle->protoBuffer(), std::nullopt);
}

TEST(Codecs, DeallocatingAnUnknownFieldIsRefused) {
    Record record;
    bool freed = true;
    const std::string printed =
        stdoutOf([&] { freed = ZDMPBMeasurementBundleDeallocMessageField(record.info, 46); });
    EXPECT_FALSE(freed);
    EXPECT_EQ(printed, "<ERROR> MeasurementBundle: Cannot deallocate field 46: Unknown field\n");
    EXPECT_FALSE(ZDMPBMeasurementBundleDeallocMessageField(nullptr, 0));
}

TEST(Codecs, RecordsOfAnotherTypeAreRefusedByTheClass) {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    EXPECT_EQ(ZDMPBEventParam::initWithMessageInfo(event->messageInfo()), nullptr);
    auto copy = ZDMPBEvent::initWithMessageInfo(event->messageInfo());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->messageInfo(), event->messageInfo());
    EXPECT_STREQ(copy->messageID(), "Event");
}

TEST(Codecs, RecursiveParamsNestAtMostAHundredLevels) {
    const Data hundred = nestedParams(100);
    auto accepted = ZDMPBEventParam::initWithBuffer(hundred);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(hex(accepted->protoBuffer()), hex(hundred));

    Data inEvent;
    putBytes(inEvent, 1, hundred);
    EXPECT_TRUE(ZDMPBEvent::initWithBuffer(inEvent));

    std::shared_ptr<ZDMPBEventParam> refused;
    const std::string printed =
        stdoutOf([&] { refused = ZDMPBEventParam::initWithBuffer(nestedParams(101)); });
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(printed.rfind("<ERROR> EventParam decoder failed: nesting too deep\n", 0), 0u)
        << printed.substr(0, 200);
}

TEST(Codecs, HostileNestingFailsWithoutExhaustingTheStack) {
    const Data hostile = deeplyNestedParams(200000);
    ASSERT_GT(hostile.size(), 400000u);
    std::shared_ptr<ZDMPBEventParam> decoded;
    stdoutOf([&] { decoded = ZDMPBEventParam::initWithBuffer(hostile); });
    EXPECT_EQ(decoded, nullptr);
}

namespace {

// `thorough`: a message decoded from the bytes must also encode, and decode again to the same
// bytes; otherwise decoding only has to end without a crash.
template <class T>
void expectDecodedOrRefused(const Data& bytes, bool thorough) {
    auto message = T::initWithBuffer(bytes);
    if (!message || !thorough) return;
    auto encoded = message->protoBuffer();
    ASSERT_TRUE(encoded) << hex(bytes);
    auto again = T::initWithBuffer(*encoded);
    ASSERT_TRUE(again) << hex(bytes);
    EXPECT_EQ(again->protoBuffer(), encoded) << hex(bytes);
}

bool isBoundaryOrBitFlip(uint8_t original, uint8_t replacement) {
    const uint8_t flipped = original ^ replacement;
    return replacement == 0x00 || replacement == 0x7f || replacement == 0x80 || replacement == 0xff ||
           (flipped & (flipped - 1)) == 0;
}

}  // namespace

// Every damaged variant of real messages (each byte replaced by each other value, each
// truncation) either decodes or is refused, and nothing reads out of bounds (the sanitizer build
// checks that). Truncations, single-bit flips and boundary values must also leave a decoded message
// that encodes and decodes again to the same bytes.
TEST(Codecs, DamagedBytesDecodeToAUsableMessageOrNone) {
    const std::pair<const char*, void (*)(const Data&, bool)> fixtures[] = {
        {"MeasurementBundle.full", expectDecodedOrRefused<ZDMPBMeasurementBundle>},
        {"MeasurementConfig.full", expectDecodedOrRefused<ZDMPBMeasurementConfig>},
        {"MeasurementBatch.full", expectDecodedOrRefused<ZDMPBMeasurementBatch>},
        {"EventParam.full", expectDecodedOrRefused<ZDMPBEventParam>},
    };
    for (const auto& [name, check] : fixtures) {
        SCOPED_TRACE(name);
        const Data original = golden(name);
        stdoutOf([&] {
            for (size_t i = 0; i < original.size(); ++i) {
                Data damaged = original;
                for (int value = 0; value < 256; ++value) {
                    const auto replacement = static_cast<uint8_t>(value);
                    if (replacement == original[i]) continue;
                    damaged[i] = replacement;
                    check(damaged, isBoundaryOrBitFlip(original[i], replacement));
                }
                check(Data(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(i)), true);
            }
        });
    }
}
