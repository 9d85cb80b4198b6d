#include "measurement/wire/ProgramCodecs.h"

#include "measurement/wire/program.pb.h"

namespace {

constexpr int32_t kProgramTypeWords[] = {0x4008, 0x4002};
const ZDMPBFieldDescriptor kProgramFields[] = {
    {1, "instructions", &kZDMPBRuntimeEntityDescriptor},
    {2, "ogt_activities", &kZDMPBOgtActivitiesDescriptor},
};

constexpr int32_t kOgtActivitiesTypeWords[] = {0x4008};
const ZDMPBFieldDescriptor kOgtActivitiesFields[] = {
    {1, "activities", &kZDMPBOgtActivityDescriptor},
};

constexpr int32_t kOgtActivityTypeWords[] = {0x2002, 0x4008};
const ZDMPBFieldDescriptor kOgtActivityFields[] = {
    {1, "handler_name", nullptr},
    {2, "data", &kZDMPBRuntimeEntityDescriptor},
};

constexpr int32_t kRuntimeEntityTypeWords[] = {0x42, 0x4008, 0x2002, 0x2002, 0x22, 0x1002};
const ZDMPBFieldDescriptor kRuntimeEntityFields[] = {
    {1, "type", nullptr},          {2, "value", &kZDMPBRuntimeEntityDescriptor},
    {3, "function_name", nullptr}, {4, "string_value", nullptr},
    {5, "boolean_value", nullptr}, {6, "number_value", nullptr},
};

}  // namespace

ZDMPB_DESCRIPTOR(Program, 2, false);
ZDMPB_DESCRIPTOR(OgtActivities, 2, false);
ZDMPB_DESCRIPTOR(OgtActivity, 2, false);
ZDMPB_DESCRIPTOR(RuntimeEntity, 2, true);

ZDMPB_DEFINE_CODEC(Program)
ZDMPB_DEFINE_CODEC(OgtActivities)
ZDMPB_DEFINE_CODEC(OgtActivity)
ZDMPB_DEFINE_CODEC(RuntimeEntity)
