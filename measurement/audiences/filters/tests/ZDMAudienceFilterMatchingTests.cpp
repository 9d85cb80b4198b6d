#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "measurement/audiences/filters/ZDMAudienceFilterMatching.h"
#include "measurement/audiences/filters/tests/FilterFixture.h"

namespace {

using Evaluation = std::function<std::optional<bool>()>;

struct Row {
    std::string name;
    Evaluation evaluate;
    std::optional<bool> expected;
    std::vector<int64_t> codes;
};

// An aggregates record of the shape the event store keeps.
struct Aggregates {
    std::string name_;
    int32_t lifetime;
    int32_t session;
    const std::string& name() const { return name_; }
    int32_t lifetimeCount() const { return lifetime; }
    int32_t currentSessionCount() const { return session; }
};

struct Attribute {
    std::string name_;
    std::shared_ptr<const ZDMValue> value_;
    const std::string& name() const { return name_; }
    const std::shared_ptr<const ZDMValue>& value() const { return value_; }
};

Value parameter(std::shared_ptr<const ZDMValue> value) {
    return Value(Value::ObjectPtr(std::move(value)));
}

Evaluation onEvent(Proto filter, Dictionary parameters = {}, std::optional<Aggregates> aggregates = {}) {
    return [=] {
        const auto message = decoded<ZDMPBEventFilter>(filter);
        return ZDMEvaluateEventFilter(message.get(), "purchase", parameters,
                                      aggregates ? &*aggregates : nullptr);
    };
}

Evaluation onProperty(Proto filter, std::shared_ptr<const ZDMValue> value) {
    return [=] {
        const auto message = decoded<ZDMPBPropertyFilter>(Proto().text(2, "tier").message(3, filter));
        const Attribute attribute{"tier", value};
        return ZDMEvaluatePropertyFilter(message.get(), &attribute);
    };
}

Evaluation onValue(Proto filter, std::shared_ptr<const ZDMValue> value) {
    return [=] { return ZDMEvaluateFilterForValue(decoded<ZDMPBFilter>(filter).get(), value.get()); };
}

Evaluation onText(Proto stringFilterBytes, std::string value) {
    return
        [=] { return ZDMEvaluateStringFilter(decoded<ZDMPBStringFilter>(stringFilterBytes).get(), &value); };
}

Proto purchaseFilter() {
    return Proto().varint(1, 1).text(2, "purchase");
}

class AudienceFilterMatching : public FilterFixture {
  protected:
    void check(const std::vector<Row>& rows) {
        takeCodes();
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            EXPECT_EQ(row.evaluate(), row.expected);
            EXPECT_EQ(takeCodes(), row.codes);
        }
    }
};

TEST_F(AudienceFilterMatching, EdgeRowsAnswerAsDefined) {
    const Proto sessionCountAboveTwo = purchaseFilter().message(5, numberFilter(2, "2")).varint(8, 1);
    const Proto numberOnlyParameter =
        purchaseFilter().message(3, withNumber(betweenFilter("10", "20")).text(4, "q"));
    const Proto both = withNumber(numberFilter(3, "5")).message(1, stringFilter(5, "x"));
    check({
        {"matching name, no conditions", onEvent(purchaseFilter()), true, {}},
        {"session count 3, lifetime 0",
         onEvent(sessionCountAboveTwo, {}, Aggregates{"purchase", 0, 3}),
         true,
         {}},
        {"session count 3, lifetime 9",
         onEvent(sessionCountAboveTwo, {}, Aggregates{"purchase", 9, 3}),
         true,
         {}},
        {"session count 1, lifetime 9",
         onEvent(sessionCountAboveTwo, {}, Aggregates{"purchase", 9, 1}),
         false,
         {}},
        {"property 12 between 10 and 20",
         onProperty(withNumber(betweenFilter("10", "20")), text("12")),
         true,
         {}},
        {"property 12abc",
         onProperty(withNumber(betweenFilter("10", "20")), text("12abc")),
         std::nullopt,
         {7001}},
        {"parameter 12 without string filter",
         onEvent(numberOnlyParameter, {{"q", parameter(text("12"))}}),
         std::nullopt,
         {7010}},
        {"0.1 + 0.2 equals 0.3",
         onValue(withNumber(numberFilter(3, "0.3")), ZDMValue::initWithDouble(0.1 + 0.2)),
         true,
         {}},
        {"0.3000001 is not 0.3",
         onValue(withNumber(numberFilter(3, "0.3")), ZDMValue::initWithDouble(0.3000001)),
         false,
         {}},
        {"complement of exact abc on ABC",
         onValue(withString(stringFilter(5, "abc")).varint(3, 1), text("ABC")),
         false,
         {}},
        {"ends with ing on RUNNING", onText(stringFilter(3, "ing"), "RUNNING"), true, {}},
        {"ends with ing on in", onText(stringFilter(3, "ing"), "in"), false, {}},
        {"empty in-list", onText(inListFilter({}), "a"), std::nullopt, {9003, 9006}},
        {"^a on ba", onText(stringFilter(1, "^a"), "ba"), false, {}},
        {"a on ba", onText(stringFilter(1, "a"), "ba"), true, {}},
        {"both kinds, int64", onValue(both, ZDMValue::initWithInt64(5)), true, {}},
        {"both kinds, decimal string", onValue(both, text("5")), true, {}},
    });
}

