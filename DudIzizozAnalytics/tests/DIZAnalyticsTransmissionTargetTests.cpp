#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizozAnalytics/DIZAnalyticsTransmissionTarget.h"
#include "DudIzizozAnalytics/DIZPropertyConfigurator.h"
#include "DudIzizozAnalytics/TransmissionTarget/DIZAnalyticsAuthenticationProvider.h"
#include "DudIzizozAnalytics/tests/DIZClientTesting.h"
#include "platform/iokit/testing/IOKitTesting.h"

namespace {

const std::string kRootToken = "rootkey-0718-token-root";
const std::string kChildToken = "childkey-0718-token-child";
const std::string kGrandchildToken = "grandkey-0718-token-grandchild";
const std::string kMirrorGroup = "Analytics/one";

class DIZAnalyticsTransmissionTargetTest : public DIZClientTest {
  protected:
    void SetUp() override { startBoth(); }

    // The Core Schema logs stored for Did Ozodozuda whose instrumentation key names `token`'s target.
    static std::vector<std::shared_ptr<DIZCoreSchemaLog>> coreSchemaLogsOf(const std::string& token) {
        settle();
        std::vector<std::shared_ptr<DIZCoreSchemaLog>> found;
        for (const auto& log : storedLogsOf<DIZCoreSchemaLog>(kMirrorGroup)) {
            if (log->iKey() == DIZUtility::iKeyFromTargetToken(token)) found.push_back(log);
        }
        return found;
    }
    static std::optional<Value> storedFlag(const std::string& key) {
        return DIZDudIzizozUserDefaults::shared()->objectForKey(key);
    }
    size_t count(const std::string& text) {
        auto texts = logs.texts();
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }
};

const std::string kCannotEnable =
    "Can't enable; parent transmission target and/or Analytics service is disabled.";

}  // namespace

TEST_F(DIZAnalyticsTransmissionTargetTest, AChildOfADisabledParentStartsDisabledAndCannotBeEnabled) {
    auto root = DIZAnalytics::transmissionTargetForToken(kRootToken);
    EXPECT_EQ(root, DIZAnalytics::transmissionTargetForToken(kRootToken));
    EXPECT_EQ(root->isEnabledKey(), "AnalyticsIsEnabled/rootkey");
    root->setEnabled(false);
    EXPECT_EQ(storedFlag("AnalyticsIsEnabled/rootkey"), Value(false));

    auto child = root->transmissionTargetForToken(kChildToken);
    EXPECT_FALSE(child->isEnabled());
    EXPECT_EQ(storedFlag("AnalyticsIsEnabled/childkey"), Value(false));
    child->setEnabled(true);
    EXPECT_FALSE(child->isEnabled());
    const auto* warning = logs.find(kCannotEnable);
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->level, DIZLogLevel::Warning);
    EXPECT_EQ(warning->tag, "DudIzizozAnalytics");
}

TEST_F(DIZAnalyticsTransmissionTargetTest, TheEnabledFlagGoesDownTheTreeAndPersists) {
    auto root = DIZAnalytics::transmissionTargetForToken(kRootToken);
    auto child = root->transmissionTargetForToken(kChildToken);
    auto grandchild = child->transmissionTargetForToken(kGrandchildToken);

    root->setEnabled(false);
    EXPECT_FALSE(child->isEnabled());
    EXPECT_FALSE(grandchild->isEnabled());
    root->setEnabled(true);
    EXPECT_TRUE(child->isEnabled());
    EXPECT_TRUE(grandchild->isEnabled());
    EXPECT_EQ(count(kCannotEnable), 0u) << "each child is enabled after its parent";

    child->setEnabled(false);
    settle();
    forgetTheProcess();
    startBoth();
    auto again =
        DIZAnalytics::transmissionTargetForToken(kRootToken)->transmissionTargetForToken(kChildToken);
    EXPECT_FALSE(again->isEnabled()) << "read back from the stored flag";
    EXPECT_TRUE(DIZAnalytics::transmissionTargetForToken(kRootToken)->isEnabled());
}

TEST_F(DIZAnalyticsTransmissionTargetTest, DisablingTheServiceDisablesItsTargetsAndTheirEvents) {
    auto root = DIZAnalytics::transmissionTargetForToken(kRootToken);
    auto child = root->transmissionTargetForToken(kChildToken);
    DIZAnalytics::sharedInstance()->setEnabled(false);
    EXPECT_FALSE(root->isEnabled());
    EXPECT_FALSE(child->isEnabled());
    DIZAnalytics::sharedInstance()->setEnabled(true);
    EXPECT_TRUE(child->isEnabled());
    // The mirror units follow the switches on the logs queue, deleting what they hold when disabled.
    settle();

    child->setEnabled(false);
    child->trackEvent("dropped");
    root->trackEvent("kept");
    EXPECT_EQ(coreSchemaLogsOf(kChildToken).size(), 0u);
    EXPECT_EQ(coreSchemaLogsOf(kRootToken).size(), 1u);
    EXPECT_EQ(count("This transmission target is disabled."), 1u);
}

