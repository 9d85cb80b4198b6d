#include "measurement/engine/ZDMBundleIdentifiers.h"

#include <algorithm>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/foundation/ZDMBundleIdentitySource.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {
using BundleField = ZDMMeasurementBundleField;
constexpr int32_t kUserAttributeName = 1;

constexpr uint64_t kTrackingAuthorized = 3;
constexpr uint64_t kTrackingStatusNotAvailable = 6;

void clear(ZDMPBMeasurementBundle& bundle, BundleField field) {
    if (ZDMPBHasField(&bundle, field)) ZDMPBClearField(&bundle, field);
}

void setIfAbsent(ZDMPBMeasurementBundle& bundle, BundleField field, const std::string& value) {
    if (!ZDMPBHasField(&bundle, field)) ZDMPBSetString(&bundle, field, value);
}

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::ranges::find(names, name) != names.end();
}

void removeUserIDAttributes(ZDMPBMeasurementBundle& bundle) {
    auto attributes = ZDMPBGetArray(&bundle, kBundleUserAttributes, &ZDMPBUserAttribute::messageClass());
    if (!attributes) return;
    const auto removed = std::erase_if(*attributes, [](const Value& element) {
        const auto attribute = element.objectAs<NANOMessageBase>();
        return attribute && ZDMPBGetString(attribute.get(), kUserAttributeName) == "_id";
    });
    if (removed) ZDMPBSetArray(&bundle, kBundleUserAttributes, *attributes);
}

void cutOSVersionToMajor(ZDMPBMeasurementBundle& bundle) {
    const auto version = ZDMPBGetString(&bundle, kBundleOSVersion);
    if (!version) return;
    if (const auto dot = version->find('.'); dot != std::string::npos)
        ZDMPBSetString(&bundle, kBundleOSVersion, version->substr(0, dot));
}
}  // namespace

void ZDMStampBundleIdentifiers(ZDMPBMeasurementBundle& bundle, const std::string& consentSignals,
                               bool gateIDFAOnATTMASEnabled, ZDMBundleIdentitySource& identity) {
    bool adDenied = false;
    bool analyticsDenied = false;
    if (consentSignals.size() >= 4) {
        ZDMPBSetString(&bundle, kBundleConsentSignals, consentSignals);
        adDenied = consentSignals[2] == '0';
        analyticsDenied = consentSignals[3] == '0';
    } else if (consentSignals.empty()) {
        clear(bundle, kBundleConsentSignals);
    }

    bool trackingBlocks = false;
    if (identity.iOS14OrAbove()) {
        const uint64_t status = identity.appleConsentStatus();
        if (status != kTrackingStatusNotAvailable)
            ZDMPBSetInt32(&bundle, kBundleTrackingAuthorizationStatus, static_cast<int32_t>(status));
        trackingBlocks = gateIDFAOnATTMASEnabled && status != kTrackingAuthorized;
    }

    const auto resettableDeviceID = identity.resettableDeviceID();
    const bool resettableIDAllowed =
        identity.hasLimitedAdTracking() && resettableDeviceID && !adDenied && !trackingBlocks;
    const auto vendorID = identity.identifierForVendor();
    if (resettableIDAllowed) {
        setIfAbsent(bundle, kBundleResettableDeviceID, *resettableDeviceID);
        clear(bundle, kBundleVendorDeviceID);
    } else if (vendorID && !analyticsDenied) {
        setIfAbsent(bundle, kBundleVendorDeviceID, *vendorID);
        clear(bundle, kBundleResettableDeviceID);
    } else {
        clear(bundle, kBundleResettableDeviceID);
        clear(bundle, kBundleVendorDeviceID);
    }

    if (!analyticsDenied) {
        const auto appInstanceID = identity.appInstanceID();
        if (appInstanceID && !appInstanceID->empty())
            setIfAbsent(bundle, kBundleAppInstanceID, *appInstanceID);
    }
    // Stamping runs again at upload with the consent in force then: what was stored under an
    // earlier consent goes too.
    if (adDenied) clear(bundle, kBundleResettableDeviceID);
    if (analyticsDenied) {
        clear(bundle, kBundleVendorDeviceID);
        clear(bundle, kBundleAppInstanceID);
    }
    if (identity.hasLimitedAdTracking())
        ZDMPBSetBool(&bundle, kBundleLimitedAdTracking, identity.limitedAdTracking());
}

void ZDMApplyDataControls(ZDMPBMeasurementBundle& bundle, const std::vector<std::string>& dataControls,
                          ZDMBundleIdentitySource& identity) {
    if (contains(dataControls, "app_instance_id")) {
        clear(bundle, kBundleAppInstanceID);
        ZDMPBSetString(&bundle, kBundleEphemeralAppInstanceID, identity.ephemeralAppInstanceID());
    }
    if (contains(dataControls, "user_id")) removeUserIDAttributes(bundle);
    if (contains(dataControls, "os_version") || contains(dataControls, "device_info"))
        cutOSVersionToMajor(bundle);
    if (contains(dataControls, "device_model") || contains(dataControls, "device_info"))
        clear(bundle, kBundleDeviceModel);
    if (contains(dataControls, "enhanced_user_id")) clear(bundle, kBundleSessionStitchingToken);
    if (!dataControls.empty()) {
        Value::Array names(dataControls.begin(), dataControls.end());
        ZDMPBSetArray(&bundle, kBundleRedactedFields, names);
    }
}

bool ZDMIsSubjectToRealtimeDailyLimit(const ZDMEvent& event) {
    if (ZDMMeasurement::monitor()->isDebugModeEnabled()) return false;
    const std::string& name = event.name();
    return name != "_iap" && name != "_f" && name != "_fx";
}
