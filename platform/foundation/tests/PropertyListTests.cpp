#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "platform/foundation/PropertyList.h"

namespace {

constexpr int64_t kReadCorrupt = 3840;

std::string text(const Data& bytes) {
    return stringFromData(bytes);
}

Value sample() {
    Dictionary inner{{"zeta", Value(Value::Array{Value(1), Value("two"), Value(Value::Array{})})},
                     {"alpha", Value(Dictionary{})}};
    return Value(Dictionary{
        {"negative", Value(-5)},
        {"min", Value(std::numeric_limits<int64_t>::min())},
        {"max", Value(std::numeric_limits<int64_t>::max())},
        {"zero", Value(0)},
        {"yes", Value(true)},
        {"no", Value(false)},
        {"real", Value(-0.1)},
        {"huge", Value(1e300)},
        {"text", Value("grüße ✓ <&>")},
        {"empty", Value("")},
        {"bytes", Value(Data{0, 1, 0xFF, 0})},
        {"noBytes", Value(Data{})},
        {"date", Value(Date::fromUnix(1700000000))},
        {"beforeReference", Value(Date::fromReference(-86400))},
        {"nested", Value(std::move(inner))},
    });
}

std::vector<std::string> keysOf(const Value& value) {
    return value.asDictionary() ? value.asDictionary()->keys() : std::vector<std::string>{};
}

class PropertyListForms : public testing::TestWithParam<plist::Format> {};

TEST_P(PropertyListForms, ValuesRoundTripWithKeyOrder) {
    const Value original = sample();
    Error error;
    auto bytes = plist::write(original, GetParam(), &error);
    ASSERT_TRUE(bytes) << error.description;
    EXPECT_EQ(text(*bytes).rfind(GetParam() == plist::Format::Binary ? "bplist00" : "<?xml", 0), 0u);

    auto back = plist::read(*bytes, &error);
    ASSERT_TRUE(back) << error.description;
    EXPECT_EQ(*back, original);
    EXPECT_EQ(keysOf(*back), keysOf(original));
    EXPECT_EQ(keysOf((*back)["nested"]), (std::vector<std::string>{"zeta", "alpha"}));
}

INSTANTIATE_TEST_SUITE_P(BothForms, PropertyListForms,
                         testing::Values(plist::Format::Binary, plist::Format::XML));

TEST(PropertyList, DatesCountFromTheReferenceDate) {
    auto xml = plist::write(Value(Date::fromUnix(0)), plist::Format::XML);
    ASSERT_TRUE(xml);
    EXPECT_NE(text(*xml).find("<date>1970-01-01T00:00:00Z</date>"), std::string::npos) << text(*xml);

    auto reference = plist::write(Value(Date::fromReference(0)), plist::Format::XML);
    ASSERT_TRUE(reference);
    EXPECT_NE(text(*reference).find("<date>2001-01-01T00:00:00Z</date>"), std::string::npos);
}

// Microseconds before 2001 and dates past 2069 are where a 32-bit seconds count breaks down.
TEST(PropertyList, BinaryDatesKeepMicrosecondsAcrossTheWholeRange) {
    for (double seconds : {0.000001, -0.25, -1.75, 1.5, 123456789.123456, 3.2e9 + 0.654321, -3.2e9 - 0.000001,
                           Date::distantPast().timeIntervalSinceReferenceDate(),
                           Date::distantFuture().timeIntervalSinceReferenceDate()}) {
        const Value date(Date::fromReference(seconds));
        auto bytes = plist::write(Value(Value::Array{date}));
        ASSERT_TRUE(bytes);
        auto back = plist::read(*bytes);
        ASSERT_TRUE(back && back->asArray() && back->asArray()->size() == 1) << seconds;
        auto read = back->asArray()->front().asDate();
        ASSERT_TRUE(read) << seconds;
        EXPECT_NEAR(read->timeIntervalSinceReferenceDate(), seconds, 1e-6) << seconds;
    }
}

// XML holds whole seconds in four-digit years: earlier fractions go down to their second, and
// dates it cannot spell are refused rather than written as an empty element.
TEST(PropertyList, XMLDatesAreWholeSecondsWithinFourDigitYears) {
    const struct {
        double seconds;
        std::optional<double> read;
    } cases[] = {
        {1.75, 1},
        {-1.75, -2},
        {Date::distantPast().timeIntervalSinceReferenceDate(),
         Date::distantPast().timeIntervalSinceReferenceDate()},
        {Date::distantFuture().timeIntervalSinceReferenceDate(),
         Date::distantFuture().timeIntervalSinceReferenceDate()},
        {252423993599.0, 252423993599.0},
        {252423993600.0, std::nullopt},
        {Date::distantPast().timeIntervalSinceReferenceDate() - 1, std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const auto& c : cases) {
        const Value date(Date::fromReference(c.seconds));
        Error error;
        auto xml = plist::write(date, plist::Format::XML, &error);
        EXPECT_TRUE(plist::write(date, plist::Format::Binary)) << c.seconds;
        ASSERT_EQ(xml.has_value(), c.read.has_value()) << c.seconds;
        if (!xml) {
            EXPECT_EQ(error.domain, kFoundationErrorDomain);
            continue;
        }
        auto back = plist::read(*xml);
        ASSERT_TRUE(back && back->asDate()) << c.seconds;
        EXPECT_EQ(back->asDate()->timeIntervalSinceReferenceDate(), *c.read) << c.seconds;
    }
}

TEST(PropertyList, RefusesWhatAPropertyListCannotHold) {
    const Value cases[] = {
        Value(),
        Value(Value::Array{Value(1), Value()}),
        Value(Dictionary{{"a", Value()}}),
        Value(std::string("nul\0inside", 10)),
        Value(Dictionary{{std::string("k\0ey", 4), Value(1)}}),
    };
    for (const auto& value : cases) {
        for (auto format : {plist::Format::Binary, plist::Format::XML}) {
            Error error;
            EXPECT_FALSE(plist::write(value, format, &error));
            EXPECT_EQ(error.domain, kFoundationErrorDomain);
            EXPECT_NE(error.code, 0);
        }
    }
}

Data deepXml(int depth) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < depth; ++i) xml += "<array>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    return dataFromString(xml + "</plist>");
}

