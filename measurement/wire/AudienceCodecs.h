#pragma once
// Codec operations of the audience definitions and results (proto/audience.proto).
#include "measurement/wire/ZDMPBCodec.h"

ZDMPB_DECLARE_CODEC(ResultData);
ZDMPB_DECLARE_CODEC(AudienceLeafFilterResult);
ZDMPB_DECLARE_CODEC(DynamicFilterResultTimestamp);
ZDMPB_DECLARE_CODEC(SequenceFilterResultTimestamp);
ZDMPB_DECLARE_CODEC(Audience);
ZDMPB_DECLARE_CODEC(EventFilter);
ZDMPB_DECLARE_CODEC(PropertyFilter);
ZDMPB_DECLARE_CODEC(Filter);
ZDMPB_DECLARE_CODEC(StringFilter);
ZDMPB_DECLARE_CODEC(NumberFilter);
