#include "measurement/wire/ConfigCodecs.h"

#include "measurement/wire/AudienceCodecs.h"
#include "measurement/wire/ProgramCodecs.h"
#include "measurement/wire/config.pb.h"

namespace {

// Indexes 0-12 are tags 1-13; tags 14 and 15 have none, so they are read and never written.
constexpr int32_t kMeasurementConfigTypeWords[] = {0x202, 0x2002, 0x82,   0x4008, 0x4008, 0x4008, 0x2002,
                                                   0x22,  0x4008, 0x4008, 0x2002, 0x2002, 0x2002};
const ZDMPBFieldDescriptor kMeasurementConfigFields[] = {
    {1, "version", nullptr},
    {2, "app_id", nullptr},
    {3, "opaque_int_3", nullptr},
    {4, "settings", &kZDMPBSettingDescriptor},
    {5, "event_config", &kZDMPBEventConfigDescriptor},
    {6, "audiences", &kZDMPBAudienceDescriptor},
    {7, "adsdk_app_id", nullptr},
    {8, "opaque_flag_8", nullptr},
    {9, "dynamic_event_editing", &kZDMPBProgramDescriptor},
    {10, "data_controls", &kZDMPBDataControlDescriptor},
    {11, "upload_subdomain", nullptr},
    {12, "opaque_string_12", nullptr},
    {13, "opaque_string_13", nullptr},
};

constexpr int32_t kSettingTypeWords[] = {0x2002, 0x2002};
const ZDMPBFieldDescriptor kSettingFields[] = {
    {1, "key", nullptr},
    {2, "value_text", nullptr},
};

constexpr int32_t kEventConfigTypeWords[] = {0x2002, 0x22, 0x22, 0x82};
const ZDMPBFieldDescriptor kEventConfigFields[] = {
    {1, "name", nullptr},
    {2, "is_blocklisted", nullptr},
    {3, "is_custom_conversion", nullptr},
    {4, "sampling_rate", nullptr},
};

constexpr int32_t kDataControlTypeWords[] = {0x2002, 0x4008, 0x22};
const ZDMPBFieldDescriptor kDataControlFields[] = {
    {1, "name", nullptr},
    {2, "opt_out_regions", &kZDMPBRegionDescriptor},
    {3, "opaque_flag_3", nullptr},
};

constexpr int32_t kRegionTypeWords[] = {0x2002, 0x2002};
const ZDMPBFieldDescriptor kRegionFields[] = {
    {1, "opaque_string_1", nullptr},
    {2, "opaque_string_2", nullptr},
};

}  // namespace

ZDMPB_DESCRIPTOR(MeasurementConfig, 2, false);
ZDMPB_DESCRIPTOR(Setting, 1, false);
ZDMPB_DESCRIPTOR(EventConfig, 1, false);
ZDMPB_DESCRIPTOR(DataControl, 2, false);
ZDMPB_DESCRIPTOR(Region, 1, false);

ZDMPB_DEFINE_CODEC(MeasurementConfig)
ZDMPB_DEFINE_CODEC(Setting)
ZDMPB_DEFINE_CODEC(EventConfig)
ZDMPB_DEFINE_CODEC(DataControl)
ZDMPB_DEFINE_CODEC(Region)
