#include <gtest/gtest.h>

#include <cmath>

#include "measurement/interpreter/ZDMPNativeFunctions.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"
#include "measurement/interpreter/tests/ProgramText.h"

using namespace interpreter_test;

namespace {

struct LogLine {
    int64_t level;
    std::string message;
    std::vector<std::string> context;
    bool silent;
    bool monitored;
    bool operator==(const LogLine&) const = default;
};

class RecordingLogger final : public ZDMPLoggerDelegate {
  public:
    void logWithLevel(int64_t level, const std::u16string& message,
                      const std::vector<std::u16string>& context, bool silent, bool monitored) override {
        std::vector<std::string> texts;
        for (const auto& text : context) texts.push_back(ZDMPUtf8(text));
        lines.push_back({level, ZDMPUtf8(message), texts, silent, monitored});
    }
    std::vector<LogLine> lines;
};

// A runtime with the host modules a measurement library registers, over small fakes.
struct Host {
    Host() {
        runtime.setModuleCreator(
            [this] {
                return std::make_shared<ZDMPKeyValueStore>(
                    u"internal.remoteConfig", [](const std::u16string& key) -> std::optional<std::u16string> {
                        if (key == u"known") return u"v";
                        return std::nullopt;
                    });
            },
            u"internal.remoteConfig");
        runtime.setModuleCreator(
            [] {
                return std::make_shared<ZDMPObjectProvider>(u"internal.appMetadata", [] {
                    return Value(Dictionary{{"platform", Value("linux")}});
                });
            },
            u"internal.appMetadata");
        runtime.setModuleCreator([this] { return std::make_shared<ZDMPMessageLogger>(logger); },
                                 u"internal.logger");
    }
    std::string run(const char* program) {
        std::vector<std::shared_ptr<const ZDMPBRuntimeEntity>> entities;
        for (const Data& bytes : ProgramText(program).entities()) entities.push_back(entity(bytes));
        Error error;
        const ZDMPValueRef value = runtime.executeStatements(entities, &error);
        if (ZDMPFailed(error)) return "!" + std::to_string(error.code);
        return ZDMPUtf8(shown(value));
    }
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    ZDMPRuntime runtime;
};

TEST(ZDMPNativeFunctions, FunctionsAndModulesByTheirRows) {
    const struct {
        const char* program;
        const char* expected;
    } rows[] = {
        {R"((50 "f" (7 "a" "b") (36 (40 $b))) (f 1))", "'undefined'"},
        {R"((50 "f" (7 "a" "b") (36 $a)) (f 1 2 (3 "nowhere" 1)))", "!2"},
        {R"((50 "f" (7 "a" "b") (36 $a)) (f 1 2 3))", "1"},
        {R"((50 "f" (7) 5) (f))", "5"},
        {R"((50 "f" (7) (4)) (40 (f)))", "'object'"},
        {R"((50 "outer" (7 "x") (36 (51 "" (7) (36 $x)))) (41 "g") (3 "g" (outer 4)) (outer 5) (g))", "4"},
        {R"((require))", "!9"},
        {R"((require "internal.platform" 2))", "!9"},
        {R"((20 (require "internal.platform") (require "internal.platform")))", "true"},
        {R"((2 (require "internal.platform") "getVersion" (7 1)))", "0"},
        {R"((require "no.such.module"))", "undefined"},
        {R"((2 (require "internal.remoteConfig") "getValue" (7 "known" 1)))", "'v'"},
        {R"((41 "d") (3 "d" (7)) (20 (2 (require "internal.remoteConfig") "getValue" (7 "other" $d)) $d))",
         "true"},
        {R"((2 (require "internal.remoteConfig") "getValue" (7 "known")))", "!9"},
        {R"((41 "m") (3 "m" (require "internal.appMetadata")) (16 (m) "platform"))", "'linux'"},
        {R"((41 "m") (3 "m" (require "internal.appMetadata")) (20 (m) (m)))", "false"},
        {R"((2 (require "internal.logger") "log" (7)))", "!9"},
        {R"((2 (require "internal.logger") "log" (7 (3 "nowhere" 1))))", "!2"},
    };
    for (const auto& row : rows) {
        Host host;
        EXPECT_EQ(host.run(row.program), row.expected) << row.program;
        EXPECT_TRUE(host.logger->lines.empty()) << row.program;
    }
}

TEST(ZDMPNativeFunctions, RequireCachesWhatItFoundAndNothingAfterAFailure) {
    Host host;
    EXPECT_EQ(host.run(R"((require "later"))"), "undefined");
    host.runtime.setModuleCreator([] { return N(1); }, u"later");
    EXPECT_EQ(host.run(R"((require "later"))"), "undefined");

    // A creator answering nothing fails with 15 and is asked again next time.
    int calls = 0;
    host.runtime.setModuleCreator([&]() -> ZDMPValueRef { return ++calls == 1 ? nullptr : N(7); }, u"flaky");
    EXPECT_EQ(host.run(R"((require "flaky"))"), "!15");
    EXPECT_EQ(host.run(R"((require "flaky"))"), "7");
    EXPECT_EQ(host.run(R"((require "flaky"))"), "7");
    EXPECT_EQ(calls, 2);
}

TEST(ZDMPNativeFunctions, LogCallsReachTheLoggerWithTheirLevelAndFlags) {
    const struct {
        const char* program;
        LogLine line;
    } rows[] = {
        {R"((2 (require "internal.logger") "log" (7 "x")))", {4, "x", {}, false, true}},
        {R"((2 (require "internal.logger") "log" (7 6 "x")))", {6, "x", {}, false, true}},
        {R"((2 (16 (require "internal.logger") "silent") "log" (7 6 "x")))", {6, "x", {}, true, true}},
        {R"((2 (16 (require "internal.logger") "unmonitored") "log" (7 6 "x")))", {6, "x", {}, false, false}},
        {R"((41 "l") (3 "l" (require "internal.logger")) (2 (2 $l "silent" (7)) "log" (7 5 "y")))",
         {5, "y", {}, true, true}},
        {R"((2 (require "internal.logger") "log" (7 5 "m" "a" "b" "c" "d")))",
         {5, "m", {"a", "b", "c"}, false, true}},
        {R"((2 (require "internal.logger") "log" (7 5.9 1)))", {5, "1", {}, false, true}},
        {R"((2 (require "internal.logger") "log" (7 -1e300 "far")))", {INT64_MIN, "far", {}, false, true}},
        {R"((2 (require "internal.logger") "log" (7 1e300 "far")))", {INT64_MAX, "far", {}, false, true}},
    };
    for (const auto& row : rows) {
        Host host;
        EXPECT_EQ(host.run(row.program), "undefined") << row.program;
        ASSERT_EQ(host.logger->lines.size(), 1u) << row.program;
        EXPECT_EQ(host.logger->lines[0], row.line) << row.program;
    }
    Host host;
    EXPECT_EQ(host.run(R"((2 (require "internal.logger") "log" (7 NaN "x")))"), "undefined");
    ASSERT_EQ(host.logger->lines.size(), 1u);
    EXPECT_EQ(ZDMPixieLogger::monitorLevel(host.logger->lines[0].level, false, true), 6);
}

TEST(ZDMPNativeFunctions, ProgramLevelsMapToMonitorLevels) {
    const struct {
        int64_t level;
        bool silent;
        bool monitored;
        int64_t monitorLevel;
    } rows[] = {
        {2, false, true, 8},  {3, false, true, 7},  {4, false, true, 6},        {5, true, true, 5},
        {5, false, true, 4},  {5, false, false, 3}, {6, true, true, 2},         {6, false, true, 1},
        {6, false, false, 0}, {7, false, true, 6},  {INT64_MIN, true, true, 6}, {INT64_MAX, false, false, 6},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ZDMPixieLogger::monitorLevel(row.level, row.silent, row.monitored), row.monitorLevel)
            << row.level;
}

}  // namespace
