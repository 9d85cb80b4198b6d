#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/resource.h>

#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/tests/ArchiveTestObjects.h"

namespace {

using namespace archive_fixtures;

// Hand-made archives: a Value in which {"CF$UID": n} stands for a UID, as XML spells one.
Value uid(int64_t n) {
    return Value(Dictionary{{"CF$UID", Value(n)}});
}

plist_t craftNode(const Value& value) {
    switch (value.type()) {
        case Value::Type::Bool:
            return plist_new_bool(*value.asBool());
        case Value::Type::Integer:
            return plist_new_uint(static_cast<uint64_t>(*value.asInteger()));
        case Value::Type::Real:
            return plist_new_real(*value.asReal());
        case Value::Type::String:
            return plist_new_string(value.asString()->c_str());
        case Value::Type::Data:
            return plist_new_data(reinterpret_cast<const char*>(value.asData()->data()),
                                  value.asData()->size());
        case Value::Type::Array: {
            plist_t array = plist_new_array();
            for (const auto& item : *value.asArray()) plist_array_append_item(array, craftNode(item));
            return array;
        }
        case Value::Type::Dictionary: {
            const auto& entries = *value.asDictionary();
            if (entries.size() == 1 && entries.contains("CF$UID")) {
                return plist_new_uid(static_cast<uint64_t>(value["CF$UID"].integerOr(0)));
            }
            plist_t dictionary = plist_new_dict();
            for (const auto& [key, item] : entries)
                plist_dict_set_item(dictionary, key.c_str(), craftNode(item));
            return dictionary;
        }
        default:
            ADD_FAILURE() << "no crafted form for this value";
            return plist_new_bool(0);
    }
}

Data craft(const Value& archive) {
    plist_t root = craftNode(archive);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    Data out(bytes, bytes + length);
    plist_to_bin_free(bytes);
    plist_free(root);
    return out;
}

Data archive(Value::Array objects, Value top = Value(Dictionary{{"root", uid(1)}})) {
    objects.insert(objects.begin(), Value("$null"));
    return craft(Value(Dictionary{{"$archiver", Value("NSKeyedArchiver")},
                                  {"$version", Value(100000)},
                                  {"$top", std::move(top)},
                                  {"$objects", Value(std::move(objects))}}));
}

Value classEntry(Value::Array chain) {
    Value name = chain.front();
    return Value(Dictionary{{"$classname", name}, {"$classes", Value(std::move(chain))}});
}

Value object(int64_t classUid, Dictionary fields) {
    fields.set("$class", uid(classUid));
    return Value(std::move(fields));
}

// Reports its own error while reading itself.
class Picky : public Codable {
  public:
    std::string archiveClassName() const override { return "QVPicky"; }
    void encodeWithCoder(KeyedArchiver&) const override {}
    bool initWithCoder(KeyedUnarchiver& coder) override {
        coder.failWithError(Error("QVPickyDomain", 7, "not today"));
        return true;
    }
};

const ArchiveClassList kCraftClasses = {
    ArchiveClass::of<Tag>("QVTag"),    ArchiveClass::of<Picky>("QVPicky"),
    ArchiveClass::platform("NSArray"), ArchiveClass::platform("NSDictionary"),
    ArchiveClass::platform("NSDate"),  ArchiveClass::platform("NSString"),
    ArchiveClass::platform("NSData"),
};

Value::Array nestedArrays(int depth) {
    Value::Array objects;
    for (int i = 1; i < depth; ++i)
        objects.push_back(object(depth + 1, {{"NS.objects", Value(Value::Array{uid(i + 1)})}}));
    objects.push_back(Value("innermost"));
    objects.push_back(classEntry({Value("NSArray"), Value("NSObject")}));
    return objects;
}

struct DamageCase {
    const char* name;
    Data bytes;
    int64_t code;
};

TEST(KeyedUnarchiver, StructurallyWrongArchivesGiveTheirErrors) {
    const Value arrayClass = classEntry({Value("NSArray"), Value("NSObject")});
    const Value tagClass = classEntry({Value("QVTag"), Value("NSObject")});
    const DamageCase cases[] = {
        {"not a property list", dataFromString("NSKeyedArchiver"), kCoderReadCorruptError},
        {"not a dictionary", craft(Value(Value::Array{Value(1)})), kCoderReadCorruptError},
        {"no $objects", craft(Value(Dictionary{{"$top", Value(Dictionary{{"root", uid(1)}})}})),
         kCoderReadCorruptError},
        {"$top not a dictionary", archive({Value("x")}, Value("root")), kCoderReadCorruptError},
        {"no root", archive({Value("x")}, Value(Dictionary{{"other", uid(1)}})), kCoderValueNotFoundError},
        {"root past the objects", archive({}, Value(Dictionary{{"root", uid(5)}})), kCoderReadCorruptError},
        {"root not a reference", archive({Value("x")}, Value(Dictionary{{"root", Value(1)}})),
         kCoderReadCorruptError},
        {"$class not a reference", archive({Value(Dictionary{{"$class", Value(2)}}), tagClass}),
         kCoderReadCorruptError},
        {"$classname missing",
         archive({object(2, {}), Value(Dictionary{{"$classes", Value(Value::Array{})}})}),
         kCoderReadCorruptError},
        {"$classes not strings",
         archive({object(2, {}), Value(Dictionary{{"$classname", Value("QVTag")}, {"$classes", Value(1)}})}),
         kCoderReadCorruptError},
        {"array element not a reference",
         archive({object(2, {{"NS.objects", Value(Value::Array{Value(1)})}}), arrayClass}),
         kCoderReadCorruptError},
        {"dictionary key not a string",
         archive({object(2, {{"NS.keys", Value(Value::Array{uid(3)})},
                             {"NS.objects", Value(Value::Array{uid(3)})}}),
                  classEntry({Value("NSDictionary")}), Value(5)}),
         kCoderReadCorruptError},
        {"dictionary keys and objects differ",
         archive(
             {object(2, {{"NS.keys", Value(Value::Array{uid(3)})}, {"NS.objects", Value(Value::Array{})}}),
              classEntry({Value("NSDictionary")}), Value("k")}),
         kCoderReadCorruptError},
        {"array containing itself",
         archive({object(2, {{"NS.objects", Value(Value::Array{uid(1)})}}), arrayClass}),
         kCoderReadCorruptError},
        {"array entry in $objects", archive({Value(Value::Array{Value(1)})}), kCoderReadCorruptError},
        {"date without NS.time", archive({object(2, {}), classEntry({Value("NSDate")})}),
         kCoderReadCorruptError},
        {"object rejecting its fields", archive({object(2, {}), tagClass}), kCoderReadCorruptError},
        {"object reporting its own error", archive({object(2, {}), classEntry({Value("QVPicky")})}), 7},
        {"tag whose name is a class entry", archive({object(2, {{"name", uid(2)}}), tagClass}),
         kCoderReadCorruptError},
        {"nesting beyond the limit", archive(nestedArrays(300)), kCoderReadCorruptError},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(c.bytes, kCraftClasses, &error)) << c.name;
        EXPECT_EQ(error.code, c.code) << c.name << ": " << error.description;
    }
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(archive(nestedArrays(200)), kCraftClasses));
}

