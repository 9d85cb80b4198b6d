#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "measurement/engine/ZDMBundleIdentifiers.h"
#include "measurement/foundation/ZDMBundleIdentitySource.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

// An identity with an advertising ID and, unlike the platform's, a vendor ID.
class FakeIdentity : public ZDMBundleIdentitySource {
  public:
    bool iOS14OrAbove() const override { return true; }
    uint64_t appleConsentStatus() override { return status; }
    bool hasLimitedAdTracking() override { return true; }
    bool limitedAdTracking() override { return false; }
    std::optional<std::string> resettableDeviceID() override { return "IDFA-1"; }
    std::optional<std::string> identifierForVendor() const override { return "IDFV-1"; }
    std::optional<std::string> appInstanceID() override { return "AIID-1"; }
    std::string ephemeralAppInstanceID() override { return "EAIID-1"; }

    uint64_t status = 3;
};

using Fields = std::map<uint32_t, std::vector<std::string>>;

// The bundle's encoded fields by wire tag, for the tags asked: texts as they are, varints in
// decimal. Reading the bytes shows that each field went to its tag and not to its index.
Fields fieldsByTag(const ZDMPBMeasurementBundle& bundle, const std::set<uint32_t>& tags) {
    const auto bytes = bundle.protoBuffer();
    EXPECT_TRUE(bytes);
    Fields fields;
    size_t at = 0;
    auto varint = [&] {
        uint64_t value = 0;
        for (int shift = 0; at < bytes->size(); shift += 7) {
            const uint8_t byte = (*bytes)[at++];
            value |= uint64_t{byte & 0x7fu} << shift;
            if (!(byte & 0x80)) break;
        }
        return value;
    };
    while (bytes && at < bytes->size()) {
        const uint64_t key = varint();
        const auto tag = static_cast<uint32_t>(key >> 3);
        std::string value;
        switch (key & 7) {
            case 0:
                value = std::to_string(varint());
                break;
            case 2: {
                const size_t length = varint();
                value.assign(reinterpret_cast<const char*>(bytes->data() + at), length);
                at += length;
                break;
            }
            default:
                ADD_FAILURE() << "unexpected wire type in tag " << tag;
                return fields;
        }
        if (tags.contains(tag)) fields[tag].push_back(value);
    }
    return fields;
}

std::shared_ptr<ZDMPBMeasurementBundle> emptyBundle() {
    return ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
}

class BundleIdentifiers : public SharedMonitorFixture {
  protected:
    FakeIdentity identity_;
};

const std::set<uint32_t> kStampedTags = {19, 20, 21, 27, 52, 53};

TEST_F(BundleIdentifiers, StampingFollowsConsentTrackingStatusAndTheGate) {
    struct Case {
        const char* signals;
        bool gate;
        uint64_t status;
        Fields expected;
    } cases[] = {
        {"G111", false, 3, {{19, {"IDFA-1"}}, {20, {"0"}}, {21, {"AIID-1"}}, {52, {"G111"}}, {53, {"3"}}}},
        {"G110", false, 3, {{19, {"IDFA-1"}}, {20, {"0"}}, {52, {"G110"}}, {53, {"3"}}}},
        {"G101", false, 3, {{20, {"0"}}, {21, {"AIID-1"}}, {27, {"IDFV-1"}}, {52, {"G101"}}, {53, {"3"}}}},
        {"G100", false, 3, {{20, {"0"}}, {52, {"G100"}}, {53, {"3"}}}},
        // Tracking not authorized under the gate: the vendor ID stands in for the advertising ID.
        {"G111", true, 2, {{20, {"0"}}, {21, {"AIID-1"}}, {27, {"IDFV-1"}}, {52, {"G111"}}, {53, {"2"}}}},
        {"G111", true, 3, {{19, {"IDFA-1"}}, {20, {"0"}}, {21, {"AIID-1"}}, {52, {"G111"}}, {53, {"3"}}}},
        // Status 6 means not available: not written.
        {"G111", false, 6, {{19, {"IDFA-1"}}, {20, {"0"}}, {21, {"AIID-1"}}, {52, {"G111"}}}},
        // Too short to read: not stored, and nothing denied.
        {"G1-", false, 3, {{19, {"IDFA-1"}}, {20, {"0"}}, {21, {"AIID-1"}}, {53, {"3"}}}},
    };
    for (const Case& c : cases) {
        identity_.status = c.status;
        auto bundle = emptyBundle();
        ZDMStampBundleIdentifiers(*bundle, c.signals, c.gate, identity_);
        EXPECT_EQ(fieldsByTag(*bundle, kStampedTags), c.expected)
            << c.signals << " gate " << c.gate << " status " << c.status;
    }
}

TEST_F(BundleIdentifiers, StampingAgainAtUploadRemovesWhatConsentNoLongerAllows) {
    struct Case {
        const char* signals;
        Fields expected;
    } cases[] = {
        // Stored values are kept, not replaced; the vendor ID gives way to the advertising ID.
        {"G111", {{19, {"IDFA-0"}}, {20, {"0"}}, {21, {"AIID-0"}}, {52, {"G111"}}, {53, {"3"}}}},
        {"G100", {{20, {"0"}}, {52, {"G100"}}, {53, {"3"}}}},
        {"", {{19, {"IDFA-0"}}, {20, {"0"}}, {21, {"AIID-0"}}, {53, {"3"}}}},
    };
    for (const Case& c : cases) {
        auto bundle = emptyBundle();
        ZDMPBSetString(bundle.get(), 19, "IDFA-0");
        ZDMPBSetString(bundle.get(), 20, "IDFV-0");
        ZDMPBSetString(bundle.get(), 22, "AIID-0");
        ZDMPBSetString(bundle.get(), 40, "G1--");
        ZDMStampBundleIdentifiers(*bundle, c.signals, false, identity_);
        EXPECT_EQ(fieldsByTag(*bundle, kStampedTags), c.expected) << '"' << c.signals << '"';
    }
}

