#pragma once
// Codec operations of the configuration messages (proto/config.proto). Field 15's message has
// tables only: nothing decodes it into a record.
#include "measurement/wire/ZDMPBCodec.h"

ZDMPB_DECLARE_CODEC(MeasurementConfig);
ZDMPB_DECLARE_CODEC(Setting);
ZDMPB_DECLARE_CODEC(EventConfig);
ZDMPB_DECLARE_CODEC(DataControl);
ZDMPB_DECLARE_CODEC(Region);
