#pragma once
// MeasurementBundle fields by their index in the message, which is not their wire tag (given after
// each). The engine fills bundles in more than one place; one table keeps them agreeing.
#include <cstdint>

enum ZDMMeasurementBundleField : int32_t {
    kBundleProtocolVersion = 0,               // tag 1
    kBundleEvents = 1,                        // tag 2
    kBundleUserAttributes = 2,                // tag 3
    kBundleUploadMillis = 3,                  // tag 4
    kBundleStartMillis = 4,                   // tag 5
    kBundleEndMillis = 5,                     // tag 6
    kBundlePreviousStartMillis = 6,           // tag 26
    kBundlePreviousEndMillis = 7,             // tag 7
    kBundlePlatform = 8,                      // tag 8
    kBundleOSVersion = 9,                     // tag 9
    kBundleDeviceModel = 10,                  // tag 10
    kBundleLanguage = 11,                     // tag 11
    kBundleTimeZoneOffset = 12,               // tag 12
    kBundleAppStore = 13,                     // tag 13
    kBundleAppID = 14,                        // tag 14
    kBundleAppVersion = 16,                   // tag 16
    kBundleLibraryVersion = 17,               // tag 17
    kBundleUploadLibraryVersion = 18,         // tag 18
    kBundleResettableDeviceID = 19,           // tag 19
    kBundleVendorDeviceID = 20,               // tag 27
    kBundleLimitedAdTracking = 21,            // tag 20
    kBundleAppInstanceID = 22,                // tag 21
    kBundleIndex = 24,                        // tag 23
    kBundleMonitoringData = 25,               // tag 24
    kBundleZORAppID = 26,                     // tag 25
    kBundleAudienceResults = 28,              // tag 29
    kBundleInstallationID = 29,               // tag 30
    kBundleAppVersionMajor = 30,              // tag 31
    kBundleAppVersionMinor = 31,              // tag 32
    kBundleAppVersionRelease = 32,            // tag 33
    kBundleConfigVersion = 34,                // tag 35
    kBundleRetryCount = 35,                   // tag 39
    kBundleAdSdkAppID = 36,                   // tag 41
    kBundleExperimentIDs = 37,                // tag 45
    kBundleChecksum = 38,                     // tag 47
    kBundleConsentSignals = 40,               // tag 52
    kBundleTrackingAuthorizationStatus = 41,  // tag 53
    kBundleSessionStitchingToken = 43,        // tag 63
    kBundleRedactedFields = 44,               // tag 64
    kBundleEphemeralAppInstanceID = 45,       // tag 65
};
