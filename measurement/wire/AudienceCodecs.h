#pragma once
// Codec operations of the audience messages (proto/audience.proto).
#include "measurement/wire/ZDMPBCodec.h"

ZDMPB_DECLARE_CODEC(ResultData);
ZDMPB_DECLARE_CODEC(AudienceLeafFilterResult);
ZDMPB_DECLARE_CODEC(DynamicFilterResultTimestamp);
ZDMPB_DECLARE_CODEC(SequenceFilterResultTimestamp);
