#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <filesystem>
#include <fstream>

#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"

namespace fs = std::filesystem;

namespace {

class InstallEnvironment : public ::testing::Test {
  protected:
    // A bundle in a directory of the test's home, with the receipt URL and Info.plist given.
    void install(Dictionary info, std::optional<std::string> receipt, const char* directory = "App") {
        auto bundle = std::make_shared<Bundle>(std::move(info));
        bundle->setBundlePath((home_.path() / directory).string());
        bundle->setAppStoreReceiptURL(std::move(receipt));
        fs::create_directories(home_.path() / directory);
        Bundle::setMainBundle(bundle);
    }
    void addStoreInfo() { std::ofstream(home_.path() / "App" / "SC_Info") << ""; }

    TestHome home_;
};

TEST_F(InstallEnvironment, ReceiptURLAndSandboxReceipt) {
    const std::string sandbox = "file:///Applications/App.app/Contents/_MASReceipt/sandboxReceipt";
    install({}, sandbox);
    EXPECT_EQ(ZDMAEU::appStoreRURL(), sandbox);
    EXPECT_TRUE(ZDMAEU::isASRS());

    install({{"ZudedaroAppStoreReceiptURLCheckEnabled", Value(false)}}, sandbox);
    EXPECT_FALSE(ZDMAEU::appStoreRURL());
    EXPECT_FALSE(ZDMAEU::isASRS());

    // Only a number turns the check off.
    install({{"ZudedaroAppStoreReceiptURLCheckEnabled", Value("NO")}}, "file:///x/receipt");
    EXPECT_EQ(ZDMAEU::appStoreRURL(), "file:///x/receipt");
    EXPECT_FALSE(ZDMAEU::isASRS());
    EXPECT_FALSE(ZDMAEU::isNOD());
}

TEST_F(InstallEnvironment, AppStoreInstallationIsMarkedByStoreInfo) {
    install({}, std::nullopt);
    EXPECT_FALSE(ZDMAEU::isFAS());
    addStoreInfo();
    EXPECT_TRUE(ZDMAEU::isFAS());
    // A sandbox receipt is a test installation, whatever else the bundle holds.
    install({}, "file:///x/sandboxReceipt");
    EXPECT_FALSE(ZDMAEU::isFAS());
}

TEST_F(InstallEnvironment, AppExtensionByBundlePath) {
    install({}, std::nullopt, "Share.appex");
    EXPECT_TRUE(ZDMAEU::isAEX());
    install({}, std::nullopt, "Share.app");
    EXPECT_FALSE(ZDMAEU::isAEX());
}

TEST_F(InstallEnvironment, DeviceFacts) {
    struct utsname names {};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(ZDMAEU::systemVersion(), names.release);
    EXPECT_FALSE(ZDMAEU::deviceModel().empty());
}

TEST_F(InstallEnvironment, LibraryFilesLiveInTheSupportDirectory) {
    const fs::path support = FileLocations::applicationSupportDirectory() / "Zizoda" / "Measurement";
    EXPECT_EQ(ZDMMeasurementSupportFilePath("zizoda-measurement.sql"),
              (support / "zizoda-measurement.sql").string());
    EXPECT_EQ(ZDMMeasurementSupportPlistPath("config"), (support / "config.plist").string());
    EXPECT_EQ(ZDMMeasurementSupportPlistPath("config.plist"), (support / "config.plist").string());
    EXPECT_EQ(ZDMMeasurementSupportPlistPath("config.txt"), (support / "config.txt.plist").string());
    EXPECT_EQ(ZDMPreferencesPlistPath("com.example.suite"),
              (FileLocations::preferencesDirectory() / "com.example.suite.plist").string());
    for (auto path :
         {ZDMMeasurementSupportFilePath(""), ZDMMeasurementSupportPlistPath(""), ZDMPreferencesPlistPath("")})
        EXPECT_EQ(path, "");
}

TEST_F(InstallEnvironment, ExcludesExistingPathsFromBackup) {
    const fs::path file = home_.path() / "data.sql";
    std::ofstream(file) << "x";
    EXPECT_TRUE(ZDMExcludePathFromBackup(file.string()));
    EXPECT_TRUE(FileAttributes::isExcludedFromBackup(file));
    EXPECT_TRUE(ZDMExcludePathFromBackup(home_.path().string()));
    EXPECT_TRUE(FileAttributes::isExcludedFromBackup(home_.path()));

    Error error;
    EXPECT_FALSE(ZDMExcludePathFromBackup((home_.path() / "missing").string(), &error));
    EXPECT_EQ(error.domain, kFoundationErrorDomain);
    EXPECT_EQ(error.code, FileAttributes::kFileNoSuchFileError);
}

}  // namespace
