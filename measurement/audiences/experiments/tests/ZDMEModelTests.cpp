#include <map>

#include "measurement/audiences/experiments/tests/ExperimentFixture.h"
#include "measurement/foundation/ZDMIdentity.h"

namespace {

class Model : public ExperimentTest {};

TEST_F(Model, ClientSubscriptChecksTheKeyBeforeTheManager) {
    auto manager = ZDMEManager::initWithTaskManager(nullptr);
    auto client = manager->registerSDKProperty(ZDMESDKProperty::initWithName("sdk"), Dictionary{});
    ASSERT_TRUE(client);
    // The registration reports from the serial queue; let it finish so its report cannot land among
    // the ones looked at below.
    manager->dispatchSyncOnSerialQueue([] {});
    struct Case {
        Value key;
        int64_t code;
    };
    const Case cases[] = {{Value(7), 830003}, {Value(""), 800011}, {Value(), 830003}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_TRUE((*client)[c.key].isNull());
        EXPECT_EQ(monitor_->codes().back(), c.code);
    }
    EXPECT_TRUE(client->valueForFlag("").isNull());
    EXPECT_EQ(monitor_->codes().back(), 830002);
}

TEST_F(Model, ClientOfAReleasedManagerAnswersNothing) {
    auto manager = ZDMEManager::initWithTaskManager(nullptr);
    auto client =
        manager->registerSDKProperty(ZDMESDKProperty::initWithName("sdk"), Dictionary{{"f", Value(1)}});
    manager->dispatchSyncOnSerialQueue([] {});
    ASSERT_EQ(client->valueForFlag("f"), Value(1));
    manager.reset();
    EXPECT_TRUE(client->valueForFlag("f").isNull());
    EXPECT_FALSE(client->activateLatestSnapshot());
    EXPECT_FALSE(client->hasStaleSnapshot());
    client->resetToDefaults();
}

TEST_F(Model, OneExperimentPerIDAndOneFlagPerNameLaterWins) {
    auto early = experiment(5, {flag("a", Value(1))});
    auto late = experiment(5, {flag("a", Value(2)), flag("a", Value(3))});
    auto snapshot = ZDMESnapshot::initWithSDKName("sdk", {early, late});
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(IDsOf(snapshot), std::vector<int64_t>{5});
    EXPECT_EQ(ZDMPBFlagValue(snapshot->flagByName("a").get()), Value(3));
    EXPECT_EQ(snapshot->experiments()[0]->flags().size(), 1u);

    snapshot->addFlag(flag("b", Value("x")), 9);
    snapshot->addFlag(flag("a", Value(4)), 5);
    EXPECT_EQ(IDsOf(snapshot), (std::vector<int64_t>{5, 9}));
    EXPECT_EQ(ZDMPBFlagValue(snapshot->flagByName("a").get()), Value(4));
    EXPECT_EQ(ZDMPBFlagValue(snapshot->flagByName("b").get()), Value("x"));
    EXPECT_EQ(snapshot->flagByName("c"), nullptr);
}

TEST_F(Model, RefusedObjectsAreLoggedAndGiveNothing) {
    EXPECT_EQ(ZDMESnapshot::initWithSDKName("", {}), nullptr);
    EXPECT_EQ(ZDMESnapshot::initWithSDKName("sdk", {nullptr}), nullptr);
    EXPECT_EQ(ZDMEExperiment::initWithExperimentID(1, {nullptr}), nullptr);
    auto e = experiment(1, {});
    e->addFlag(nullptr);
    auto nameless = ZDMPBFlag::initWithBuffer(nullptr);
    ZDMPBSetInt64(nameless.get(), 1, 4);
    e->addFlag(nameless);
    EXPECT_EQ(e->flagWithName(""), nullptr);
    EXPECT_TRUE(e->flags().empty());
    EXPECT_EQ(monitor_->codes(), (std::vector<int64_t>{840000, 840002, 870003, 870004, 870006, 870007}));
}

TEST_F(Model, CopyOfAStoredSnapshotIsANewArrival) {
    auto stored = snapshot("sdk", {3});
    stored->setTimestamp(1000);
    stored->setManuallyActivated(true);
    clock_->advance(60);
    auto copy = stored->copy();
    EXPECT_EQ(copy->timestamp(), clock_->now());
    EXPECT_FALSE(copy->manuallyActivated());
    EXPECT_EQ(IDsOf(copy), std::vector<int64_t>{3});
}

TEST_F(Model, WireFormsRoundTripAndAMissingIDIsExperimentZero) {
    auto original = snapshot("sdk", {0, 4});
    auto bytes = original->proto()->protoBuffer();
    ASSERT_TRUE(bytes);
    auto decoded = ZDMESnapshot::initWithProtobuf(*ZDMPBSnapshot::initWithBuffer(*bytes));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->SDKName(), "sdk");
    EXPECT_EQ(IDsOf(decoded), (std::vector<int64_t>{0, 4}));
    EXPECT_EQ(ZDMPBFlagValue(decoded->flagByName("f4").get()), Value(4));

