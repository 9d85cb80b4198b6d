#include <gtest/gtest.h>

#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "measurement/foundation/tests/MeasurementConfigFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBProgramMessages.h"

namespace {

constexpr const char* kAppID = "1:123:ios:abc";

Value objectValue(const std::shared_ptr<const Object>& object) {
    return Value(object);
}

// A configuration with settings, data controls and programs; a program with instructions has work
// the stand-in cannot run.
std::shared_ptr<ZDMPBMeasurementConfig> configWith(const std::vector<bool>& programsWithWork,
                                                   const std::vector<std::string>& dataControls,
                                                   const measurement_test::Settings& settings) {
    Value::Array programs;
    for (bool withWork : programsWithWork) {
        auto program = ZDMPBProgram::initWithBuffer(nullptr);
        if (withWork)
            ZDMPBSetArray(program.get(), 0,
                          Value::Array{objectValue(ZDMPBRuntimeEntity::initWithBuffer(nullptr))});
        programs.push_back(objectValue(program));
    }
    return measurement_test::measurementConfig(kAppID, settings, dataControls, programs);
}

// Records the host modules it was given and loads whatever it is handed.
class RecordingEventEditing : public ZDMRemoteConfigEventEditing {
  public:
    void setHostModules(HostModules modules) override { this->modules = std::move(modules); }
    bool loadProgram(const ZDMPBProgram&, Error*) override { return true; }
    HostModules modules;
};

// A database fixture for its log reading; the configuration here has no database.
class RemoteConfigPrograms : public Database {
  protected:
    RemoteConfigPrograms() { ZIZSetLoggerLevel(kZIZLoggerLevelDebug); }
    ~RemoteConfigPrograms() override { ZDMRemoteConfigEventEditing::setFactory(nullptr); }

    std::shared_ptr<ZDMRemoteConfig> remoteConfig_ =
        std::make_shared<ZDMRemoteConfig>(kAppID, nullptr, nullptr);
};

TEST_F(RemoteConfigPrograms, AnEmptyProgramLoadsWithTheLibrarysModules) {
    std::shared_ptr<RecordingEventEditing> editing;
    ZDMRemoteConfigEventEditing::setFactory(
        [&] { return editing = std::make_shared<RecordingEventEditing>(); });
    remoteConfig_->parseRemoteConfigFromMeasurementConfig(
        configWith(
            {false, true}, {},
            {{"measurement.upload.max_bundles", "7"}, {"measurement.upload.debug_upload_interval", "1500"}})
            .get());
    ASSERT_TRUE(editing);
    EXPECT_EQ(remoteConfig_->eventEditing(), editing);
    EXPECT_EQ(messagesOf(29027).size(), 1u);
    ASSERT_TRUE(editing->modules.remoteConfigValue && editing->modules.appMetadata);

    const auto read = editing->modules.remoteConfigValue;
    EXPECT_EQ(read("measurement.upload.max_bundles"), Value("7"));
    EXPECT_EQ(remoteConfig_->uploadMaxBundlesLimit(), 7);  // now held as a number
    EXPECT_EQ(read("measurement.upload.max_bundles"), Value("7"));
    EXPECT_EQ(remoteConfig_->uploadingDebugModeInterval(), 1.5);  // 1500 ms held as 1.5 s
    EXPECT_EQ(read("measurement.upload.debug_upload_interval"), Value("1.5"));
    EXPECT_EQ(read("absent"), Value());
    remoteConfig_->reset();
    EXPECT_EQ(read("measurement.upload.max_bundles"), Value("7"));
    EXPECT_EQ(remoteConfig_->eventEditing(), editing);

    const Dictionary metadata = editing->modules.appMetadata();
    EXPECT_EQ(metadata.find("platform")->stringOr(""), "macos");
    EXPECT_EQ(metadata.find("zor_version")->integerOr(0), 101300);
}

TEST_F(RemoteConfigPrograms, WithoutProgramsTheLoadedOneStays) {
    remoteConfig_->parseRemoteConfigFromMeasurementConfig(configWith({false}, {"a"}, {}).get());
    const auto editing = remoteConfig_->eventEditing();
    ASSERT_TRUE(editing);
    remoteConfig_->parseRemoteConfigFromMeasurementConfig(configWith({}, {"b"}, {}).get());
    EXPECT_EQ(remoteConfig_->eventEditing(), editing);
    EXPECT_EQ(remoteConfig_->dataControls(), std::vector<std::string>{"b"});
}

TEST_F(RemoteConfigPrograms, AFailingFirstProgramTurnsEditingOffAndKeepsTheDataControls) {
    remoteConfig_->parseRemoteConfigFromMeasurementConfig(configWith({false}, {"a"}, {}).get());
    remoteConfig_->parseRemoteConfigFromMeasurementConfig(configWith({true, false}, {"b"}, {}).get());
    EXPECT_EQ(remoteConfig_->eventEditing(), nullptr);
    EXPECT_EQ(lastSampledMessage(), "E:Failed to initiate event editing instance");
    EXPECT_EQ(remoteConfig_->dataControls(), std::vector<std::string>{"a"});
}

}  // namespace
