#include <gtest/gtest.h>

#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/foundation/tests/ParameterHelpers.h"

namespace {

using Vocabulary = SharedMonitorFixture;

TEST_F(Vocabulary, TablesHoldTheirEntries) {
    EXPECT_EQ(ZDMPublicToInternalEventNameMap().size(), 32u);
    EXPECT_EQ(ZDMInternalToPublicEventNameMap().size(), 31u);
    EXPECT_EQ(ZDMErrorCodeNameMap().size(), 25u);
    EXPECT_EQ(ZDMPublicToInternalEventNameMap()["first_open"], Value("_f"));
    EXPECT_EQ(ZDMInternalToPublicEventNameMap()["_cmp"], Value("za_campaign"));
    EXPECT_EQ(ZDMInternalToPublicEventNameMap()["_vs"], Value("screen_view"));
    EXPECT_EQ(ZDMLoggableReservedEventNameMap(), (Dictionary{{"ad_impression", "_ai"}}));
    EXPECT_EQ(ZDMErrorCodeNameMap().at(28), "ItemScopedCustomParameterLimitReached");
    for (int64_t unnamed : {24, 25, 26, 27}) EXPECT_FALSE(ZDMErrorCodeNameMap().contains(unnamed));
    // Every internal name maps back to a public name that maps to it.
    for (const auto& [internalName, publicName] : ZDMInternalToPublicEventNameMap())
        EXPECT_EQ(ZDMPublicToInternalEventNameMap()[*publicName.asString()], Value(internalName));

    struct Membership {
        bool (*predicate)(std::string_view);
        std::vector<std::string> names;
        size_t count;
    };
    const Membership lists[] = {
        {ZDMIsEcommerceEventName,
         {"add_payment_info",
          "add_shipping_info",
          "add_to_cart",
          "add_to_wishlist",
          "begin_checkout",
          "purchase",
          "refund",
          "remove_from_cart",
          "select_item",
          "select_promotion",
          "view_cart",
          "view_item",
          "view_item_list",
          "view_promotion",
          "ecommerce_purchase",
          "checkout_progress",
          "purchase_refund",
          "select_content",
          "set_checkout_option",
          "view_search_results"},
         20},
        {ZDMIsEcommerceParameterName,
         {"affiliation",     "coupon",         "creative_name",
          "creative_slot",   "currency",       "discount",
          "index",           "item_id",        "item_brand",
          "item_category",   "item_category2", "item_category3",
          "item_category4",  "item_category5", "item_list_name",
          "item_list_id",    "item_name",      "item_variant",
          "location_id",     "payment_type",   "price",
          "promotion_id",    "promotion_name", "quantity",
          "shipping",        "shipping_tier",  "tax",
          "transaction_id",  "value",          "checkout_step",
          "checkout_option", "item_list",      "item_location_id"},
         33},
        {ZDMIsConversionEventName, {"ecommerce_purchase", "_f", "_iap", "purchase", "refund"}, 5},
    };
    for (const auto& list : lists) {
        EXPECT_EQ(std::set<std::string>(list.names.begin(), list.names.end()).size(), list.count);
        for (const auto& name : list.names) EXPECT_TRUE(list.predicate(name)) << name;
        for (const char* other : {"", "Purchase", "items", "first_open"})
            EXPECT_FALSE(list.predicate(other)) << other;
    }
}

TEST_F(Vocabulary, PublicNamesAndScreenParameters) {
    EXPECT_TRUE(ZDMIsPublicName(Value("name")));
    EXPECT_FALSE(ZDMIsPublicName(Value("_name")));
    EXPECT_EQ(lastSampledMessage(), "");
    EXPECT_FALSE(ZDMIsPublicName(Value(5)));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot check the name. Name is not a string");
    EXPECT_FALSE(ZDMIsPublicName(Value("")));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot check the name. Name is empty");

    EXPECT_FALSE(ZDMIsNotErrorEventName("_err"));
    EXPECT_TRUE(ZDMIsNotErrorEventName("_er"));

    const Dictionary parameters{{"a", 1}, {"_si", 7}, {"_sn", "Home"}};
    EXPECT_TRUE(ZDMParametersContainScreenParameters(parameters));
    EXPECT_FALSE(ZDMParametersContainScreenParameters(Dictionary{{"a", 1}}));
    EXPECT_EQ(ZDMScreenParametersFromParameters(parameters), (Dictionary{{"_sn", "Home"}, {"_si", 7}}));
}

TEST_F(Vocabulary, ErrorTextIsCutToTheLimitAtCharacterBoundaries) {
    struct Case {
        Value name;
        int64_t limit;
        std::string text;
    };
    const std::string fifty = repeated("abcdefghij", 5);
    const Case cases[] = {
        {Value(fifty), 40, fifty.substr(0, 40) + "..."},
        {Value(fifty), 50, fifty},
        {Value(repeated("\U0001F600", 5)), 3, repeated("\U0001F600", 3) + "..."},
        {Value("a\U0001F600bc"), 2, "a\U0001F600..."},
        {Value(), 40, "(nil)"},
        {Value(12), 40, "NSNumber"},
    };
    for (const auto& c : cases) {
        Dictionary parameters;
        ZDMAddErrorEventParameters(parameters, c.name, c.limit);
        EXPECT_EQ(plainParameters(parameters), (Dictionary{{"_ev", c.text}})) << c.text;
    }

    Dictionary withValue;
    ZDMAddErrorEventParameters(withValue, Value("n"), 40, Value(repeated("\U0001F600", 4)));
    EXPECT_EQ(plainParameters(withValue), (Dictionary{{"_ev", "n"}, {"_el", 4}}));
    Dictionary withArray;
    ZDMAddErrorEventParameters(withArray, Value("n"), 40, Value(Value::Array{1, 2}));
    EXPECT_EQ(plainParameters(withArray)["_el"], Value(2));

    Dictionary present{{"_ev", "first"}};
    ZDMAddErrorEventParameters(present, Value("second"), 40, Value("x"));
    EXPECT_EQ(present, (Dictionary{{"_ev", "first"}}));
}

TEST_F(Vocabulary, OnlyTheFirstProblemIsRecorded) {
    Dictionary parameters;
    ZDMAddErrorParametersIfAbsent(parameters, 4, Value("first"), 40, Value("abc"));
    ZDMAddErrorParametersIfAbsent(parameters, 3, Value("second"), 40);
    ZDMSetErrorCodeIfAbsent(parameters, 5);
    EXPECT_EQ(plainParameters(parameters), (Dictionary{{"_err", 4}, {"_ev", "first"}, {"_el", 3}}));
    EXPECT_TRUE(parameters["_err"].objectAs<ZDMValue>());

    Dictionary codeOnly{{"_err", 9}};
    ZDMAddErrorParametersIfAbsent(codeOnly, 4, Value("x"), 40);
    EXPECT_EQ(codeOnly, (Dictionary{{"_err", 9}}));
}

TEST_F(Vocabulary, ArrayFailuresBecomeTheirErrorCodes) {
    struct Case {
        uint64_t failure;
        Dictionary recorded;
    };
    const Case cases[] = {
        {10, {{"_err", 21}, {"_ev", "cycled"}}},
        {11, {{"_err", 20}, {"_ev", "Items"}}},
        {12, {{"_err", 17}, {"_ev", "Items"}}},
        {13, {{"_err", 22}, {"_ev", "Items"}}},
        {14, {}},
        {2, {}},
    };
    for (const auto& c : cases) {
        Dictionary parameters;
        ZDMAddArrayParameterError(parameters, c.failure, "Items", "cycled");
        EXPECT_EQ(plainParameters(parameters), c.recorded) << c.failure;
    }
}

}  // namespace
