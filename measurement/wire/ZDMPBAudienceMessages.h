#pragma once
// Message classes of audience evaluation results.
#include "measurement/wire/ZDMPBMessage.h"

ZDMPB_MESSAGE_CLASS(ResultData);
ZDMPB_MESSAGE_CLASS(AudienceLeafFilterResult);
ZDMPB_MESSAGE_CLASS(DynamicFilterResultTimestamp);
ZDMPB_MESSAGE_CLASS(SequenceFilterResultTimestamp);
