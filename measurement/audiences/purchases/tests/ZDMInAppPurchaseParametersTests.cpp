#include <gtest/gtest.h>

#include <functional>

#include "measurement/audiences/purchases/ZDMInAppPurchaseParameters.h"
#include "measurement/audiences/purchases/tests/PurchaseFixture.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "platform/foundation/ProcessInfo.h"

namespace {

using Item = ZDMInAppPurchaseItem;

// The parameters every complete event of product "p" at 0.99 USD, quantity 1, carries.
Plain base(Plain extra = {}, int64_t price = 990000, int64_t value = 990000) {
    Plain out{{"product_id", Value("p")}, {"price", Value(price)},    {"value", Value(value)},
              {"quantity", Value(1)},     {"currency", Value("USD")}, {"product_name", Value("Pro")}};
    for (auto& [key, entry] : extra) out[key] = entry;
    return out;
}
Value did(const std::string& original, std::optional<int64_t> lineItem) {
    return Value(ZDMInAppPurchaseChainIdentifier(original, lineItem, "p"));
}

struct Row {
    std::string name;
    std::function<void(SKProduct&, SKPaymentTransaction&)> arrange;
    std::vector<Item> records;
    std::optional<Plain> expected;
    std::vector<int64_t> codes;
};

class PurchaseClassification : public PurchaseFixture {};

TEST_F(PurchaseClassification, BuildsTheParametersOfEveryKindOfPurchase) {
    const auto nothing = [](SKProduct&, SKPaymentTransaction&) {};
    const auto restored = [](SKProduct&, SKPaymentTransaction& t) {
        t.setTransactionIdentifier("t2");
        auto original = std::make_shared<SKPaymentTransaction>();
        original->setTransactionIdentifier("t1");
        t.setOriginalTransaction(original);
    };
    const auto onDay = [](int n) {
        return [n](SKProduct&, SKPaymentTransaction& t) { t.setTransactionDate(dateOfDay(n)); };
    };
    const auto introductory = [](std::string price, SKProductDiscountPaymentMode mode) {
        return [=](SKProduct& p, SKPaymentTransaction&) {
            p.setIntroductoryPrice(SKProductDiscount{DecimalNumber::fromString(price), mode});
        };
    };
    Item trial = record("p", Item::kAutoRenewableSubscription, "t1", "t1", 1);
    trial.freeTrial = true;
    Item offer = record("p", Item::kAutoRenewableSubscription, "t1", "t1", 1);
    offer.introductoryOffer = true;
    const Item paid = record("p", Item::kAutoRenewableSubscription, "t1", "t1", 1);
    const Item renewal = record("p", Item::kAutoRenewableSubscription, "t1", "t2", 2);
    const Item consumable = record("p", Item::kConsumable, "t1", "t1");

    const Row rows[] = {
        {"no price",
         [](SKProduct& p, SKPaymentTransaction&) { p.setPrice(std::nullopt); },
         {consumable},
         std::nullopt,
         {40021}},
        {"quantity 0",
         [](SKProduct&, SKPaymentTransaction& t) {
             t.setPayment({"p", 0});
         },
         {consumable},
         std::nullopt,
         {40021}},
        {"no currency",
         [](SKProduct& p, SKPaymentTransaction&) { p.setPriceLocaleCurrencyCode(std::nullopt); },
         {consumable},
         std::nullopt,
         {40021}},
        {"0.99 x 3",
         [](SKProduct&, SKPaymentTransaction& t) {
             t.setPayment({"p", 3});
         },
         {consumable},
         [&] {
             Plain out = base({{"_did", did("t1", std::nullopt)}}, 990000, 2970000);
             out["quantity"] = Value(3);
             return out;
         }(),
         {40021}},
        {"non-consumable",
         nothing,
         {record("p", Item::kNonConsumable, "t1", "t1")},
         base({{"_did", did("t1", std::nullopt)}}),
         {40022}},
        {"no records",
         nothing,
         {record("other", Item::kConsumable, "t1", "t1")},
         base({{"invalid", Value(1)}}),
         {40020}},
        {"empty transaction identifier",
         [](SKProduct&, SKPaymentTransaction& t) { t.setTransactionIdentifier(""); },
         {},
         base({{"invalid", Value(1)}}),
         {40003, 40020}},
        {"restore of a non-consumable",
         restored,
         {record("p", Item::kNonConsumable, "t1", "t1")},
         base({{"invalid", Value(1)}}),
         {40005}},
        {"one record with mismatched IDs",
         nothing,
         {record("p", Item::kConsumable, "t0", "t1")},
         base(),
         {40007}},
        {"free-trial subscription",
         nothing,
         {trial},
         base({{"subscription", Value(1)},
               {"_did", did("t1", 501)},
               {"free_trial", Value(1)},
               {"price_is_discounted", Value(1)},
               {"original_price", Value(990000)}},
              0, 0),
         {40009, 40010}},
        {"repurchase of a free trial",
         restored,
         {trial},
         base({{"subscription", Value(1)},
               {"_did", did("t1", 501)},
               {"free_trial", Value(1)},
               {"invalid", Value(1)},
               {"price_is_discounted", Value(1)},
               {"original_price", Value(990000)}},
              0, 0),
         {40011}},
        {"introductory price 0.49",
         introductory("0.49", SKProductDiscountPaymentMode::payAsYouGo),
         {offer},
         base({{"subscription", Value(1)},
               {"_did", did("t1", 501)},
               {"price_is_discounted", Value(1)},
               {"original_price", Value(990000)}},
              490000, 490000),
         {40018, 40010}},
        {"introductory free trial",
         introductory("0", SKProductDiscountPaymentMode::freeTrial),
         {offer},
         base({{"subscription", Value(1)},
               {"_did", did("t1", 501)},
               {"price_is_discounted", Value(1)},
               {"original_price", Value(990000)}},
              0, 0),
         {40018, 40010}},
        {"renewal after a free trial",
         onDay(2),
         {trial, renewal},
         base({{"_did", did("t1", 502)}, {"sub_convert", Value(1)}}),
         {40008}},
        {"renewal after a paid period",
         onDay(2),
         {paid, renewal},
         base({{"_did", did("t1", 502)}, {"sub_renew", Value(1)}}),
         {40008}},
        {"first subscription period",
         nothing,
         {paid, renewal},
         base({{"subscription", Value(1)}, {"_did", did("t1", 501)}}),
         {40008}},
        {"subscription without a record of its date",
         onDay(5),
         {paid, renewal},
         base({{"invalid", Value(1)}, {"subscription", Value(1)}}),
         {40023}},
        {"two records with the transaction's date",
         nothing,
         {paid, record("p", Item::kAutoRenewableSubscription, "t1", "t3", 1)},
         base({{"invalid", Value(1)}, {"subscription", Value(1)}}),
         {40024}},
        // No record of its date: nothing to follow a chain from, so no renewal either.
        {"several consumables, none of its date",
         onDay(5),
         {consumable, record("p", Item::kConsumable, "t2", "t2", 2)},
         base({{"_did", Value(-1)}}),
         {40008}},
        {"non-renewing subscription",
         nothing,
         {record("p", Item::kNonRenewingSubscription, "t1", "t1"),
          record("p", Item::kNonRenewingSubscription, "t1", "t1", 2)},
         base({{"subscription", Value(1)}, {"_did", did("t1", std::nullopt)}}),
         {40025}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto p = product("p");
        auto t = transaction("p");
        row.arrange(*p, *t);
        const size_t before = purchaseCodes().size();
        const auto parameters = ZDMInAppPurchaseParameters(p.get(), t.get(), row.records);
        EXPECT_EQ(parameters ? std::optional(plain(*parameters)) : std::nullopt, row.expected);
        const auto codes = purchaseCodes();
        EXPECT_EQ(std::vector<int64_t>(codes.begin() + static_cast<std::ptrdiff_t>(before), codes.end()),
                  row.codes);
    }
}

TEST_F(PurchaseClassification, BeforeTheOfferPaymentModesAnIntroductoryFreeTrialIsPricedAsListed) {
    ProcessInfo::setOperatingSystemVersion({10, 13, 1});
    Item offer = record("p", Item::kAutoRenewableSubscription, "t1", "t1", 1);
    offer.introductoryOffer = true;
    auto p = product("p");
    p->setIntroductoryPrice(
        SKProductDiscount{DecimalNumber::fromString("0.10"), SKProductDiscountPaymentMode::freeTrial});
    const auto parameters = ZDMInAppPurchaseParameters(p.get(), transaction("p").get(), {offer});
    ProcessInfo::resetOperatingSystemVersion();
    ASSERT_TRUE(parameters);
    EXPECT_EQ(plain(*parameters)["price"], Value(100000));
    EXPECT_EQ(plain(*parameters)["original_price"], Value(990000));
}

TEST_F(PurchaseClassification, MissingProductOrTransactionLogsAndGivesNoEvent) {
    auto unnamed = product("");
    EXPECT_FALSE(ZDMInAppPurchaseParameters(nullptr, transaction("p").get(), {}));
    EXPECT_FALSE(ZDMInAppPurchaseParameters(unnamed.get(), transaction("p").get(), {}));
    EXPECT_FALSE(ZDMInAppPurchaseParameters(product("p").get(), nullptr, {}));
    EXPECT_EQ(purchaseCodes(), (std::vector<int64_t>{40026, 40027, 40028}));
}

TEST(PurchaseChainIdentifier, IsTheDigestOfTheJoinedIdentifiers) {
    const auto digest = [](const std::string& text) { return zdm_64LSBMD5(Data(text.begin(), text.end())); };
    EXPECT_EQ(ZDMInAppPurchaseChainIdentifier("1000", std::nullopt, "p"), digest("1000p"));
    EXPECT_EQ(ZDMInAppPurchaseChainIdentifier("1000", 77, "p"), digest("100077p"));
    EXPECT_EQ(ZDMInAppPurchaseChainIdentifier("", 77, "p"), -1);
    EXPECT_EQ(ZDMInAppPurchaseChainIdentifier("1000", std::nullopt, ""), -1);
}

TEST(PurchaseValue, IsExactDecimalArithmetic) {
    EXPECT_EQ(ZDMInAppPurchaseValue(*DecimalNumber::fromString("0.99"), 1), 990000);
    EXPECT_EQ(ZDMInAppPurchaseValue(*DecimalNumber::fromString("0.99"), 3), 2970000);
    EXPECT_EQ(ZDMInAppPurchaseValue(*DecimalNumber::fromString("1"), INT64_MAX), std::nullopt);
}

TEST(PurchaseDate, ReadsRFC3339UTCTextOnly) {
    struct Case {
        std::string text;
        std::optional<double> unix;
    };
    const Case cases[] = {
        {"2026-01-01T00:00:00Z", 1767225600.0},
        {"2026-01-01T00:00:01.5Z", 1767225601.5},
        {"1970-01-01t00:00:00z", 0.0},
        {"2026-01-01T00:00:00", std::nullopt},
        {"2026-01-01T00:00:00+01:00", std::nullopt},
        {"2026-02-30T00:00:00Z", std::nullopt},
        {"2026-01-01T24:00:00Z", std::nullopt},
        {"2026-01-01T00:00:00.Z", std::nullopt},
        {"2026-01-01", std::nullopt},
        {"", std::nullopt},
        {"yesterday at noon, roughly", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto date = ZDMInAppPurchaseDateFromString(c.text);
        EXPECT_EQ(date ? std::optional(date->timeIntervalSince1970()) : std::nullopt, c.unix) << c.text;
    }
}

}  // namespace
