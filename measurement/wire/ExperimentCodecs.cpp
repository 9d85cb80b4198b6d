#include "measurement/wire/ExperimentCodecs.h"

#include "measurement/wire/experiment.pb.h"

namespace {

constexpr int32_t kExperimentRequestTypeWords[] = {0x4002, 0x4008};
const ZDMPBFieldDescriptor kExperimentRequestFields[] = {
    {1, "app_property", &kZDMPBAppPropertyDescriptor},
    {2, "client_properties", &kZDMPBClientPropertyDescriptor},
};

constexpr int32_t kAppPropertyTypeWords[] = {0x2002, 0x2002, 0x2002, 0x2002, 0x2002, 0x22, 0x202};
const ZDMPBFieldDescriptor kAppPropertyFields[] = {
    {1, "platform", nullptr},
    {2, "opaque_string_2", nullptr},
    {3, "opaque_string_3", nullptr},
    {4, "language", nullptr},
    {5, "bundle_id", nullptr},
    {6, "app_store", nullptr},
    {7, "experiment_sdk_version", nullptr},
};

constexpr int32_t kClientPropertyTypeWords[] = {0x2002, 0x2002, 0x202, 0x2002, 0x4008};
const ZDMPBFieldDescriptor kClientPropertyFields[] = {
    {1, "sdk_name", nullptr},
    {2, "diversion", nullptr},
    {3, "sdk_version", nullptr},
    {4, "app_id", nullptr},
    {5, "custom_properties", &kZDMPBCustomPropertyDescriptor},
};

constexpr int32_t kCustomPropertyTypeWords[] = {0x2002, 0x2002};
const ZDMPBFieldDescriptor kCustomPropertyFields[] = {
    {1, "name", nullptr},
    {2, "value", nullptr},
};

constexpr int32_t kExperimentResponseTypeWords[] = {0x4008, 0x4008};
const ZDMPBFieldDescriptor kExperimentResponseFields[] = {
    {1, "snapshots", &kZDMPBSnapshotDescriptor},
    {2, "sdk_responses", &kZDMPBSdkResponseDescriptor},
};

constexpr int32_t kSdkResponseTypeWords[] = {0x2002, 0x42, 0x4002};
const ZDMPBFieldDescriptor kSdkResponseFields[] = {
    {1, "sdk_name", nullptr},
    {2, "status", nullptr},
    {3, "snapshot", &kZDMPBSnapshotDescriptor},
};

constexpr int32_t kSnapshotTypeWords[] = {0x2002, 0x4008};
const ZDMPBFieldDescriptor kSnapshotFields[] = {
    {1, "sdk_name", nullptr},
    {2, "experiments", &kZDMPBExperimentDescriptor},
};

constexpr int32_t kExperimentTypeWords[] = {0x82, 0x4008};
const ZDMPBFieldDescriptor kExperimentFields[] = {
    {1, "experiment_id", nullptr},
    {2, "flags", &kZDMPBFlagDescriptor},
};

constexpr int32_t kFlagTypeWords[] = {0x2002, 0x202, 0x2002, 0x1002, 0x22};
const ZDMPBFieldDescriptor kFlagFields[] = {
    {1, "name", nullptr},         {2, "int_value", nullptr},  {3, "string_value", nullptr},
    {4, "double_value", nullptr}, {5, "bool_value", nullptr},
};

constexpr int32_t kSkAdNetworkConversionValueRequestTypeWords[] = {0x202,  0x2002, 0x2002,
                                                                   0x2002, 0x202,  0x202};
const ZDMPBFieldDescriptor kSkAdNetworkConversionValueRequestFields[] = {
    {1, "opaque_int_1", nullptr},    {2, "opaque_string_2", nullptr}, {3, "opaque_string_3", nullptr},
    {4, "opaque_string_4", nullptr}, {5, "opaque_int_5", nullptr},    {6, "opaque_int_6", nullptr},
};

constexpr int32_t kSkAdNetworkConversionValueResponseTypeWords[] = {0x42, 0x2002, 0x82,  0x42,
                                                                    0x22, 0x202,  0x202, 0x202};
const ZDMPBFieldDescriptor kSkAdNetworkConversionValueResponseFields[] = {
    {1, "opaque_enum_1", nullptr}, {2, "opaque_string_2", nullptr}, {3, "opaque_int_3", nullptr},
    {4, "opaque_enum_4", nullptr}, {5, "opaque_flag_5", nullptr},   {6, "opaque_int_6", nullptr},
    {7, "opaque_int_7", nullptr},  {8, "opaque_int_8", nullptr},
};

}  // namespace

ZDMPB_DESCRIPTOR(ExperimentRequest, 2, false);
ZDMPB_DESCRIPTOR(AppProperty, 1, false);
ZDMPB_DESCRIPTOR(ClientProperty, 2, false);
ZDMPB_DESCRIPTOR(CustomProperty, 1, false);
ZDMPB_DESCRIPTOR(ExperimentResponse, 2, false);
ZDMPB_DESCRIPTOR(SdkResponse, 2, false);
ZDMPB_DESCRIPTOR(Snapshot, 2, false);
ZDMPB_DESCRIPTOR(Experiment, 2, false);
ZDMPB_DESCRIPTOR(Flag, 1, false);
ZDMPB_DESCRIPTOR(SkAdNetworkConversionValueRequest, 1, false);
ZDMPB_DESCRIPTOR(SkAdNetworkConversionValueResponse, 1, false);

ZDMPB_DEFINE_CODEC(ExperimentRequest)
ZDMPB_DEFINE_CODEC(AppProperty)
ZDMPB_DEFINE_CODEC(ClientProperty)
ZDMPB_DEFINE_CODEC(CustomProperty)
ZDMPB_DEFINE_CODEC(ExperimentResponse)
ZDMPB_DEFINE_CODEC(SdkResponse)
ZDMPB_DEFINE_CODEC(Snapshot)
ZDMPB_DEFINE_CODEC(Experiment)
ZDMPB_DEFINE_CODEC(Flag)
ZDMPB_DEFINE_CODEC(SkAdNetworkConversionValueRequest)
ZDMPB_DEFINE_CODEC(SkAdNetworkConversionValueResponse)
