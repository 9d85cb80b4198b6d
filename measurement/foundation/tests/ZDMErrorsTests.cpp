#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

#include "measurement/foundation/ZDMErrors.h"

namespace {

TEST(ZDMErrors, CarryDescriptionAndContextOnlyWhenGiven) {
    const Error full = zdm_errorWithCode(34019, "Failed to delete", "events");
    EXPECT_EQ(full.domain, "com.zizoda.measurement");
    EXPECT_EQ(full.code, 34019);
    EXPECT_EQ(full.description, "Failed to delete");
    EXPECT_EQ(full.userInfo, Value(Dictionary{{"NSLocalizedDescription", Value("Failed to delete")},
                                              {"ZDMMonitorContext", Value("events")}}));
    EXPECT_EQ(zdm_errorWithCode(1, "").userInfo, Value(Dictionary{}));
    EXPECT_EQ(zdm_errorWithCode(1, "", "ctx").userInfo,
              Value(Dictionary{{"ZDMMonitorContext", Value("ctx")}}));
}

TEST(ZDMErrors, ChecksAnswerTheirConditionAndSetTheErrorOnlyWhenItFails) {
    int handle = 0;
    const auto object = std::make_shared<int>(1);
    using Check = std::function<bool(Error*)>;
    const std::string d = "Database not open";
    const struct {
        const char* name;
        Check check;
        bool holds;
    } cases[] = {
        {"condition", [&](Error* e) { return ZDMCheckConditionOrSetError(true, e, 2, d); }, true},
        {"no condition", [&](Error* e) { return ZDMCheckConditionOrSetError(false, e, 2, d); }, false},
        {"object", [&](Error* e) { return ZDMCheckObjectOrSetError(object, e, 2, d); }, true},
        {"no object", [&](Error* e) { return ZDMCheckObjectOrSetError(std::shared_ptr<int>(), e, 2, d); },
         false},
        {"empty optional", [&](Error* e) { return ZDMCheckObjectOrSetError(std::optional<int>(), e, 2, d); },
         false},
        {"value", [&](Error* e) { return ZDMCheckObjectOrSetError(Value(0), e, 2, d); }, true},
        {"null value", [&](Error* e) { return ZDMCheckObjectOrSetError(Value(), e, 2, d); }, false},
        {"handle", [&](Error* e) { return ZDMCheckHandleOrSetError(&handle, e, 2, d); }, true},
        {"null handle", [&](Error* e) { return ZDMCheckHandleOrSetError(nullptr, e, 2, d); }, false},
        {"length", [&](Error* e) { return ZDMCheckLengthOrSetError(3, e, 2, d); }, true},
        {"zero length", [&](Error* e) { return ZDMCheckLengthOrSetError(0, e, 2, d); }, false},
    };
    for (const auto& c : cases) {
        Error error(kFoundationErrorDomain, -1);
        EXPECT_EQ(c.check(&error), c.holds) << c.name;
        if (c.holds) {
            EXPECT_EQ(error.code, -1) << c.name;
        } else {
            EXPECT_EQ(error.domain, kZDMErrorDomain) << c.name;
            EXPECT_EQ(error.code, 2) << c.name;
            EXPECT_EQ(error.description, d) << c.name;
        }
        // A null out-parameter is allowed.
        EXPECT_EQ(c.check(nullptr), c.holds) << c.name;
    }
}

TEST(ZDMErrors, SetErrorWithContextFillsTheOutParameter) {
    Error error;
    ZDMSetErrorWithContext(&error, 12, "Failed", "table");
    EXPECT_EQ(error.userInfo[kZDMMonitorContextKey], Value("table"));
    ZDMSetError(&error, 13, "Plain");
    EXPECT_EQ(error.code, 13);
    EXPECT_FALSE(error.userInfo.asDictionary()->contains(kZDMMonitorContextKey));
    ZDMSetError(nullptr, 1, "ignored");
}

}  // namespace
