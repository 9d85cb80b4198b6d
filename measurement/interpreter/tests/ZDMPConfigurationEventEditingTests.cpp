// The remote configuration loading a real program with the library's host modules, and the
// engine's entry handing measurement events through it.
#include <gtest/gtest.h>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MeasurementConfigFixture.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/interpreter/ZDMPConfigurationEventEditing.h"
#include "measurement/interpreter/tests/ConfigurationPrograms.h"
#include "measurement/interpreter/tests/ProgramText.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"

using namespace interpreter_test;

namespace {

constexpr const char* kAppID = "1:123:ios:abc";

Value objectValue(const std::shared_ptr<const Object>& object) {
    return Value(object);
}

std::shared_ptr<ZDMPBMeasurementConfig> configWith(const std::vector<std::string>& programs,
                                                   const std::vector<std::string>& dataControls) {
    Value::Array programList;
    for (const auto& instructions : programs) {
        auto program = ZDMPBProgram::initWithBuffer(programBytes({instructions}));
        EXPECT_TRUE(program);
        programList.push_back(objectValue(program));
    }
    return measurement_test::measurementConfig(
        kAppID,
        {{"measurement.upload.max_bundles", "7"}, {"measurement.upload.debug_upload_interval", "1500"}},
        dataControls, programList);
}

Value z(const char* text) {
    return Value(ZDMValue::initWithString(Value(text)));
}

std::shared_ptr<ZDMEvent> cycled() {
    auto event = ZDMEvent::initWithOrigin("app", true, "cycled", 20, 0,
                                          {{"value", Value(ZDMValue::initWithInt64(3))}, {"x", z("t")}});
    EXPECT_TRUE(event);
    return event;
}

std::string textParameter(const ZDMEvent& event, const char* name) {
    const auto value = event.parameters()[name].objectAs<ZDMValue>();
    return value && value->stringValue() ? *value->stringValue() : "<none>";
}

class ConfigurationEventEditing : public SharedMonitorFixture {
  protected:
    ConfigurationEventEditing() {
        ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
        ZDMPInstallEventEditingFactory();
    }
    ~ConfigurationEventEditing() override { ZDMRemoteConfigEventEditing::setFactory(nullptr); }

    std::shared_ptr<ZDMRemoteConfigEventEditing> load(const std::vector<std::string>& programs,
                                                      const std::vector<std::string>& dataControls = {}) {
        remoteConfig_->parseRemoteConfigFromMeasurementConfig(configWith(programs, dataControls).get());
        return remoteConfig_->eventEditing();
    }
    std::vector<LoggedLine> linesOf(int64_t code) {
        flush(*monitor_);
        std::vector<LoggedLine> out;
        for (const auto& line : logger_->lines())
            if (line.code == code) out.push_back(line);
        return out;
    }

    std::shared_ptr<ZDMRemoteConfig> remoteConfig_ =
        std::make_shared<ZDMRemoteConfig>(kAppID, nullptr, nullptr);
};

}  // namespace