    auto withoutID = ZDMPBExperiment::initWithBuffer(nullptr);
    ZDMPBSetArray(withoutID.get(), 1, Value::Array{Value(Value::ObjectPtr(flag("x", Value(1.5))))});
    auto e = ZDMEExperiment::initWithProtobuf(*ZDMPBExperiment::initWithBuffer(*withoutID->protoBuffer()));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->experimentID(), 0);
    EXPECT_EQ(ZDMPBFlagValue(e->flagWithName("x").get()), Value(1.5));
}

// The client property as the service reads it: its fields by wire tag.
struct ClientPropertyFields {
    std::optional<std::string> name, diversion, appID;
    int64_t version = 0;
    bool hasCustom = false;
    std::map<std::string, std::string> custom;
};

ClientPropertyFields fieldsOf(const ZDMPBClientProperty& message) {
    auto decoded = ZDMPBClientProperty::initWithBuffer(*message.protoBuffer());
    ClientPropertyFields fields;
    fields.name = ZDMPBGetString(decoded.get(), 0);
    fields.diversion = ZDMPBGetString(decoded.get(), 1);
    fields.version = ZDMPBGetInt64(decoded.get(), 2);
    fields.appID = ZDMPBGetString(decoded.get(), 3);
    auto custom =
        ZDMPBGetArray(decoded.get(), 4, &ZDMPBCustomProperty::messageClass()).value_or(Value::Array{});
    fields.hasCustom = !custom.empty();
    for (const auto& entry : custom) {
        auto property = std::dynamic_pointer_cast<const ZDMPBCustomProperty>(entry.asObject());
        fields.custom[ZDMPBGetString(property.get(), 0).value_or("")] =
            ZDMPBGetString(property.get(), 1).value_or("");
    }
    return fields;
}

class DynamicProperties : public ZDMESDKPropertyProviderDelegate {
  public:
    explicit DynamicProperties(std::optional<std::map<std::string, std::string>> properties)
        : properties_(std::move(properties)) {}
    std::optional<std::map<std::string, std::string>> dynamicCustomPropertiesForSDKProperty(
        const ZDMESDKProperty&) override {
        return properties_;
    }

  private:
    std::optional<std::map<std::string, std::string>> properties_;
};

TEST_F(Model, ClientPropertyTakesTheOwnKeyElseTheIdentitysElseNone) {
    struct Case {
        std::optional<std::string> ownKey;
        std::optional<std::string> identityKey;
        std::optional<std::string> diversion;  // nullopt: no message
    };
    const Case cases[] = {
        {"own", "ident", "own-sdk"},      {std::nullopt, "ident", "ident-sdk"},
        {"", "ident", "ident-sdk"},       {std::nullopt, std::nullopt, std::nullopt},
        {std::nullopt, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ownKey.value_or("<none>") + "/" + c.identityKey.value_or("<none>"));
        ZDMESDKProperty::setIdentityDiversionKey([key = c.identityKey] { return key; });
        auto property = ZDMESDKProperty::initWithName("sdk");
        property->setDiversionKey(c.ownKey);
        property->setVersion(42);
        property->setAppID("app-1");
        auto message = property->proto();
        if (!c.diversion) {
            EXPECT_EQ(message, nullptr);
            EXPECT_EQ(monitor_->codes().back(), 860001);
            continue;
        }
        ASSERT_TRUE(message);
        auto fields = fieldsOf(*message);
        EXPECT_EQ(fields.diversion, c.diversion);
        EXPECT_EQ(fields.name, "sdk");
        EXPECT_EQ(fields.version, 42);
        EXPECT_EQ(fields.appID, "app-1");
    }
    // Unless replaced, the installation's key is the shared identity's.
    ZDMESDKProperty::setIdentityDiversionKey(nullptr);
    auto property = ZDMESDKProperty::initWithName("sdk");
    const std::string identityKey = ZDMIdentity::sharedInstance()->diversionKey();
    EXPECT_EQ(identityKey.size(), 5u);
    EXPECT_EQ(fieldsOf(*property->proto()).diversion, identityKey + "-sdk");
}

TEST_F(Model, DynamicCustomPropertiesReplaceStaticOnesAndNoneGiveNoField) {
    using Map = std::map<std::string, std::string>;
    struct Case {
        Map statics;
        std::optional<Map> dynamics;
        bool hasField;
        Map expected;
    };
    const Case cases[] = {
        {{}, Map{}, false, {}},
        {{}, std::nullopt, false, {}},
        {{{"a", "1"}, {"b", "2"}}, Map{{"b", "9"}, {"c", "3"}}, true, {{"a", "1"}, {"b", "9"}, {"c", "3"}}},
        {{{"a", "1"}}, std::nullopt, true, {{"a", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.size());
        auto property = ZDMESDKProperty::initWithName("sdk");
        property->setDiversionKey("k");
        property->setCustomProperties(c.statics);
        auto provider = std::make_shared<DynamicProperties>(c.dynamics);
        property->setDelegate(provider);
        auto fields = fieldsOf(*property->proto());
        EXPECT_EQ(fields.hasCustom, c.hasField);
        EXPECT_EQ(fields.custom, c.expected);
    }
}

}  // namespace
