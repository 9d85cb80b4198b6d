#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Base64.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/Value.h"

namespace {

TEST(Json, NestedDictionariesKeepKeyOrder) {
    Value v = Dictionary{{"zeta", 1},
                         {"alpha", Dictionary{{"y", true}, {"b", Value::Array{1, "two", 3.5, nullptr}}}},
                         {"mid", "text"}};
    EXPECT_EQ(json::write(v), R"({"zeta":1,"alpha":{"y":true,"b":[1,"two",3.5,null]},"mid":"text"})");
    auto back = json::parse(json::write(v));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->asDictionary()->keys(), (std::vector<std::string>{"zeta", "alpha", "mid"}));
    EXPECT_EQ((*back)["alpha"].asDictionary()->keys(), (std::vector<std::string>{"y", "b"}));
    EXPECT_EQ(*back, v);
}

// The text is laid out exactly as it always was: escapes, number forms, empty containers, indents.
TEST(Json, WritesTheEstablishedTextInBothStyles) {
    const Value value = Dictionary{
        {"s", std::string("q\"b\\/\n\x01 \xC3\xA9 \xFF")},
        {"reals", Value::Array{3.5, 1e300, 1.0, -0.0, 1e-7, std::numeric_limits<double>::infinity()}},
        {"ints", Value::Array{INT64_MIN, Value(dataFromString("hi")), Date::fromUnixMillis(5)}},
        {"empty", Value::Array{Dictionary{}, Value::Array{}, nullptr, true}},
    };
    EXPECT_EQ(
        json::write(value),
        "{\"s\":\"q\\\"b\\\\/\\n\\u0001 \xC3\xA9 \xEF\xBF\xBD\",\"reals\":[3.5,1e+300,1.0,-0.0,1e-07,null],"
        "\"ints\":[-9223372036854775808,\"aGk=\",5],\"empty\":[{},[],null,true]}");
    EXPECT_EQ(json::write(Value::Array{Dictionary{{"a", Value::Array{1}}, {"b", Dictionary{}}}},
                          json::Style::Pretty),
              "[\n  {\n    \"a\": [\n      1\n    ],\n    \"b\": {}\n  }\n]");
}

TEST(Json, DatesRoundTripToTheMillisecond) {
    Date d = Date::fromUnixMillis(1767225600123);
    auto back = json::parse(json::write(Value(d)));
    ASSERT_TRUE(back && back->isInteger());
    EXPECT_EQ(Date::fromUnixMillis(*back->asInteger()), d);
    EXPECT_EQ(d.unixMillis(), 1767225600123);
}

TEST(Json, MalformedTextIsAnErrorNotACrash) {
    const std::string nested513 = std::string(513, '[') + std::string(513, ']');
    for (const std::string& text :
         std::vector<std::string>{"", "{", "[1,]", "{\"a\" 1}", "nul", std::string(100000, '['), nested513,
                                  "1e400", "[-1e400]", "{\"a\":1e400}", std::string("{}\0garbage", 10),
                                  std::string("[1]\0", 4), std::string("\"a\0b\"", 5), "[1] x"}) {
        Error error;
        EXPECT_FALSE(json::parse(text, &error)) << text.substr(0, 10);
        EXPECT_EQ(error.code, 3840);
    }
    EXPECT_TRUE(json::parse(" " + std::string(512, '[') + std::string(512, ']') + " \n"));
    auto big = json::parse("18446744073709551615");  // beyond int64: kept as a real
    ASSERT_TRUE(big && big->isReal());
}

TEST(Value, NumbersCompareAcrossKindsAndDictionariesIgnoreOrder) {
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(true), Value(1));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2}, {"a", 1}}));
    EXPECT_EQ(Value(1e300).asInteger(), INT64_MAX);
    EXPECT_TRUE(Value()["missing"].isNull());
}

// Against a plain list of pairs: dictionaries small and large, through every kind of change,
// keep their keys in insertion order and find each one, copies included.
TEST(Value, DictionaryKeepsInsertionOrderThroughEveryChange) {
    std::mt19937 random(7);
    Dictionary dictionary;
    std::vector<std::pair<std::string, int>> model;
    for (int step = 0; step < 4000; ++step) {
        // Growing past the size from which keys are indexed, then shrinking below it again.
        const bool shrinking = step >= 2000;
        const std::string key = "k" + std::to_string(random() % 60);
        auto inModel =
            std::find_if(model.begin(), model.end(), [&](const auto& e) { return e.first == key; });
        const unsigned operation = random() % 4;
        switch (operation < (shrinking ? 3u : 1u) ? 0 : operation) {
            case 0:
                EXPECT_EQ(dictionary.erase(key), inModel != model.end());
                if (inModel != model.end()) model.erase(inModel);
                break;
            case 1:
                dictionary[key] = step;
                if (inModel != model.end())
                    inModel->second = step;
                else
                    model.emplace_back(key, step);
                break;
            default:
                dictionary.set(key, step);
                if (inModel != model.end())
                    inModel->second = step;
                else
                    model.emplace_back(key, step);
        }
        if (step % 97 == 0) dictionary = Dictionary(dictionary);
        ASSERT_EQ(dictionary.size(), model.size()) << step;
        for (const auto& [k, v] : model) ASSERT_EQ(dictionary[k], Value(v)) << k << " at " << step;
        ASSERT_FALSE(dictionary.contains("absent"));
    }
    std::vector<std::string> order;
    for (const auto& [k, v] : model) order.push_back(k);
    EXPECT_EQ(dictionary.keys(), order);

    Dictionary large;
    for (int i = 0; i < 40; ++i) large.set("k" + std::to_string(i), i);
    EXPECT_TRUE(large.erase(large.begin()->first)) << "a key given by the dictionary itself";
    EXPECT_EQ(large.size(), 39u);
    EXPECT_EQ(large["k39"], Value(39));
}

TEST(Base64, EncodesAndDecodesStrictlyOrLeniently) {
    struct Case {
        std::string plain, encoded;
    } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}};
    for (const auto& c : cases) {
        EXPECT_EQ(base64Encode(dataFromString(c.plain)), c.encoded);
        EXPECT_EQ(base64Decode(c.encoded), dataFromString(c.plain));
    }
    EXPECT_FALSE(base64Decode("Zm9v\nYg=="));
    EXPECT_FALSE(base64Decode("Zm9"));
    EXPECT_EQ(base64DecodeIgnoringUnknown("Zm9v\nYg==\r\n"), dataFromString("foob"));
}

TEST(UUID, IsRandomVersion4InUpperCaseAndParses) {
    UUID a, b;
    EXPECT_NE(a, b);
    std::string text = a.uuidString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
    EXPECT_EQ(UUID::fromString(text), a);
    EXPECT_FALSE(UUID::fromString("not-a-uuid"));
}

}  // namespace
