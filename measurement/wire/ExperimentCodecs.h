#pragma once
// Codec operations of the experiment and attribution messages (proto/experiment.proto).
#include "measurement/wire/ZDMPBCodec.h"

ZDMPB_DECLARE_CODEC(ExperimentRequest);
ZDMPB_DECLARE_CODEC(AppProperty);
ZDMPB_DECLARE_CODEC(ClientProperty);
ZDMPB_DECLARE_CODEC(CustomProperty);
ZDMPB_DECLARE_CODEC(ExperimentResponse);
ZDMPB_DECLARE_CODEC(SdkResponse);
ZDMPB_DECLARE_CODEC(Snapshot);
ZDMPB_DECLARE_CODEC(Experiment);
ZDMPB_DECLARE_CODEC(Flag);
ZDMPB_DECLARE_CODEC(SkAdNetworkConversionValueRequest);
ZDMPB_DECLARE_CODEC(SkAdNetworkConversionValueResponse);