// A bundle as it stands before upload.
std::shared_ptr<ZDMPBMeasurementBundle> filledBundle() {
    auto bundle = emptyBundle();
    ZDMPBSetString(bundle.get(), 9, "13.4.1");
    ZDMPBSetString(bundle.get(), 10, "Mac14,2");
    ZDMPBSetString(bundle.get(), 22, "AIID-1");
    ZDMPBSetString(bundle.get(), 43, "token-1");
    Value::Array attributes;
    for (const char* name : {"_id", "plan", "_id", "tier"}) {
        auto attribute = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
        ZDMPBSetString(attribute.get(), 1, name);
        ZDMPBSetString(attribute.get(), 2, std::string(name) + "-value");
        attributes.push_back(Value(std::static_pointer_cast<const Object>(attribute)));
    }
    ZDMPBSetArray(bundle.get(), 2, attributes);
    return bundle;
}

std::vector<std::string> attributeNames(const ZDMPBMeasurementBundle& bundle) {
    std::vector<std::string> names;
    for (const Value& element :
         ZDMPBGetArray(&bundle, 2, &ZDMPBUserAttribute::messageClass()).value_or(Value::Array()))
        names.push_back(ZDMPBGetString(element.objectAs<NANOMessageBase>().get(), 1).value_or("?"));
    return names;
}

TEST_F(BundleIdentifiers, DataControlsRedactTheFieldsTheyNameAndAreRecorded) {
    const std::set<uint32_t> tags = {9, 10, 21, 63, 64, 65};
    const std::vector<std::string> kAllAttributes = {"_id", "plan", "_id", "tier"},
                                   kOthersInOrder = {"plan", "tier"};
    const Fields untouched = {{9, {"13.4.1"}}, {10, {"Mac14,2"}}, {21, {"AIID-1"}}, {63, {"token-1"}}};
    struct Case {
        std::vector<std::string> controls;
        Fields expected;
    } cases[] = {
        {{"device_info"}, {{9, {"13"}}, {21, {"AIID-1"}}, {63, {"token-1"}}, {64, {"device_info"}}}},
        {{"os_version"},
         {{9, {"13"}}, {10, {"Mac14,2"}}, {21, {"AIID-1"}}, {63, {"token-1"}}, {64, {"os_version"}}}},
        {{"device_model", "enhanced_user_id"},
         {{9, {"13.4.1"}}, {21, {"AIID-1"}}, {64, {"device_model", "enhanced_user_id"}}}},
        {{"app_instance_id"},
         {{9, {"13.4.1"}},
          {10, {"Mac14,2"}},
          {63, {"token-1"}},
          {64, {"app_instance_id"}},
          {65, {"EAIID-1"}}}},
        {{"user_id"},
         {{9, {"13.4.1"}}, {10, {"Mac14,2"}}, {21, {"AIID-1"}}, {63, {"token-1"}}, {64, {"user_id"}}}},
        {{}, untouched},
    };
    for (const Case& c : cases) {
        auto bundle = filledBundle();
        ZDMApplyDataControls(*bundle, c.controls, identity_);
        EXPECT_EQ(fieldsByTag(*bundle, tags), c.expected) << c.controls.size() << " controls";
        const bool userID = c.controls == std::vector<std::string>{"user_id"};
        EXPECT_EQ(attributeNames(*bundle), (userID ? kOthersInOrder : kAllAttributes));
    }
}

TEST_F(BundleIdentifiers, AVersionWithoutADotIsKeptWholeAndAMissingOneStaysMissing) {
    auto bundle = emptyBundle();
    ZDMPBSetString(bundle.get(), 9, "14");
    ZDMApplyDataControls(*bundle, {"os_version"}, identity_);
    EXPECT_EQ(ZDMPBGetString(bundle.get(), 9), "14");
    auto bare = emptyBundle();
    ZDMApplyDataControls(*bare, {"device_info", "user_id"}, identity_);
    EXPECT_EQ(fieldsByTag(*bare, {3, 9, 10, 64}), (Fields{{64, {"device_info", "user_id"}}}));
}

TEST_F(BundleIdentifiers, RealtimeLimitCountsEveryEventButPurchasesAndFirstOpensOutsideDebugMode) {
    struct Case {
        const char* name;
        bool debug;
        bool subject;
    } cases[] = {{"_e", false, true},  {"level_up", false, true}, {"_iap", false, false},
                 {"_f", false, false}, {"_fx", false, false},     {"_e", true, false}};
    for (const Case& c : cases) {
        monitor_->setDebugModeEnabled(c.debug);
        const auto event = ZDMEvent::initWithOrigin("app", false, c.name, 100, 0, {});
        ASSERT_NE(event, nullptr) << c.name;
        EXPECT_EQ(ZDMIsSubjectToRealtimeDailyLimit(*event), c.subject) << c.name << " debug " << c.debug;
    }
}

}  // namespace
