#include "measurement/wire/UploadCodecs.h"

#include "measurement/wire/AudienceCodecs.h"
#include "measurement/wire/upload.pb.h"

namespace {

constexpr int32_t kMeasurementBatchTypeWords[] = {0x4008};
const ZDMPBFieldDescriptor kMeasurementBatchFields[] = {
    {1, "bundles", &kZDMPBMeasurementBundleDescriptor},
};

// By field index, which follows the schema's declaration order rather than the tags.
constexpr int32_t kMeasurementBundleTypeWords[] = {
    0x82,   0x4008, 0x4008, 0x202,  0x202,  0x202,  0x202,  0x202, 0x2002, 0x2002,  // 0-9
    0x2002, 0x2002, 0x82,   0x2002, 0x2002, 0x202,  0x2002, 0x202, 0x202,  0x2002,  // 10-19
    0x2002, 0x22,   0x2002, 0x202,  0x82,   0x2002, 0x2002, 0x22,  0x4008, 0x2002,  // 20-29
    0x82,   0x82,   0x82,   0x2002, 0x202,  0x82,   0x2002, 0x108, 0x202,  0x2002,  // 30-39
    0x2002, 0x42,   0x22,   0x2002, 0x2008, 0x2002,                                 // 40-45
};
const ZDMPBFieldDescriptor kMeasurementBundleFields[] = {
    {1, "protocol_version", nullptr},
    {2, "events", &kZDMPBEventDescriptor},
    {3, "user_attributes", &kZDMPBUserAttributeDescriptor},
    {4, "upload_timestamp_millis", nullptr},
    {5, "start_timestamp_millis", nullptr},
    {6, "end_timestamp_millis", nullptr},
    {26, "previous_bundle_start_timestamp_millis", nullptr},
    {7, "previous_bundle_end_timestamp_millis", nullptr},
    {8, "platform", nullptr},
    {9, "os_version", nullptr},
    {10, "device_model", nullptr},
    {11, "user_default_language", nullptr},
    {12, "time_zone_offset_minutes", nullptr},
    {13, "app_store", nullptr},
    {14, "app_id", nullptr},
    {15, "opaque_int_15", nullptr},
    {16, "app_version", nullptr},
    {17, "library_version", nullptr},
    {18, "upload_library_version", nullptr},
    {19, "resettable_device_id", nullptr},
    {27, "vendor_device_id", nullptr},
    {20, "limited_ad_tracking", nullptr},
    {21, "app_instance_id", nullptr},
    {22, "opaque_int_22", nullptr},
    {23, "bundle_sequential_index", nullptr},
    {24, "health_monitor", nullptr},
    {25, "zizoda_app_id", nullptr},
    {28, "opaque_flag_28", nullptr},
    {29, "audience_evaluation_results", &kZDMPBAudienceLeafFilterResultDescriptor},
    {30, "installation_id", nullptr},
    {31, "app_version_major", nullptr},
    {32, "app_version_minor", nullptr},
    {33, "app_version_release", nullptr},
    {34, "opaque_string_34", nullptr},
    {35, "config_version", nullptr},
    {39, "upload_retry_count", nullptr},
    {41, "ad_sdk_app_id", nullptr},
    {45, "experiment_ids", nullptr},
    {47, "checksum", nullptr},
    {50, "opaque_string_50", nullptr},
    {52, "consent_signals", nullptr},
    {53, "tracking_authorization_status", nullptr},
    {55, "opaque_flag_55", nullptr},
    {63, "session_stitching_token", nullptr},
    {64, "redacted_fields", nullptr},
    {65, "ephemeral_app_instance_id", nullptr},
};

constexpr int32_t kEventTypeWords[] = {0x4008, 0x2002, 0x202, 0x202, 0x82};
const ZDMPBFieldDescriptor kEventFields[] = {
    {1, "params", &kZDMPBEventParamDescriptor},
    {2, "name", nullptr},
    {3, "timestamp_millis", nullptr},
    {4, "previous_timestamp_millis", nullptr},
    {5, "opaque_int_5", nullptr},
};

constexpr int32_t kEventParamTypeWords[] = {0x2002, 0x2002, 0x202, 0x802, 0x1002, 0x4008};
const ZDMPBFieldDescriptor kEventParamFields[] = {
    {1, "name", nullptr},        {2, "string_value", nullptr}, {3, "int_value", nullptr},
    {4, "float_value", nullptr}, {5, "double_value", nullptr}, {6, "params", &kZDMPBEventParamDescriptor},
};

constexpr int32_t kUserAttributeTypeWords[] = {0x202, 0x2002, 0x2002, 0x202, 0x802, 0x1002};
const ZDMPBFieldDescriptor kUserAttributeFields[] = {
    {1, "set_timestamp_millis", nullptr}, {2, "name", nullptr},
    {3, "string_value", nullptr},         {4, "int_value", nullptr},
    {5, "float_value", nullptr},          {6, "double_value", nullptr},
};

}  // namespace

ZDMPB_DESCRIPTOR(MeasurementBatch, 2, false);
ZDMPB_DESCRIPTOR(MeasurementBundle, 2, false);
ZDMPB_DESCRIPTOR(Event, 2, false);
ZDMPB_DESCRIPTOR(EventParam, 2, true);
ZDMPB_DESCRIPTOR(UserAttribute, 1, false);

ZDMPB_DEFINE_CODEC(MeasurementBatch)
ZDMPB_DEFINE_CODEC(MeasurementBundle)
ZDMPB_DEFINE_CODEC(Event)
ZDMPB_DEFINE_CODEC(EventParam)
ZDMPB_DEFINE_CODEC(UserAttribute)
