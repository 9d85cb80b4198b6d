#include <gtest/gtest.h>

#include <algorithm>

#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMSanitizer.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/foundation/tests/ParameterHelpers.h"

namespace {

std::string numbered(const std::string& prefix, int index) {
    return prefix + (index < 10 ? "0" : "") + std::to_string(index);
}

Dictionary customParameters(int count, Dictionary base = {}) {
    for (int i = 0; i < count; ++i) base.set(numbered("p", i), Value(i));
    return base;
}

class Sanitizer : public SharedMonitorFixture {
  protected:
    Dictionary sanitized(const Dictionary& parameters, const std::string& eventName = "cycled",
                         bool isPublic = true) {
        auto result = ZDMSanitizeEventParameters(parameters, eventName, isPublic, false);
        EXPECT_TRUE(result);
        return result ? plainParameters(*result) : Dictionary{};
    }
    bool logged(int64_t code, int64_t level, const std::string& message) {
        flush(*monitor_);
        const auto lines = logger_->lines();
        return std::any_of(lines.begin(), lines.end(), [&](const LoggedLine& line) {
            return line.code == code && line.level == level && line.message == message;
        });
    }
    Dictionary onlyItem(const Dictionary& result) {
        const Value::Array* items = result["items"].asArray();
        EXPECT_TRUE(items && items->size() == 1);
        return items && !items->empty() && (*items)[0].asDictionary() ? *(*items)[0].asDictionary()
                                                                      : Dictionary{};
    }
};

TEST_F(Sanitizer, AnEventKeepsTheParametersThatSortFirstAndEveryInternalOne) {
    Dictionary expected = customParameters(25);
    expected.set("_err", Value(5));
    EXPECT_EQ(sanitized(customParameters(30)), expected);
    EXPECT_TRUE(logged(18017, 1, "Event cannot contain more than 25 parameters"));

    // An internal event may carry internal names; they neither count nor go.
    expected.set("_c", Value(1));
    expected.set("_r", Value(1));
    EXPECT_EQ(sanitized(customParameters(30, {{"_c", 1}, {"_r", 1}}), "cycled", false), expected);
    EXPECT_EQ(sanitized(customParameters(25)), customParameters(25));
}

TEST_F(Sanitizer, ItemsOfPurchases) {
    const Value item(Dictionary{{"item_id", "sku"}});
    Value::Array many(250, item);
    struct Case {
        const char* label;
        Dictionary parameters;
        Dictionary expected;
    };
    const Case cases[] = {
        {"capitalised name",
         {{"Items", Value(Value::Array{item})}, {"coupon", "c"}},
         {{"coupon", "c"}, {"_err", 20}, {"_ev", "Items"}}},
        {"250 items",
         {{"items", Value(many)}},
         {{"items", Value(Value::Array(200, item))}, {"_err", 17}, {"_ev", "items"}}},
        {"a text among the items",
         {{"items", Value(Value::Array{item, Value("sku2"), item})}},
         {{"items", Value(Value::Array{item, item})}, {"_err", 4}, {"_ev", "items[1]"}}},
        {"nested array in an item",
         {{"items",
           Value(Value::Array{Value(Dictionary{{"item_id", "sku"}, {"items", Value(Value::Array{item})}})})}},
         {{"items",
           Value(Value::Array{Value(Dictionary{{"item_id", "sku"}, {"_err", 22}, {"_ev", "items"}})})}}},
    };
    for (const auto& c : cases) EXPECT_EQ(sanitized(c.parameters, "purchase"), c.expected) << c.label;
    EXPECT_EQ(sanitized({{"items", Value(Value::Array{item})}}, "cycled"),
              (Dictionary{{"_err", 21}, {"_ev", "cycled"}}));
    // An array the caller already made a measurement value is kept as it is, unchecked.
    EXPECT_EQ(sanitized({{"items", measurementValue(Value(Value::Array{item}))}}, "cycled"),
              (Dictionary{{"items", Value(Value::Array{item})}}));
}

TEST_F(Sanitizer, AnItemKeepsItsAllowanceOfCustomParameters) {
    const Dictionary item = customParameters(30, {{"item_id", "sku"}, {"price", 2.5}});
    const Dictionary result = sanitized({{"items", Value(Value::Array{Value(item)})}}, "purchase");
    Dictionary expected = customParameters(27, {{"item_id", "sku"}, {"price", 2.5}});
    expected.set("_err", Value(28));
    EXPECT_EQ(onlyItem(result), expected);
    EXPECT_FALSE(result.contains("_err"));
    EXPECT_TRUE(logged(18016, 0, "Item cannot contain custom parameters"));

    auto config = std::make_shared<ZDMRemoteConfig>("1:123456:ios:abcdef", nullptr, nullptr);
    config->cacheValue(Value("0"), "measurement.item_scoped_custom_parameter_enabled");
    ZDMInstallRemoteConfig(config);
    EXPECT_EQ(onlyItem(sanitized({{"items", Value(Value::Array{Value(item)})}}, "purchase")),
              (Dictionary{{"item_id", "sku"}, {"price", 2.5}, {"_err", 23}}));
    ZDMInstallRemoteConfig(nullptr);
}

TEST_F(Sanitizer, RecordsTheFirstBadParameterOnly) {
    const std::string long300 = repeated("e", 300);
    struct Case {
        const char* label;
        Dictionary parameters;
        bool isPublic;
        Dictionary expected;
    };
    const Case cases[] = {
        {"value of 101",
         {{"name", Value(repeated("v", 101))}, {"ok", 1}},
         true,
         {{"ok", 1}, {"_err", 4}, {"_ev", "name"}, {"_el", 101}}},
        {"reserved prefix",
         {{"zudedaro_x", 1}, {"ok", 1}},
         true,
         {{"ok", 1}, {"_err", 14}, {"_ev", "zudedaro_x"}}},
        {"hyphen", {{"a-b", 1}, {"ok", 1}}, true, {{"ok", 1}, {"_err", 3}, {"_ev", "a-b"}}},
        {"long _ev of an internal event",
         {{"_ev", Value(long300)}},
         false,
         {{"_ev", long300.substr(0, 256) + "..."}, {"_el", 300}}},
        {"an _ev already cut",
         {{"_ev", Value(repeated("e", 256) + "...")}},
         false,
         {{"_ev", repeated("e", 256) + "..."}}},
        {"two bad parameters",
         {{"b-1", 1}, {"a-2", 2}, {"ok", 1}},
         true,
         {{"ok", 1}, {"_err", 3}, {"_ev", "b-1"}}},
        {"only a bad parameter", {{"x-y", 1}}, true, {{"_err", 3}, {"_ev", "x-y"}}},
        {"long bad name",
         {{repeated("n", 41), 1}},
         true,
         {{"_err", 3}, {"_ev", repeated("n", 40) + "..."}, {"_el", 41}}},
        {"unsupported value", {{"d", Value(Data{1})}, {"ok", 1}}, true, {{"ok", 1}}},
        {"values held as measurement values", {{"m", measurementValue(3)}}, true, {{"m", 3}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitized(c.parameters, "cycled", c.isPublic), c.expected) << c.label;
    EXPECT_TRUE(logged(18015, 3,
                       "Event parameter value must be of type NSString, NSNumber or NSArray. Type: NSData"));
    EXPECT_FALSE(ZDMSanitizeEventParameters({}, "cycled", true, false));
}

TEST_F(Sanitizer, ValueNeedsANumberAndACurrency) {
    struct Case {
        const char* label;
        Dictionary parameters;
        bool valid;
        Dictionary after;
    };
    const Case cases[] = {
        {"text value", {{"value", measurementValue("abc")}}, false, {{"_err", 18}, {"_ev", "value"}}},
        {"no currency", {{"value", measurementValue(9.99)}}, false, {{"_err", 19}, {"_ev", "currency"}}},
        {"with EUR",
         {{"value", measurementValue(9.99)}, {"currency", measurementValue("EUR")}},
         true,
         {{"value", 9.99}, {"currency", "EUR"}}},
        {"no value", {{"currency", measurementValue("EU1")}}, true, {{"currency", "EU1"}}},
    };
    for (const auto& c : cases) {
        Dictionary parameters = c.parameters;
        EXPECT_EQ(ZDMValidateValueAndCurrency(parameters), c.valid) << c.label;
        EXPECT_EQ(plainParameters(parameters), c.after) << c.label;
    }
    EXPECT_TRUE(
        logged(18014, 3,
               "Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code in the "
               "currency parameter."));
}

TEST_F(Sanitizer, TrimmingCountsOnlyCustomNames) {
    Dictionary parameters = customParameters(4, {{"_o", "auto"}, {"price", 1}});
    EXPECT_EQ(ZDMCountPublicParameters(parameters, false), 5u);
    EXPECT_EQ(ZDMCountPublicParameters(parameters, true), 4u);
    ZDMTrimPublicParameters(parameters, 2, true);
    EXPECT_EQ(parameters, customParameters(2, {{"_o", "auto"}, {"price", 1}}));
    ZDMTrimPublicParametersToCount(parameters, 0);
    EXPECT_EQ(parameters, (Dictionary{{"_o", "auto"}}));
}

}  // namespace
