#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"
#include "platform/zudedaro/ZUDApp.h"
#include "platform/zudedaro/ZUDInstallations.h"
#include "platform/zudedaro/ZUDVersion.h"
#include "testing/Eventually.h"

namespace {

namespace fs = std::filesystem;

// Stands for the analytics library's class object: records each start.
class FakeAnalytics : public ZUDAnalyticsStartEntry {
  public:
    void startWithConfiguration(std::shared_ptr<ZUDAnalyticsConfiguration> configuration,
                                const ZUDOptions& options) const override {
        ++starts;
        lastOptions = options;
        lastConfiguration = std::move(configuration);
        configuredWhenStarted = ZUDApp::isDefaultAppConfigured();
    }
    mutable int starts = 0;
    mutable ZUDOptions lastOptions;
    mutable std::shared_ptr<ZUDAnalyticsConfiguration> lastConfiguration;
    mutable bool configuredWhenStarted = false;
};

class ZUDAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetAllForTesting();
        Runtime::registerClass(ZUDAnalyticsStartEntry::kClassName, analytics);
    }
    void TearDown() override {
        Runtime::unregisterClass(ZUDAnalyticsStartEntry::kClassName);
        resetAllForTesting();
    }
    // Installs a main bundle, inside the test's home, whose resources hold a service plist with
    // these bytes (none for nullopt).
    static void installBundleWithServiceInfo(const TestHome& home, const std::optional<std::string>& bytes) {
        const fs::path directory = home.path() / "App.app";
        fs::create_directories(directory);
        if (bytes) std::ofstream(directory / "ZizodaService-Info.plist", std::ios::binary) << *bytes;
        Bundle::setMainBundle(Bundle::bundleWithPath(directory));
    }
    static std::string plistWith(const Dictionary& info) {
        const auto bytes = plist::write(Value(info), plist::Format::XML);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }

    std::shared_ptr<FakeAnalytics> analytics = std::make_shared<FakeAnalytics>();
};

TEST_F(ZUDAppTest, ConfigureStartsTheAnalyticsLibraryOnceWithThePlistsAppID) {
    TestHome home;
    installBundleWithServiceInfo(home, plistWith({{"ZIZODA_APP_ID", "1:42:mac:abc"}}));
    EXPECT_FALSE(ZUDApp::isDefaultAppConfigured());
    EXPECT_FALSE(ZUDApp::defaultApp());

    ZUDApp::configure();
    std::vector<std::string> lines;
    {
        ZIZLoggerCapture capture([&](int, const std::string& line) { lines.push_back(line); });
        ZUDApp::configure();
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("I-COR000003"), std::string::npos) << lines[0];

    EXPECT_TRUE(ZUDApp::isDefaultAppConfigured());
    EXPECT_EQ(analytics->starts, 1);
    EXPECT_TRUE(analytics->configuredWhenStarted);
    EXPECT_EQ(analytics->lastOptions.zizodaAppID, "1:42:mac:abc");
    EXPECT_TRUE(analytics->lastOptions.isAnalyticsCollectionEnabled);
    EXPECT_FALSE(analytics->lastOptions.isAnalyticsCollectionDeactivated);
    ASSERT_TRUE(analytics->lastConfiguration);
    EXPECT_EQ(analytics->lastConfiguration, ZUDApp::defaultApp()->analyticsConfiguration());
    EXPECT_STREQ(kZUDLoggerAnalytics, "[Zudedaro/Analytics]");
    EXPECT_STREQ(ZUDZudedaroVersion(), "10.13.0");
}

TEST_F(ZUDAppTest, WithoutAUsableServicePlistNothingIsConfiguredAndTheReasonIsLogged) {
    struct Case {
        const char* name;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"no file", std::nullopt},
        {"not a property list", std::string("\x00\xff garbage", 10)},
        {"no app ID", plistWith({{"API_KEY", "k"}})},
        {"empty app ID", plistWith({{"ZIZODA_APP_ID", ""}})},
        {"app ID not a text", plistWith({{"ZIZODA_APP_ID", 7}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHome home;
        installBundleWithServiceInfo(home, c.bytes);
        std::vector<std::string> lines;
        {
            ZIZLoggerCapture capture([&](int, const std::string& line) { lines.push_back(line); });
            ZUDApp::configure();
        }
        EXPECT_FALSE(ZUDApp::isDefaultAppConfigured());
        EXPECT_EQ(analytics->starts, 0);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("[Zudedaro/Core]"), std::string::npos) << lines[0];
    }
}

TEST_F(ZUDAppTest, TheConfigurationPostsTheCollectionSwitchAsItself) {
    ZUDApp::configureWithOptions({"1:1:mac:1"});
    auto configuration = analytics->lastConfiguration;
    ASSERT_TRUE(configuration);
    std::vector<Notification> seen;
    auto token = NotificationCenter::defaultCenter().addObserver(
        kVUZArezivodoConfigurationSetEnabledNotification, [&](const Notification& n) { seen.push_back(n); },
        configuration.get());
    configuration->setAnalyticsCollectionEnabled(false);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].object, configuration.get());
    const Value* enabled =
        seen[0].userInfo.asDictionary()->find(kVUZArezivodoConfigurationSetEnabledNotification);
    ASSERT_TRUE(enabled);
    EXPECT_EQ(*enabled, Value(false));
}