TEST_F(ConfigurationEventEditing, AProgramEditsWithTheLibrarysModulesAndCreatesEvents) {
    const auto editing = load({kRenameAndCreate});
    ASSERT_TRUE(editing);
    EXPECT_EQ(linesOf(29027).size(), 1u);
    EXPECT_EQ(remoteConfig_->uploadingDebugModeInterval(), 1.5);  // the setting is now held as 1.5 s

    for (bool afterReset : {false, true}) {
        SCOPED_TRACE(afterReset ? "after reset" : "as loaded");
        if (afterReset) remoteConfig_->reset();
        ZDMRemoteConfigEventEditing::EditedEvents edited;
        Error error;
        ASSERT_TRUE(remoteConfig_->eventEditing()->editEvent(*cycled(), &edited, &error)) << error.code;
        ASSERT_TRUE(edited.editedEvent);
        const ZDMEvent& event = *edited.editedEvent;
        EXPECT_EQ(event.name(), "cycled_x");
        EXPECT_EQ(event.origin(), "app");
        // The module answers texts ("1.5": a converted number in plain decimal); written into the
        // event, texts that read as numbers become numbers.
        EXPECT_EQ(event.parameters()["bundles"].objectAs<ZDMValue>()->doubleValue(), 7);
        EXPECT_EQ(event.parameters()["interval"].objectAs<ZDMValue>()->doubleValue(), 1.5);
        EXPECT_EQ(textParameter(event, "absent"), "default");
        EXPECT_EQ(textParameter(event, "platform"), "macos");
        EXPECT_EQ(event.parameters()["value"].objectAs<ZDMValue>()->int64Value(), 3);

        ASSERT_EQ(edited.createdEvents.size(), 1u);
        const ZDMEvent& extra = *edited.createdEvents.front();
        EXPECT_EQ(extra.name(), "extra");
        EXPECT_EQ(extra.origin(), "fa");
        EXPECT_FALSE(extra.isPublic());
        EXPECT_EQ(extra.timestamp(), 20);
    }
    EXPECT_EQ(linesOf(24005).size(), 2u);
}

TEST_F(ConfigurationEventEditing, AnEventNoCallbackChangesIsStoredAsReceived) {
    ASSERT_TRUE(load({kRenameAndCreate}));
    auto other = ZDMEvent::initWithOrigin("app", true, "other", 20, 0, {{"x", z("t")}});
    ZDMRemoteConfigEventEditing::EditedEvents edited;
    Error error;
    ASSERT_TRUE(remoteConfig_->eventEditing()->editEvent(*other, &edited, &error))
        << error.domain << error.code;
    EXPECT_FALSE(edited.editedEvent);
    EXPECT_TRUE(edited.createdEvents.empty());
}

TEST_F(ConfigurationEventEditing, RemovingOneParameterStoresTheEventWithoutIt) {
    ASSERT_TRUE(load(
        {kModules + R"((r 0 (51 "" (7 "e") (2 $e "setParamValue" (7 "x" (45))) 0) (8 "type" "edit")))"}));
    ZDMRemoteConfigEventEditing::EditedEvents edited;
    ASSERT_TRUE(remoteConfig_->eventEditing()->editEvent(*cycled(), &edited, nullptr));
    ASSERT_TRUE(edited.editedEvent);
    EXPECT_FALSE(edited.editedEvent->parameters().contains("x"));
    EXPECT_TRUE(edited.editedEvent->parameters().contains("value"));
}

TEST_F(ConfigurationEventEditing, AFailingRunLeavesTheEventToBeStoredAsReceived) {
    struct Row {
        const char* what;
        std::string program;
        std::string domain;
        int64_t code;
    };
    const Row rows[] = {
        {"recursing forever", kRecursingForever, kZDMPInterpreterErrorDomain, 18},
        // The library refuses the name: the edit cannot be stored, so the event is kept whole.
        {"renamed to a refused name",
         kModules + R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 "")) 0) (8 "type" "edit")))", "", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(load({row.program}));
        ZDMRemoteConfigEventEditing::EditedEvents edited;
        Error error;
        EXPECT_FALSE(remoteConfig_->eventEditing()->editEvent(*cycled(), &edited, &error));
        if (!row.domain.empty()) {
            EXPECT_EQ(error.domain, row.domain);
        }
        EXPECT_EQ(error.code, row.code);
        EXPECT_FALSE(edited.editedEvent);
    }
}

TEST_F(ConfigurationEventEditing, AFailingFirstProgramTurnsEditingOffAndKeepsTheDataControls) {
    ASSERT_TRUE(load({kRenameAndCreate}, {"a"}));
    const auto kept = load({}, {"b"});
    EXPECT_TRUE(kept);  // a configuration without programs keeps the loaded one
    EXPECT_EQ(load({"(36 1)", kRenameAndCreate}, {"c"}), nullptr);
    EXPECT_EQ(linesOf(29026).size(), 1u);
    EXPECT_EQ(remoteConfig_->dataControls(), std::vector<std::string>{"b"});
}
