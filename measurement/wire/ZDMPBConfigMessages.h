#pragma once
// Message classes of the measurement server's configuration.
#include "measurement/wire/ZDMPBMessage.h"

ZDMPB_MESSAGE_CLASS(MeasurementConfig);
ZDMPB_MESSAGE_CLASS(Setting);
ZDMPB_MESSAGE_CLASS(EventConfig);
ZDMPB_MESSAGE_CLASS(DataControl);
ZDMPB_MESSAGE_CLASS(Region);
