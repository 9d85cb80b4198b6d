#include "measurement/wire/AudienceCodecs.h"

#include "measurement/wire/audience.pb.h"

namespace {

constexpr int32_t kDynamicFilterResultTimestampTypeWords[] = {0x82, 0x202};
constexpr ZDMPBFieldDescriptor kDynamicFilterResultTimestampFields[] = {
    {1, "filter_id", nullptr},
    {2, "timestamp", nullptr},
};

constexpr int32_t kSequenceFilterResultTimestampTypeWords[] = {0x82, 0x208};
constexpr ZDMPBFieldDescriptor kSequenceFilterResultTimestampFields[] = {
    {1, "filter_id", nullptr},
    {2, "eval_timestamps", nullptr},
};

constexpr int32_t kResultDataTypeWords[] = {0x408, 0x408, 0x4008, 0x4008};
const ZDMPBFieldDescriptor kResultDataFields[] = {
    {1, "status", nullptr},
    {2, "results", nullptr},
    {3, "dynamic_filter_timestamps", &kZDMPBDynamicFilterResultTimestampDescriptor},
    {4, "sequence_filter_timestamps", &kZDMPBSequenceFilterResultTimestampDescriptor},
};

constexpr int32_t kAudienceLeafFilterResultTypeWords[] = {0x82, 0x4002, 0x4002, 0x22};
const ZDMPBFieldDescriptor kAudienceLeafFilterResultFields[] = {
    {1, "audience_id", nullptr},
    {2, "current_data", &kZDMPBResultDataDescriptor},
    {3, "previous_data", &kZDMPBResultDataDescriptor},
    {4, "new_audience", nullptr},
};

}  // namespace

ZDMPB_DESCRIPTOR(DynamicFilterResultTimestamp, 1, false);
ZDMPB_DESCRIPTOR(SequenceFilterResultTimestamp, 2, false);
ZDMPB_DESCRIPTOR(ResultData, 2, false);
ZDMPB_DESCRIPTOR(AudienceLeafFilterResult, 2, false);

ZDMPB_DEFINE_CODEC(DynamicFilterResultTimestamp)
ZDMPB_DEFINE_CODEC(SequenceFilterResultTimestamp)
ZDMPB_DEFINE_CODEC(ResultData)
ZDMPB_DEFINE_CODEC(AudienceLeafFilterResult)