TEST_F(AudienceFilterMatching, CaseSensitiveTwinsFlipWhereOnlyCaseDiffers) {
    struct Twin {
        uint64_t type;
        std::string expression;
        std::string value;
        bool insensitive;
        bool sensitive;
    };
    const Twin twins[] = {
        {1, "^r.n", "Running", true, false},
        {2, "Run", "running", true, false},
        {3, "ing", "RUNNING", true, false},
        {4, "NN", "running", true, false},
        {5, "abc", "ABC", true, false},
        {5, "abc", "abc", true, true},
        {6, "abc", "ABC", true, false},
        {4, "\xC3\x9F", "STRASSE", true, false},
        // Full folding makes these equal, yet exact also asks for equal lengths.
        {5,
         "stra\xC3\x9F"
         "e",
         "STRASSE", false, false},
        // Types the server may add later are valid and match nothing.
        {7, "abc", "abc", false, false},
    };
    for (const auto& twin : twins) {
        SCOPED_TRACE(twin.expression + " / " + twin.value);
        for (const bool caseSensitive : {false, true}) {
            const Proto filter = twin.type == 6 ? inListFilter({"x", twin.expression}, caseSensitive)
                                                : stringFilter(twin.type, twin.expression, caseSensitive);
            EXPECT_EQ(onText(filter, twin.value)(), caseSensitive ? twin.sensitive : twin.insensitive);
        }
    }
    EXPECT_TRUE(takeCodes().empty());
}

TEST_F(AudienceFilterMatching, NumbersCompareInTheArithmeticOfTheirKind) {
    const int64_t largest = std::numeric_limits<int64_t>::max();
    check({
        {"int64 max greater than max - 1",
         onValue(withNumber(numberFilter(2, "9223372036854775806")), ZDMValue::initWithInt64(largest)),
         true,
         {}},
        {"int64 max not equal to max - 1",
         onValue(withNumber(numberFilter(3, "9223372036854775806")), ZDMValue::initWithInt64(largest)),
         false,
         {}},
        {"decimal string exact beyond double precision",
         onValue(withNumber(numberFilter(1, "0.30000000000000000001")), text("0.3")),
         true,
         {}},
        {"negative decimals", onValue(withNumber(numberFilter(1, "-2.5")), text("-3")), true, {}},
        {"between is inclusive",
         onValue(withNumber(betweenFilter("10", "20")), ZDMValue::initWithInt64(20)),
         true,
         {}},
        {"-.5 on the double path",
         onValue(withNumber(numberFilter(3, "-.5")), ZDMValue::initWithDouble(-0.5)),
         true,
         {}},
        {"+7 on the double path",
         onValue(withNumber(numberFilter(3, "+7")), ZDMValue::initWithDouble(7.0)),
         true,
         {}},
        {"less than +7",
         onValue(withNumber(numberFilter(1, "+7")), ZDMValue::initWithDouble(7.0)),
         false,
         {}},
        {"double between",
         onValue(withNumber(betweenFilter("-1", "1.")), ZDMValue::initWithDouble(0.5)),
         true,
         {}},
        {"three steps above is not equal",
         onValue(withNumber(numberFilter(3, "1")), ZDMValue::initWithDouble(std::nextafter(
                                                       std::nextafter(std::nextafter(1.0, 2.0), 2.0), 2.0))),
         false,
         {}},
    });
}

