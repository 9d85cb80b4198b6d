#pragma once
// Message classes of audience definitions and of their evaluation results.
#include "measurement/wire/ZDMPBMessage.h"

ZDMPB_MESSAGE_CLASS(ResultData);
ZDMPB_MESSAGE_CLASS(AudienceLeafFilterResult);
ZDMPB_MESSAGE_CLASS(DynamicFilterResultTimestamp);
ZDMPB_MESSAGE_CLASS(SequenceFilterResultTimestamp);
ZDMPB_MESSAGE_CLASS(Audience);
ZDMPB_MESSAGE_CLASS(EventFilter);
ZDMPB_MESSAGE_CLASS(PropertyFilter);
ZDMPB_MESSAGE_CLASS(Filter);
ZDMPB_MESSAGE_CLASS(StringFilter);
ZDMPB_MESSAGE_CLASS(NumberFilter);