TEST(KeyedUnarchiver, ReadsThePlatformObjectFormsOfValues) {
    const Value mutableArrayClass =
        classEntry({Value("NSMutableArray"), Value("NSArray"), Value("NSObject")});
    const struct {
        const char* name;
        Value::Array objects;
        Value expected;
    } cases[] = {
        {"string object",
         {object(2, {{"NS.string", Value("wrapped")}}), classEntry({Value("NSString")})},
         Value("wrapped")},
        {"data as NS.bytes",
         {object(2, {{"NS.bytes", Value(Data{1, 2})}}), classEntry({Value("NSData")})},
         Value(Data{1, 2})},
        {"data as NS.data",
         {object(2, {{"NS.data", Value(Data{3})}}), classEntry({Value("NSMutableData"), Value("NSData")})},
         Value(Data{3})},
        {"mutable array accepted through its ancestor",
         {object(2, {{"NS.objects", Value(Value::Array{uid(3)})}}), mutableArrayClass, Value(-7)},
         Value(Value::Array{Value(-7)})},
        {"date with an integer time",
         {object(2, {{"NS.time", Value(60)}}), classEntry({Value("NSDate")})},
         Value(Date::fromReference(60))},
        {"null root", {}, Value()},
        {"array referring twice to one array",
         {object(3, {{"NS.objects", Value(Value::Array{uid(2), uid(2)})}}),
          object(3, {{"NS.objects", Value(Value::Array{uid(4)})}}), classEntry({Value("NSArray")}),
          Value(-7)},
         Value(Value::Array{Value(Value::Array{Value(-7)}), Value(Value::Array{Value(-7)})})},
    };
    for (const auto& c : cases) {
        Value top(Dictionary{{"root", uid(c.objects.empty() ? 0 : 1)}});
        Error error;
        auto decoded = KeyedUnarchiver::unarchivedObject(archive(c.objects, top), kCraftClasses, &error);
        ASSERT_TRUE(decoded) << c.name << ": " << error.description;
        EXPECT_EQ(decoded->toValue(), c.expected) << c.name;
    }
}

