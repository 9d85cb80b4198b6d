// Lifetime value through the engine's write path, over its real sqlite file: the totals it keeps
// per currency and what an unusable or out-of-bounds purchase does to the write.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMLifetimeValueRecorder.h"
#include "measurement/engine/tests/WritePathFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"

namespace {
Value text(const std::string& value) {
    return Value(ZDMValue::initWithString(Value(value)));
}
Value real(double value) {
    return Value(ZDMValue::initWithDouble(value));
}
Value integer(int64_t value) {
    return Value(ZDMValue::initWithInt64(value));
}

std::shared_ptr<ZDMEvent> purchase(const std::string& name, Value currency, Value value) {
    Dictionary parameters;
    if (!currency.isNull()) parameters.set("currency", currency);
    if (!value.isNull()) parameters.set("value", value);
    return ZDMEvent::initWithOrigin("app", !name.starts_with("_"), name, Clock::current().now(), 0,
                                    parameters);
}

class LifetimeValue : public WritePath {
  protected:
    void log(const std::shared_ptr<ZDMEvent>& event) { handle(*engine_, event); }
    // "_ltv_…" name to total, most recently set first.
    std::vector<std::pair<std::string, int64_t>> totals() {
        std::vector<std::pair<std::string, int64_t>> out;
        onWorkerQueue(*engine_, [&] {
            const auto all = engine_->database()->allLifetimeValueUserAttributes();
            ASSERT_TRUE(all);
            for (const auto& attribute : *all)
                out.emplace_back(attribute->name(), attribute->value()->int64Value());
        });
        return out;
    }
    size_t rowCount() { return rows().size(); }
    int64_t allEventsCount() { return counts(*engine_).allEventsCount(); }

    std::shared_ptr<ZDMMeasurement> engine_ = startedEngine();
};
}  // namespace

TEST_F(LifetimeValue, ARefundInALowerCaseCurrencyIsSubtractedInMicroUnits) {
    log(purchase("refund", text("usd"), real(1.5)));
    EXPECT_EQ(totals(), (std::vector<std::pair<std::string, int64_t>>{{"_ltv_USD", -1500000}}));
    log(purchase("purchase", text("USD"), integer(2)));
    log(purchase("_iap", text("USD"), real(3.9)));
    EXPECT_EQ(totals(), (std::vector<std::pair<std::string, int64_t>>{{"_ltv_USD", 500003}}))
        << "an in-app purchase's value counts as it stands, truncated";
    EXPECT_EQ(rowCount(), 3u);
    EXPECT_TRUE(loggedInOrder({22006, 22006, 22006}));
}

TEST_F(LifetimeValue, AFifthCurrencyPushesOutTheLeastRecentlySetOne) {
    for (const char* currency : {"USD", "EUR", "GBP", "JPY", "USD"}) {
        log(purchase("purchase", text(currency), integer(1)));
        clock_->advance(1);
    }
    log(purchase("purchase", text("CHF"), integer(1)));
    EXPECT_EQ(
        totals(),
        (std::vector<std::pair<std::string, int64_t>>{
            {"_ltv_CHF", 1000000}, {"_ltv_USD", 2000000}, {"_ltv_JPY", 1000000}, {"_ltv_GBP", 1000000}}))
        << "EUR was set longest ago; USD was set again after it";
}

TEST_F(LifetimeValue, AnUnusableCurrencyOrValueIsLoggedAndTheEventStillStored) {
    struct Case {
        Value currency, value;
        int64_t code;
    } cases[] = {
        {text("USDX"), real(1), 22000}, {text("US"), real(1), 22000},       {integer(840), real(1), 22000},
        {Value(), real(1), 22000},      {text("USD"), text("1.00"), 22001}, {text("USD"), Value(), 22001},
    };
    size_t stored = 0;
    for (const auto& c : cases) {
        const auto before = countOf(c.code);
        log(purchase("purchase", c.currency, c.value));
        EXPECT_EQ(countOf(c.code), before + 1) << c.code;
        EXPECT_EQ(rowCount(), ++stored);
    }
    EXPECT_TRUE(totals().empty());
    EXPECT_EQ(countOf(23053), 0);
}

