#pragma once
// Codec operations of the upload messages (proto/upload.proto).
#include "measurement/wire/ZDMPBCodec.h"

ZDMPB_DECLARE_CODEC(MeasurementBatch);
ZDMPB_DECLARE_CODEC(MeasurementBundle);
ZDMPB_DECLARE_CODEC(Event);
ZDMPB_DECLARE_CODEC(EventParam);
ZDMPB_DECLARE_CODEC(UserAttribute);
