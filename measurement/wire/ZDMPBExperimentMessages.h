#pragma once
// Message classes of the experiment service and of the attribution exchange.
#include "measurement/wire/ZDMPBMessage.h"
#include "platform/foundation/Value.h"

ZDMPB_MESSAGE_CLASS(ExperimentRequest);
ZDMPB_MESSAGE_CLASS(AppProperty);
ZDMPB_MESSAGE_CLASS(ClientProperty);
ZDMPB_MESSAGE_CLASS(CustomProperty);
ZDMPB_MESSAGE_CLASS(ExperimentResponse);
ZDMPB_MESSAGE_CLASS(SdkResponse);
ZDMPB_MESSAGE_CLASS(Snapshot);
ZDMPB_MESSAGE_CLASS(Experiment);
ZDMPB_MESSAGE_CLASS(Flag);
ZDMPB_MESSAGE_CLASS(SkAdNetworkConversionValueRequest);
ZDMPB_MESSAGE_CLASS(SkAdNetworkConversionValueResponse);

// The flag's value from its first present value field, in the order integer, double, string,
// bool; null for no flag or a flag without a value.
Value ZDMPBFlagValue(const ZDMPBFlag* flag);