TEST_F(LifetimeValue, AnAmountOutOfBoundsRollsTheWriteBack) {
    log(purchase("purchase", text("USD"), real(1e13)));
    EXPECT_TRUE(loggedInOrder({22002, 23053}));
    EXPECT_EQ(rowCount(), 0u);
    EXPECT_EQ(allEventsCount(), 0) << "the day's counts are rolled back with the row";
    EXPECT_TRUE(totals().empty());

    // A total that would pass the 64-bit range is refused the same way, keeping the one before.
    log(purchase("purchase", text("USD"), real(9e12)));
    log(purchase("purchase", text("USD"), real(9e12)));
    EXPECT_EQ(countOf(22002), 2);
    EXPECT_EQ(countOf(23053), 2);
    EXPECT_EQ(rowCount(), 1u);
    EXPECT_EQ(allEventsCount(), 1);
    EXPECT_EQ(totals(), (std::vector<std::pair<std::string, int64_t>>{{"_ltv_USD", 9000000000000000000}}));
}

TEST_F(LifetimeValue, AStoreThatRefusesTheTotalOrTheRoomForItRollsTheWriteBack) {
    RawFile(databasePath())
        .exec(
            "CREATE TRIGGER refuse_total BEFORE INSERT ON user_attributes WHEN NEW.name = '_ltv_EUR' "
            "BEGIN SELECT RAISE(ABORT, 'no'); END");
    log(purchase("purchase", text("EUR"), integer(1)));
    EXPECT_TRUE(loggedInOrder({22005, 23053}));
    EXPECT_EQ(rowCount(), 0u);

    for (const char* currency : {"USD", "GBP", "JPY", "CHF"}) {
        log(purchase("purchase", text(currency), integer(1)));
        clock_->advance(1);
    }
    RawFile(databasePath())
        .exec(
            "CREATE TRIGGER keep_oldest BEFORE DELETE ON user_attributes WHEN OLD.name = '_ltv_USD' "
            "BEGIN SELECT RAISE(ABORT, 'no'); END");
    log(purchase("purchase", text("AUD"), integer(1)));
    EXPECT_TRUE(loggedInOrder({22004, 23053}));
    EXPECT_EQ(totals().size(), 4u);
    EXPECT_EQ(totals().back().first, "_ltv_USD");
    EXPECT_EQ(rowCount(), 4u);
}

TEST(LifetimeValueAmount, MicroUnitsRoundHalfAwayFromZeroAndStopAtTheInt64Range) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    struct Case {
        const char* name;
        Value value;
        std::optional<int64_t> amount;
    } cases[] = {
        {"purchase", real(1.5), 1500000},
        {"purchase", real(1.0000005), 1000001},  // the decimal written, not the double's binary value
        {"purchase", real(-1.0000005), -1000001},
        {"purchase", real(1.0000004999), 1000000},
        {"purchase", real(0.0000005), 1},
        {"purchase", real(0.00000049), 0},
        {"ecommerce_purchase", integer(3), 3000000},
        {"refund", integer(2), -2000000},
        {"refund", real(-0.25), 250000},
        {"purchase", real(9223372036854.775), 9223372036854775000},
        {"purchase", real(9223372036854.78), std::nullopt},
        {"purchase", real(-9223372036854.775), -9223372036854775000},
        {"purchase", real(-9223372036854.78), std::nullopt},
        {"purchase", integer(9223372036854), 9223372036854000000},
        {"purchase", integer(9223372036855), std::nullopt},
        {"purchase", real(1e300), std::nullopt},
        {"purchase", real(std::nan("")), std::nullopt},
        {"purchase", real(std::numeric_limits<double>::infinity()), std::nullopt},
        {"_iap", real(4.9), 4},
        {"_iap", real(-4.9), -4},
        {"_iap", integer(kMax), kMax},
        {"_iap", real(9223372036854775808.0), std::nullopt},
        {"_iap", real(-9223372036854775808.0), std::numeric_limits<int64_t>::min()},
    };
    for (const auto& c : cases) {
        const auto event = purchase(c.name, text("USD"), c.value);
        ASSERT_TRUE(event);
        const auto value = c.value.objectAs<ZDMValue>();
        EXPECT_EQ(ZDMLifetimeValueRecorder::amountForEvent(*event, *value), c.amount)
            << c.name << " " << value->description();
    }
}

TEST(LifetimeValueAmount, PurchaseEventsAreTheFourNames) {
    struct Case {
        const char* name;
        bool ecommerce, purchase;
    } cases[] = {{"purchase", true, true}, {"ecommerce_purchase", true, true}, {"refund", true, true},
                 {"_iap", false, true},    {"purchased", false, false},        {"_iaps", false, false}};
    for (const auto& c : cases) {
        const auto event = purchase(c.name, Value(), Value());
        ASSERT_TRUE(event) << c.name;
        EXPECT_EQ(ZDMLifetimeValueRecorder::isEcommercePurchaseEvent(*event), c.ecommerce) << c.name;
        EXPECT_EQ(ZDMLifetimeValueRecorder::isPurchaseEvent(*event), c.purchase) << c.name;
    }
}
