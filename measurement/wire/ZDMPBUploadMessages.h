#pragma once
// Message classes of the upload body and the stored events, user properties and bundles.
#include "measurement/wire/ZDMPBMessage.h"

ZDMPB_MESSAGE_CLASS(MeasurementBatch);
ZDMPB_MESSAGE_CLASS(MeasurementBundle);
ZDMPB_MESSAGE_CLASS(Event);
ZDMPB_MESSAGE_CLASS(EventParam);
ZDMPB_MESSAGE_CLASS(UserAttribute);
