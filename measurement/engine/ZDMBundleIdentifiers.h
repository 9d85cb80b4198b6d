#pragma once
// Three small rules the engine applies at fixed points: which device and app identifiers a bundle
// may carry under the user's consent, what the server's data controls strip before upload, and
// which events count toward the daily realtime limit. Plain functions without state of their own.
#include <string>
#include <vector>

class ZDMBundleIdentitySource;
class ZDMEvent;
class ZDMPBMeasurementBundle;

// Sets or clears the consent signals, tracking status, advertising, vendor and app instance IDs
// and the limited-ad-tracking flag. `consentSignals` is used only from 4 characters on ("G1" and
// ad then analytics storage, '0' denied); an empty one removes the stored signals.
// `gateIDFAOnATTMASEnabled` withholds the advertising ID unless tracking is authorized.
void ZDMStampBundleIdentifiers(ZDMPBMeasurementBundle& bundle, const std::string& consentSignals,
                               bool gateIDFAOnATTMASEnabled, ZDMBundleIdentitySource& identity);
// Redacts what each named data control covers ("app_instance_id", "user_id", "os_version",
// "device_info", "device_model", "enhanced_user_id") and records the names in the bundle.
void ZDMApplyDataControls(ZDMPBMeasurementBundle& bundle, const std::vector<std::string>& dataControls,
                          ZDMBundleIdentitySource& identity);
// True when the event counts toward the daily realtime limit: never in debug mode, nor for
// purchases ("_iap") and first opens ("_f", "_fx").
bool ZDMIsSubjectToRealtimeDailyLimit(const ZDMEvent& event);