// Reads every probed key with each scalar decoder.
class Probe : public Codable {
  public:
    struct Reading {
        int64_t int64;
        int32_t int32;
        double real;
        bool flag;
        bool present;
    };
    static constexpr const char* kKeys[] = {"int", "negative", "real", "true", "huge", "string", "absent"};
    std::vector<Reading> readings;

    std::string archiveClassName() const override { return "QVProbe"; }
    void encodeWithCoder(KeyedArchiver&) const override {}
    bool initWithCoder(KeyedUnarchiver& coder) override {
        for (const char* key : kKeys) {
            readings.push_back({coder.decodeInt64(key), coder.decodeInt32(key), coder.decodeDouble(key),
                                coder.decodeBool(key), coder.containsValueForKey(key)});
        }
        return true;
    }
};

TEST(KeyedUnarchiver, ScalarDecodersAcceptAnyNumberKind) {
    const Data bytes = archive({object(2, {{"int", Value(5)},
                                           {"negative", Value(-3)},
                                           {"real", Value(2.75)},
                                           {"true", Value(true)},
                                           {"huge", Value(1e300)},
                                           {"string", uid(3)}}),
                                classEntry({Value("QVProbe")}), Value("text")});
    auto decoded = KeyedUnarchiver::unarchivedObject(bytes, {ArchiveClass::of<Probe>("QVProbe")});
    ASSERT_TRUE(decoded);
    auto probe = decoded->objectAs<Probe>();
    ASSERT_TRUE(probe && probe->readings.size() == std::size(Probe::kKeys));
    const Probe::Reading expected[] = {
        {5, 5, 5, true, true},
        {-3, -3, -3, true, true},
        {2, 2, 2.75, true, true},
        {1, 1, 1, true, true},
        {std::numeric_limits<int64_t>::max(), std::numeric_limits<int32_t>::max(), 1e300, true, true},
        {0, 0, 0, false, true},
        {0, 0, 0, false, false},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        const auto& got = probe->readings[i];
        const auto& want = expected[i];
        EXPECT_EQ(got.int64, want.int64) << Probe::kKeys[i];
        EXPECT_EQ(got.int32, want.int32) << Probe::kKeys[i];
        EXPECT_EQ(got.real, want.real) << Probe::kKeys[i];
        EXPECT_EQ(got.flag, want.flag) << Probe::kKeys[i];
        EXPECT_EQ(got.present, want.present) << Probe::kKeys[i];
    }
}

