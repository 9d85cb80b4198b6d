#pragma once
// Codec operations of the event-editing program messages (proto/program.proto).
#include "measurement/wire/ZDMPBCodec.h"

ZDMPB_DECLARE_CODEC(Program);
ZDMPB_DECLARE_CODEC(OgtActivities);
ZDMPB_DECLARE_CODEC(OgtActivity);
ZDMPB_DECLARE_CODEC(RuntimeEntity);