TEST_F(DIZAnalyticsTransmissionTargetTest, DefaultPropertiesOfTheNearestTargetWinAndPassedOnesWinOverAll) {
    auto root = DIZAnalytics::transmissionTargetForToken(kRootToken);
    auto child = root->transmissionTargetForToken(kChildToken);
    root->propertyConfigurator()->setEventPropertyString("root", "shared");
    root->propertyConfigurator()->setEventPropertyInt64(1, "fromRoot");
    child->propertyConfigurator()->setEventPropertyString("child", "shared");

    child->trackEvent("defaults");
    auto passed = std::make_shared<DIZEventProperties>();
    passed->setString("passed", "shared");
    child->trackEvent("passed", passed);

    auto sent = coreSchemaLogsOf(kChildToken);
    ASSERT_EQ(sent.size(), 2u);
    std::map<std::string, std::string> data;
    for (const auto& log : sent)
        data[*log->name()] = json::write(Value(log->data()->properties().value_or(Dictionary())));
    EXPECT_EQ(data["defaults"], R"({"shared":"child","fromRoot":1})");
    EXPECT_EQ(data["passed"], R"({"shared":"passed","fromRoot":1})");
}

TEST_F(DIZAnalyticsTransmissionTargetTest,
       CoreSchemaOverridesComeFromTheChainButTheDeviceIdOnlyFromItsTarget) {
    IOKitTesting::ScopedMachineIdPath machineId(QUORVANE_TEST_FIXTURES "/machine-id");
    auto root = DIZAnalytics::transmissionTargetForToken(kRootToken);
    auto child = root->transmissionTargetForToken(kChildToken);
    auto grandchild = child->transmissionTargetForToken(kGrandchildToken);
    root->propertyConfigurator()->setAppVersion("9.9");
    root->propertyConfigurator()->setAppName("root name");
    child->propertyConfigurator()->setAppName("child name");
    child->propertyConfigurator()->setUserId("alice");
    child->propertyConfigurator()->collectDeviceId();
    EXPECT_EQ(child->propertyConfigurator()->deviceId(), "u:FEDCBA98-7654-3210-FEDC-BA9876543210");

    grandchild->trackEvent("deep");
    child->trackEvent("middle");

    auto deep = coreSchemaLogsOf(kGrandchildToken);
    ASSERT_EQ(deep.size(), 1u);
    const auto& deepExt = *deep[0]->ext();
    EXPECT_EQ(deepExt.appExt()->ver(), "9.9");
    EXPECT_EQ(deepExt.appExt()->name(), "child name");
    EXPECT_EQ(deepExt.userExt()->localId(), "c:alice");
    EXPECT_EQ(deepExt.deviceExt()->localId(), std::nullopt) << "the device id is not inherited";

    auto middle = coreSchemaLogsOf(kChildToken);
    ASSERT_EQ(middle.size(), 1u);
    EXPECT_EQ(middle[0]->ext()->deviceExt()->localId(), "u:FEDCBA98-7654-3210-FEDC-BA9876543210");
}

TEST_F(DIZAnalyticsTransmissionTargetTest, WithoutAMachineIdThereIsNoDeviceId) {
    IOKitTesting::ScopedMachineIdPath machineId(QUORVANE_TEST_FIXTURES "/absent");
    EXPECT_EQ(DIZPropertyConfigurator::getDeviceIdentifier(), std::nullopt);
}

TEST_F(DIZAnalyticsTransmissionTargetTest, TheUserIdKeepsOrGainsTheCPrefixAndOtherPrefixesAreRefused) {
    struct Case {
        const char* given;
        const char* stored;
    } cases[] = {{"c:x", "c:x"}, {"x", "c:x"}, {"d:x", "c:before"}, {"", "c:before"}};
    auto configurator = DIZAnalytics::transmissionTargetForToken(kRootToken)->propertyConfigurator();
    for (const auto& c : cases) {
        configurator->setUserId("c:before");
        configurator->setUserId(std::string(c.given));
        EXPECT_EQ(configurator->userId(), c.stored) << c.given;
    }
}

TEST_F(DIZAnalyticsTransmissionTargetTest, CoreSchemaLogsCarryTheSharedProvidersTicketKey) {
    class Host : public DIZAnalyticsAuthenticationProviderDelegate {
      public:
        void authenticationProvider(const std::shared_ptr<DIZAnalyticsAuthenticationProvider>&,
                                    DIZAcquireTokenCompletionBlock) override {
            ++asked;
        }
        int asked = 0;
    };
    auto host = std::make_shared<Host>();
    DIZAnalyticsTransmissionTarget::addAuthenticationProvider(nullptr);
    EXPECT_EQ(count("Authentication provider may not be null."), 1u);
    auto provider = DIZAnalyticsAuthenticationProvider::initWithAuthenticationType(
        DIZAnalyticsAuthenticationType::Delegated, "host-ticket-key", host);
    DIZAnalyticsTransmissionTarget::addAuthenticationProvider(provider);
    EXPECT_EQ(host->asked, 1);

    DIZAnalytics::transmissionTargetForToken(kRootToken)->trackEvent("withTicket");
    auto sent = coreSchemaLogsOf(kRootToken);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->ext()->protocolExt()->ticketKeys(),
              std::vector<std::string>{*provider->ticketKeyHash()});
    DIZAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
}

// A parent keeps its children and a child only points back at its parent, so a tree let go of by
// its owner is freed whole; while the tree is held, a child still reaches its parent.
TEST_F(DIZAnalyticsTransmissionTargetTest, ATreeLetGoOfIsFreedWhole) {
    std::weak_ptr<DIZAnalyticsTransmissionTarget> root, child;
    {
        auto owned =
            DIZAnalyticsTransmissionTarget::initWithTransmissionTargetToken(kRootToken, nullptr, nullptr);
        auto made = owned->transmissionTargetForToken(kChildToken);
        EXPECT_EQ(made->parentTarget(), owned);
        EXPECT_EQ(owned->transmissionTargetForToken(kChildToken), made);
        root = owned;
        child = made;
    }
    EXPECT_TRUE(root.expired());
    EXPECT_TRUE(child.expired());
}