TEST_F(AudienceFilterMatching, UnevaluableInputsLogTheirReason) {
    const Proto parameterFilter = purchaseFilter().message(3, withString(stringFilter(5, "a")).text(4, "q"));
    check({
        {"no event filter",
         [] {
             return ZDMEvaluateEventFilter(nullptr, "purchase", {}, static_cast<const Aggregates*>(nullptr));
         },
         std::nullopt,
         {7004}},
        {"empty event name",
         [] {
             return ZDMEvaluateEventFilter(decoded<ZDMPBEventFilter>(purchaseFilter()).get(), "", {},
                                           std::optional<ZDMEventFilterCounts>());
         },
         std::nullopt,
         {7005}},
        {"other event name", onEvent(Proto().text(2, "refund")), std::nullopt, {7006}},
        {"aggregates of another event",
         onEvent(purchaseFilter().message(5, numberFilter(2, "1")), {}, Aggregates{"refund", 5, 5}),
         std::nullopt,
         {7007}},
        {"parameter filter without name",
         onEvent(purchaseFilter().message(3, withString(stringFilter(5, "a")))),
         std::nullopt,
         {7008}},
        {"missing parameter", onEvent(parameterFilter), std::nullopt, {7009}},
        {"no property filter",
         [] { return ZDMEvaluatePropertyFilter(nullptr, static_cast<const Attribute*>(nullptr)); },
         std::nullopt,
         {7011}},
        {"no user property",
         [] {
             const auto filter = decoded<ZDMPBPropertyFilter>(Proto().text(2, "tier"));
             return ZDMEvaluatePropertyFilter(filter.get(), static_cast<const Attribute*>(nullptr));
         },
         std::nullopt,
         {7012}},
        {"other property name",
         [] {
             const auto filter = decoded<ZDMPBPropertyFilter>(Proto().text(2, "tier"));
             const Attribute attribute{"plan", text("a")};
             return ZDMEvaluatePropertyFilter(filter.get(), &attribute);
         },
         std::nullopt,
         {7013}},
        {"property filter without filter",
         [] {
             const auto filter = decoded<ZDMPBPropertyFilter>(Proto().text(2, "tier"));
             const Attribute attribute{"tier", text("a")};
             return ZDMEvaluatePropertyFilter(filter.get(), &attribute);
         },
         std::nullopt,
         {7014}},
        {"array property",
         onProperty(withString(stringFilter(5, "a")), ZDMValue::initWithArray(Value::Array())),
         std::nullopt,
         {7015}},
        {"neither kind", onValue(Proto().varint(3, 1), text("a")), std::nullopt, {7000}},
        {"infinite double",
         onValue(withNumber(numberFilter(3, "1")),
                 ZDMValue::initWithDouble(std::numeric_limits<double>::infinity())),
         std::nullopt,
         {7002}},
        {"NaN double",
         onValue(withNumber(numberFilter(3, "1")), ZDMValue::initWithDouble(std::nan(""))),
         std::nullopt,
         {7002}},
        {"number for a string filter",
         onValue(withString(stringFilter(5, "1")), ZDMValue::initWithInt64(1)),
         std::nullopt,
         {7003}},
        {"complement keeps not evaluable",
         onValue(withString(stringFilter(0, "a")).varint(3, 1), text("a")),
         std::nullopt,
         {9001, 9006}},
        {"no text",
         [] {
             return ZDMEvaluateStringFilter(decoded<ZDMPBStringFilter>(stringFilter(5, "a")).get(), nullptr);
         },
         std::nullopt,
         {9005}},
        {"decimal beyond the decimal type",
         onValue(withNumber(numberFilter(3, std::string(60, '9'))), text("1")),
         std::nullopt,
         {8002, 8015}},
        {"double beyond double range",
         onValue(withNumber(numberFilter(3, "1" + std::string(400, '0'))), ZDMValue::initWithDouble(1)),
         std::nullopt,
         {8012}},
    });
}

TEST_F(AudienceFilterMatching, InvalidDefinitionsLogEveryFailingCheck) {
    const std::vector<std::pair<Proto, std::vector<int64_t>>> numberFilters = {
        {Proto().text(3, "1"), {8006}},    {numberFilter(0, "1"), {8007}},
        {numberFilter(7, "1"), {8011}},    {Proto().varint(1, 3), {8008}},
        {numberFilter(1, "1e3"), {8008}},  {betweenFilter("x", "y"), {8009, 8010}},
        {betweenFilter("1", "y"), {8010}},
    };
    takeCodes();
    for (const auto& [bytes, codes] : numberFilters) {
        EXPECT_FALSE(ZDMIsValidNumberFilter(decoded<ZDMPBNumberFilter>(bytes).get()));
        EXPECT_EQ(takeCodes(), codes);
    }
    EXPECT_TRUE(ZDMIsValidNumberFilter(decoded<ZDMPBNumberFilter>(betweenFilter("-1", "+.5")).get()));

    const std::vector<std::pair<Proto, int64_t>> stringFilters = {
        {Proto().text(2, "a"), 9000}, {stringFilter(0, "a"), 9001},         {Proto().varint(1, 2), 9002},
        {inListFilter({}), 9003},     {stringFilter(1, "(unclosed"), 9004},
    };
    for (const auto& [bytes, code] : stringFilters) {
        EXPECT_FALSE(ZDMIsValidStringFilter(decoded<ZDMPBStringFilter>(bytes).get()));
        EXPECT_EQ(takeCodes(), std::vector<int64_t>{code});
    }
    EXPECT_NE(lineOf(9004).find("U_REGEX_MISMATCHED_PAREN"), std::string::npos) << lineOf(9004);
}

TEST_F(AudienceFilterMatching, RunawayPatternIsCutShortNotHung) {
    const std::string text = std::string(40, 'a') + "b";
    takeCodes();
    EXPECT_EQ(onText(stringFilter(1, "(a+)+$"), text)(), std::nullopt);
    EXPECT_EQ(takeCodes(), std::vector<int64_t>{9004});
    const std::string line = lineOf(9004);
    EXPECT_TRUE(line.find("U_REGEX_TIME_OUT") != std::string::npos ||
                line.find("U_REGEX_STACK_OVERFLOW") != std::string::npos)
        << line;
    EXPECT_EQ(onText(stringFilter(1, "a+b$"), text)(), true);
    EXPECT_TRUE(takeCodes().empty());
}

}  // namespace