void putBigEndian(Data& out, uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A binary property list of encoded objects whose offsets and references are four bytes wide.
Data binaryList(const std::vector<Data>& objects) {
    Data out = dataFromString("bplist00");
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const uint64_t table = out.size();
    for (uint64_t offset : offsets) putBigEndian(out, offset, 4);
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 4, 4});
    putBigEndian(out, objects.size(), 8);
    putBigEndian(out, objects.size() - 1, 8);  // the last object is the top
    putBigEndian(out, table, 8);
    return out;
}

Data arrayObject(const std::vector<uint32_t>& refs) {
    Data out{static_cast<uint8_t>(0xA0 | refs.size())};
    for (uint32_t ref : refs) putBigEndian(out, ref, 4);
    return out;
}

// Object 0 is an integer; each further object an array referring `width` times to the one before.
Data chainedBinary(uint32_t count, size_t width) {
    std::vector<Data> objects{{0x10, 0x01}};
    for (uint32_t i = 1; i < count; ++i) objects.push_back(arrayObject(std::vector<uint32_t>(width, i - 1)));
    return binaryList(objects);
}

TEST(PropertyList, MalformedInputGivesAnErrorNotACrash) {
    auto valid = plist::write(sample());
    ASSERT_TRUE(valid);
    std::vector<std::pair<std::string, Data>> cases = {
        {"empty", {}},
        {"text", dataFromString("hello, world")},
        {"magic only", dataFromString("bplist00")},
        {"unclosed xml", dataFromString("<?xml version=\"1.0\"?><plist><dict><key>a</key>")},
        {"deep xml", deepXml(200000)},
        {"deep binary", chainedBinary(100000, 1)},
        {"binary that contains itself", binaryList({arrayObject({0})})},
        {"exponentially shared binary", chainedBinary(64, 2)},
        {"key holding NUL", binaryList({{0x52, 'a', 0}, {0x10, 1}, {0xD1, 0, 0, 0, 0, 0, 0, 0, 1}})},
        {"UTF-16 key holding NUL", binaryList({{0x61, 0, 0}, {0x10, 1}, {0xD1, 0, 0, 0, 0, 0, 0, 0, 1}})},
    };
    for (size_t length = 0; length < valid->size(); ++length) {
        cases.push_back(
            {"truncated to " + std::to_string(length), Data(valid->begin(), valid->begin() + length)});
    }
    for (const auto& [name, bytes] : cases) {
        Error error;
        EXPECT_FALSE(plist::read(bytes, &error)) << name;
        EXPECT_EQ(error.domain, kFoundationErrorDomain) << name;
        EXPECT_EQ(error.code, kReadCorrupt) << name;
    }
}

TEST(PropertyList, NestingWithinTheLimitStillReads) {
    auto xml = plist::read(deepXml(400));
    ASSERT_TRUE(xml);
    auto binary = plist::read(chainedBinary(400, 1));
    ASSERT_TRUE(binary);
    auto written = plist::write(*binary);
    ASSERT_TRUE(written);
    EXPECT_EQ(plist::read(*written), binary);
}

}  // namespace
