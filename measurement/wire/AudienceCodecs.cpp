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

constexpr int32_t kAudienceTypeWords[] = {0x82, 0x4008, 0x4008, 0x22, 0x22};
const ZDMPBFieldDescriptor kAudienceFields[] = {
    {1, "audience_id", nullptr},
    {2, "property_filters", &kZDMPBPropertyFilterDescriptor},
    {3, "event_filters", &kZDMPBEventFilterDescriptor},
    {4, "opaque_flag_4", nullptr},
    {5, "opaque_flag_5", nullptr},
};

constexpr int32_t kEventFilterTypeWords[] = {0x82, 0x2002, 0x4008, 0x22, 0x4002, 0x22, 0x22, 0x22};
const ZDMPBFieldDescriptor kEventFilterFields[] = {
    {1, "filter_id", nullptr},
    {2, "event_name", nullptr},
    {3, "filters", &kZDMPBFilterDescriptor},
    {4, "opaque_flag_4", nullptr},
    {5, "event_count_filter", &kZDMPBNumberFilterDescriptor},
    {6, "is_dynamic", nullptr},
    {7, "is_sequence", nullptr},
    {8, "is_session_scoped", nullptr},
};

constexpr int32_t kPropertyFilterTypeWords[] = {0x82, 0x2002, 0x4002, 0x22, 0x22, 0x22};
const ZDMPBFieldDescriptor kPropertyFilterFields[] = {
    {1, "filter_id", nullptr},  {2, "property_name", nullptr}, {3, "filter", &kZDMPBFilterDescriptor},
    {4, "is_dynamic", nullptr}, {5, "is_sequence", nullptr},   {6, "is_session_scoped", nullptr},
};

constexpr int32_t kFilterTypeWords[] = {0x4002, 0x4002, 0x22, 0x2002};
const ZDMPBFieldDescriptor kFilterFields[] = {
    {1, "string_filter", &kZDMPBStringFilterDescriptor},
    {2, "number_filter", &kZDMPBNumberFilterDescriptor},
    {3, "complement", nullptr},
    {4, "param_name", nullptr},
};

constexpr int32_t kStringFilterTypeWords[] = {0x42, 0x2002, 0x22, 0x2008};
const ZDMPBFieldDescriptor kStringFilterFields[] = {
    {1, "match_type", nullptr},
    {2, "expression", nullptr},
    {3, "case_sensitive", nullptr},
    {4, "expression_list", nullptr},
};

constexpr int32_t kNumberFilterTypeWords[] = {0x42, 0x22, 0x2002, 0x2002, 0x2002};
const ZDMPBFieldDescriptor kNumberFilterFields[] = {
    {1, "comparison_type", nullptr},      {2, "match_as_float", nullptr},
    {3, "comparison_value", nullptr},     {4, "min_comparison_value", nullptr},
    {5, "max_comparison_value", nullptr},
};

}  // namespace

ZDMPB_DESCRIPTOR(DynamicFilterResultTimestamp, 1, false);
ZDMPB_DESCRIPTOR(SequenceFilterResultTimestamp, 2, false);
ZDMPB_DESCRIPTOR(ResultData, 2, false);
ZDMPB_DESCRIPTOR(AudienceLeafFilterResult, 2, false);

ZDMPB_DESCRIPTOR(Audience, 2, false);
ZDMPB_DESCRIPTOR(EventFilter, 2, false);
ZDMPB_DESCRIPTOR(PropertyFilter, 2, false);
ZDMPB_DESCRIPTOR(Filter, 2, false);
ZDMPB_DESCRIPTOR(StringFilter, 2, false);
ZDMPB_DESCRIPTOR(NumberFilter, 1, false);

ZDMPB_DEFINE_CODEC(DynamicFilterResultTimestamp)
ZDMPB_DEFINE_CODEC(SequenceFilterResultTimestamp)
ZDMPB_DEFINE_CODEC(ResultData)
ZDMPB_DEFINE_CODEC(AudienceLeafFilterResult)
ZDMPB_DEFINE_CODEC(Audience)
ZDMPB_DEFINE_CODEC(EventFilter)
ZDMPB_DEFINE_CODEC(PropertyFilter)
ZDMPB_DEFINE_CODEC(Filter)
ZDMPB_DEFINE_CODEC(StringFilter)
ZDMPB_DEFINE_CODEC(NumberFilter)