class Connector : public Object {
  public:
    std::string className() const override { return "Connector"; }
};

// Registers one component per protocol; each block counts its calls.
class FakeLibrary : public ZUDLibrary {
  public:
    std::vector<std::shared_ptr<ZUDComponent>> componentsToRegister() const override {
        auto made = made_;
        return {ZUDComponent::componentWithProtocol("VUZArezivodoInterop", ZUDInstantiationTiming::Lazy, {},
                                                    [made](ZUDComponentContainer&, bool*) {
                                                        ++*made;
                                                        return std::make_shared<Connector>();
                                                    }),
                ZUDComponent::componentWithProtocol("FreshEachTime", ZUDInstantiationTiming::Lazy, {},
                                                    [](ZUDComponentContainer&, bool* isCacheable) {
                                                        *isCacheable = false;
                                                        return std::make_shared<Connector>();
                                                    })};
    }
    int made() const { return *made_; }

  private:
    std::shared_ptr<int> made_ = std::make_shared<int>(0);
};

TEST_F(ZUDAppTest, RegisteredComponentsAreMadeOnFirstRequestAndKept) {
    auto library = std::make_shared<FakeLibrary>();
    ZUDApp::registerInternalLibrary(library, "ruve-dedarodav", "10.13.0");
    ZUDApp::configureWithOptions({"1:1:mac:1"});
    auto& container = ZUDApp::defaultApp()->container();
    EXPECT_EQ(library->made(), 0);

    auto first = container.instanceForProtocol("VUZArezivodoInterop");
    auto second = container.instanceForProtocol("VUZArezivodoInterop");
    ASSERT_TRUE(std::dynamic_pointer_cast<Connector>(first));
    EXPECT_EQ(first, second);
    EXPECT_EQ(library->made(), 1);
    EXPECT_NE(container.instanceForProtocol("FreshEachTime"), container.instanceForProtocol("FreshEachTime"));
    EXPECT_FALSE(container.instanceForProtocol("NoSuchProtocol"));
    const auto libraries = ZUDApp::registeredLibraries();
    EXPECT_NE(std::find(libraries.begin(), libraries.end(), "ruve-dedarodav/10.13.0"), libraries.end());
}

struct Answer {
    std::optional<std::string> identifier;
    std::optional<Error> error;
    std::thread::id thread;
};

Answer ask(ZUDInstallations& installations) {
    std::promise<Answer> promise;
    auto future = promise.get_future();
    installations.installationIDWithCompletion(
        [&promise](std::optional<std::string> identifier, std::optional<Error> error) {
            promise.set_value({std::move(identifier), std::move(error), std::this_thread::get_id()});
        });
    EXPECT_EQ(future.wait_for(kTestPatience), std::future_status::ready);
    return future.get();
}

TEST_F(ZUDAppTest, InstallationsAnswerOneKeptIdentifierOffTheCallersThread) {
    TestHome home;
    auto installations = ZUDInstallations::installations();
    const Answer first = ask(*installations);
    const Answer second = ask(*installations);
    ASSERT_TRUE(first.identifier);
    EXPECT_FALSE(first.identifier->empty());
    EXPECT_FALSE(first.error);
    EXPECT_EQ(second.identifier, first.identifier);
    EXPECT_NE(first.thread, std::this_thread::get_id());
    EXPECT_EQ(UserDefaults::standardUserDefaults()->stringForKey(ZUDInstallations::kDefaultsKey),
              first.identifier);

    installations->setFailureForTesting(Error("installations", 1, "offline"));
    const Answer failed = ask(*installations);
    EXPECT_FALSE(failed.identifier);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->description, "offline");
    installations->setFailureForTesting(std::nullopt);

    int changes = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(ZUDInstallationIDDidChangeNotification,
                                                                 [&](const Notification&) { ++changes; });
    installations->setInstallationIDForTesting("new-id");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(ask(*installations).identifier, "new-id");
}

}  // namespace