// `links` arrays, each referring twice to the next; the last refers to a string. A copy per
// reference would make 2^links arrays of a file of a few kilobytes.
Data doublingChain(int links) {
    Value::Array objects;
    for (int i = 1; i <= links; ++i)
        objects.push_back(object(links + 2, {{"NS.objects", Value(Value::Array{uid(i + 1), uid(i + 1)})}}));
    objects.push_back(Value("end"));
    objects.push_back(classEntry({Value("NSArray"), Value("NSObject")}));
    return archive(objects);
}

// Exits 0 when the chain decodes to arrays that share their parts, refuses to expand into a plain
// value, and the process never held 100 MB; runs in a child process whose address space is capped
// far below what copies would take.
[[noreturn]] void decodeDoublingChainWithinMemoryCap() {
    const rlim_t memory = 512u << 20;
    const rlimit addressSpace{memory, memory};
    const rlimit cpu{60, 60};
    if (setrlimit(RLIMIT_AS, &addressSpace) != 0 || setrlimit(RLIMIT_CPU, &cpu) != 0) std::_Exit(10);
    constexpr int kLinks = 225;  // about 5.7 KB
    const Data bytes = doublingChain(kLinks);
    if (bytes.size() < 4000 || bytes.size() > 8000) std::_Exit(11);
    auto decoded = KeyedUnarchiver::unarchivedObject(bytes, kCraftClasses);
    if (!decoded) std::_Exit(12);
    const Archived* link = &*decoded;
    for (int i = 0; i < kLinks; ++i) {
        const auto* items = link->array();
        if (!items || items->size() != 2) std::_Exit(13);
        if ((*items)[0].array() != (*items)[1].array()) std::_Exit(14);
        link = &(*items)[0];
    }
    if (!link->value() || *link->value() != Value("end")) std::_Exit(15);
    if (decoded->toValue()) std::_Exit(16);
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0 || usage.ru_maxrss > 100 * 1024) std::_Exit(17);
    std::_Exit(0);
}

TEST(KeyedUnarchiver, ObjectReferencedManyTimesDecodesOnceAndIsShared) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the cap allows";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(decodeDoublingChainWithinMemoryCap(), testing::ExitedWithCode(0), "");
}

// Whatever the bytes, reading gives a value or an error, and never brings the process down.
TEST(KeyedUnarchiver, DamagedOrRandomBytesNeverCrash) {
    auto valid = KeyedArchiver::archivedDataWithRootObject(makeBoard(true), true);
    ASSERT_TRUE(valid);
    auto read = [](const Data& bytes) {
        Error error;
        auto decoded = KeyedUnarchiver::unarchivedObject(bytes, kBoardClasses, &error);
        if (!decoded) {
            EXPECT_FALSE(error.domain.empty());
        }
        return decoded.has_value();
    };
    ASSERT_TRUE(read(*valid));

    for (size_t length = 0; length < valid->size(); ++length) {
        EXPECT_FALSE(read(Data(valid->begin(), valid->begin() + length))) << "truncated to " << length;
    }
    for (size_t at = 0; at < valid->size(); ++at) {
        for (uint8_t mask : {0x01, 0x10, 0x80, 0xFF}) {
            Data flipped = *valid;
            flipped[at] ^= mask;
            read(flipped);
        }
    }
    std::mt19937 random(20240601);
    for (int round = 0; round < 2000; ++round) {
        Data mutated = *valid;
        for (int n = 1 + random() % 8; n > 0; --n)
            mutated[random() % mutated.size()] = static_cast<uint8_t>(random());
        read(mutated);
    }
    for (int round = 0; round < 300; ++round) {
        Data noise(random() % 512);
        for (auto& byte : noise) byte = static_cast<uint8_t>(random());
        if (round % 2 == 0 && noise.size() >= 8) std::copy_n("bplist00", 8, noise.begin());
        EXPECT_FALSE(read(noise));
    }
}

}  // namespace
