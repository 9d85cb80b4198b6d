#pragma once
// Message classes of event-editing programs.
#include "measurement/wire/ZDMPBMessage.h"

ZDMPB_MESSAGE_CLASS(Program);
ZDMPB_MESSAGE_CLASS(OgtActivities);
ZDMPB_MESSAGE_CLASS(OgtActivity);
ZDMPB_MESSAGE_CLASS(RuntimeEntity);
