#include <gtest/gtest.h>

#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/foundation/tests/ParameterHelpers.h"

namespace {

using V = ZDMDataTypeValidator;

class Validator : public SharedMonitorFixture {
  protected:
    // The one console line of a refusal, checked for level, code and how its text begins.
    void expectOneLine(int64_t level, int64_t code, const std::string& opening) {
        flush(*monitor_);
        const auto lines = logger_->lines();
        ASSERT_EQ(lines.size(), 1u) << opening;
        EXPECT_EQ(lines[0].level, level) << opening;
        EXPECT_EQ(lines[0].code, code) << opening;
        EXPECT_TRUE(lines[0].message.starts_with(opening)) << lines[0].message;
    }
    size_t lineCount() {
        flush(*monitor_);
        return logger_->lines().size();
    }
    void forget() {
        flush(*monitor_);
        logger_ = std::make_shared<RecordingLogger>();
        monitor_ = makeMonitor(alwaysReplace_.source());
        ZDMMonitor::setSharedMonitorForTesting(monitor_);
    }
};

TEST_F(Validator, NamesByRuleLengthAndReservation) {
    using Check = bool (*)(const Value&, uint64_t*);
    struct Case {
        const char* label;
        Check check;
        std::string name;
        uint64_t failure;
        int64_t messageCode;  // 0: no line
    };
    const std::string letters40 = repeated("a", 40);
    const std::string supplementary40 = repeated("\U0001D400", 40);  // 80 UTF-16 units
    const Case cases[] = {
        {"40 letters as event name", V::isValidPublicEventName, letters40, 0, 0},
        {"40 letters as user property", V::isValidPublicUserAttributeName, letters40, 2, 13000},
        {"41 letters as event name", V::isValidPublicEventName, letters40 + "a", 2, 13000},
        {"40 supplementary letters", V::isValidPublicEventName, supplementary40, 0, 0},
        {"digit first, public", V::isValidPublicEventName, "1abc", 3, 13003},
        {"digit first, internal", V::isValidInternalEventName, "1abc", 0, 0},
        {"underscore first, public", V::isValidPublicEventName, "_x", 3, 13003},
        {"underscore first, internal", V::isValidInternalEventName, "_x", 0, 0},
        {"reserved prefix", V::isValidPublicEventName, "za_event", 4, 13007},
        {"screen_view", V::isValidPublicEventName, "screen_view", 0, 0},
        {"reserved name", V::isValidPublicEventName, "session_start", 4, 13006},
        {"loggable reserved name", V::isValidPublicEventName, "ad_impression", 0, 0},
        {"hyphen", V::isValidPublicEventName, "a-b", 3, 13002},
        {"combining mark", V::isValidPublicEventName, "e\u0301", 3, 13002},
        {"precomposed letter", V::isValidPublicEventName, "\u00E9t\u00E9", 0, 0},
        {"Arabic-Indic digit", V::isValidInternalEventName, "_x\u0663", 0, 0},
        {"empty", V::isValidPublicEventName, "", 1, 13001},
        {"parameter reserved prefix", V::isValidPublicEventParameterName, "zizoda_x", 4, 13008},
        {"reserved user property", V::isValidPublicUserAttributeName, "user_id", 4, 13009},
        {"user property prefix", V::isValidPublicUserAttributeName, "za_x", 4, 13010},
        {"internal origin of 33", V::isValidInternalEventOrigin, repeated("o", 33), 2, 13000},
        {"conditional name of 25", V::isValidConditionalUserPropertyName, repeated("n", 25), 2, 13000},
    };
    for (const auto& c : cases) {
        forget();
        uint64_t failure = 99;
        EXPECT_EQ(c.check(Value(c.name), &failure), c.failure == 0) << c.label;
        EXPECT_EQ(failure, c.failure) << c.label;
        EXPECT_EQ(lineCount(), c.messageCode ? 1u : 0u) << c.label;
        if (c.messageCode) {
            flush(*monitor_);
            EXPECT_EQ(logger_->lines()[0].code, c.messageCode) << c.label;
            EXPECT_EQ(logger_->lines()[0].level, 0) << c.label;
        }
    }
}

TEST_F(Validator, ARefusalLogsOneLineWithTheKindsText) {
    uint64_t failure = 0;
    EXPECT_FALSE(V::isValidPublicEventName(Value("1abc"), &failure));
    expectOneLine(0, 13003, "Event name must start with a letter");

    forget();
    EXPECT_FALSE(V::isValidPublicEventParameterName(Value(12), &failure));
    EXPECT_EQ(failure, 5u);
    expectOneLine(0, 13000, "Event parameter name must be of type NSString");

    forget();
    EXPECT_FALSE(V::isValidPublicUserAttributeName(Value(), &failure));
    EXPECT_EQ(failure, 1u);
    expectOneLine(0, 13001, "User property name is required and can't be nil");

    forget();
    EXPECT_FALSE(V::isValidCurrencyCode(measurementValue("US1"), &failure));
    expectOneLine(3, 13012, "Event parameter value must contain a 3-letter ISO_4217 currency code. value");

    forget();
    EXPECT_FALSE(V::isValidPublicEventParameterValue(Value("plain text"), &failure));
    EXPECT_EQ(failure, 5u);
    expectOneLine(3, 13005, "Event parameter value must be a ZDMValue instance. value: NSString");

    forget();
    EXPECT_FALSE(V::isValidNumericValue(measurementValue("abc"), &failure));
    EXPECT_EQ(failure, 8u);
    expectOneLine(3, 13011, "Event parameter value must be specified with a numeric type. value: abc");

    forget();
    EXPECT_FALSE(V::isValidScreenParameterValue(Value(repeated("s", 101)), &failure));
    expectOneLine(0, 13000, "Screen parameter value is too long. The maximum supported length is 100");

    forget();
    EXPECT_FALSE(V::isValidArrayParamItem(Value("x"), &failure));
    EXPECT_EQ(failure, 14u);
    expectOneLine(0, 13014, "Array param must be a dictionary. Parameters");
}

TEST_F(Validator, ValuesByKindAndBounds) {
    struct Case {
        const char* label;
        std::function<bool(uint64_t*)> check;
        uint64_t failure;
        size_t lines;
    };
    const Case cases[] = {
        {"empty event parameter value",
         [](uint64_t* f) { return V::isValidPublicEventParameterValue(measurementValue(""), f); }, 0, 0},
        {"empty user property value",
         [](uint64_t* f) { return V::isValidPublicUserAttributeValue(measurementValue(""), f); }, 1, 0},
        {"public value of 101",
         [](uint64_t* f) {
             return V::isValidPublicEventParameterValue(measurementValue(Value(repeated("v", 101))), f);
         },
         2, 1},
        {"internal value of 256",
         [](uint64_t* f) {
             return V::isValidInternalEventParameterValue(measurementValue(Value(repeated("v", 256))), f);
         },
         0, 0},
        {"number value",
         [](uint64_t* f) { return V::isValidPublicEventParameterValue(measurementValue(7), f); }, 0, 0},
        {"nil value", [](uint64_t* f) { return V::isValidPublicEventParameterValue(Value(), f); }, 1, 1},
        {"_id of 256",
         [](uint64_t* f) {
             return V::isValidInternalUserAttributeValue(measurementValue(Value(repeated("i", 256))), "_id",
                                                         f);
         },
         0, 0},
        {"_id of 257",
         [](uint64_t* f) {
             return V::isValidInternalUserAttributeValue(measurementValue(Value(repeated("i", 257))), "_id",
                                                         f);
         },
         2, 1},
        {"_fot of 36",
         [](uint64_t* f) {
             return V::isValidInternalUserAttributeValue(measurementValue(Value(repeated("t", 36))), "_fot",
                                                         f);
         },
         0, 0},
        {"_fot of 37",
         [](uint64_t* f) {
             return V::isValidInternalUserAttributeValue(measurementValue(Value(repeated("t", 37))), "_fot",
                                                         f);
         },
         2, 1},
        {"currency usd", [](uint64_t* f) { return V::isValidCurrencyCode(measurementValue("usd"), f); }, 0,
         0},
        {"currency US1", [](uint64_t* f) { return V::isValidCurrencyCode(measurementValue("US1"), f); }, 9,
         1},
        {"currency USDX", [](uint64_t* f) { return V::isValidCurrencyCode(measurementValue("USDX"), f); }, 9,
         1},
        {"currency number", [](uint64_t* f) { return V::isValidCurrencyCode(measurementValue(840), f); }, 9,
         1},
        {"numeric double", [](uint64_t* f) { return V::isValidNumericValue(measurementValue(9.99), f); }, 0,
         0},
        {"forwarded +ztm", [](uint64_t* f) { return V::isValidForwardedEventOrigin(Value("+ztm"), f); }, 1,
         1},
        {"forwarded auto+ztm",
         [](uint64_t* f) { return V::isValidForwardedEventOrigin(Value("auto+ztm"), f); }, 0, 0},
        {"forwarded auto", [](uint64_t* f) { return V::isValidForwardedEventOrigin(Value("auto"), f); }, 6,
         0},
        {"forwarded empty", [](uint64_t* f) { return V::isValidForwardedEventOrigin(Value(""), f); }, 1, 0},
        {"internal origin of 33",
         [](uint64_t* f) { return V::isValidInternalEventOrigin(Value(repeated("o", 33)), f); }, 2, 1},
    };
    for (const auto& c : cases) {
        forget();
        uint64_t failure = 99;
        EXPECT_EQ(c.check(&failure), c.failure == 0) << c.label;
        EXPECT_EQ(failure, c.failure) << c.label;
        EXPECT_EQ(lineCount(), c.lines) << c.label;
    }
}

TEST_F(Validator, ArrayParametersOnlyAsItemsOfEcommerceEvents) {
    struct Case {
        const char* event;
        const char* parameter;
        uint64_t count;
        bool nested;
        uint64_t failure;
        const char* opening;
    };
    const Case cases[] = {
        {"purchase", "items", 200, false, 0, nullptr},
        {"purchase", "items", 201, false, 12,
         "Array parameter has too many items. The maximum number of supported items is 200. Invalid array "
         "size: "
         "201"},
        {"cycled", "items", 1, false, 10,
         "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name: cycled"},
        {"purchase", "Items", 1, false, 11,
         "Event parameter name is an invalid ecommerce items. The name of array parameters for ecommerce "
         "should "
         "be \"items\". Invalid parameter name: Items"},
        {"purchase", "items", 1, true, 13, "Nested array parameters are not allowed. Name: items"},
    };
    for (const auto& c : cases) {
        forget();
        uint64_t failure = 99;
        EXPECT_EQ(V::isValidArrayParamForEvent(c.event, c.parameter, c.count, c.nested, &failure),
                  c.failure == 0);
        EXPECT_EQ(failure, c.failure);
        if (c.opening)
            expectOneLine(0, 13013, c.opening);
        else
            EXPECT_EQ(lineCount(), 0u);
    }
}

TEST(ValidatorPrefixes, ReservedPrefixes) {
    for (const char* name : {"zudedaro_x", "zizoda_x", "za_x"})
        EXPECT_TRUE(V::hasReservedPrefixes(name)) << name;
    for (const char* name : {"zax", "zudedarox", "_za_x", ""})
        EXPECT_FALSE(V::hasReservedPrefixes(name)) << name;
}

}  // namespace
