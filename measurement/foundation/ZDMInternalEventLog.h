#pragma once
// How the foundation's error reporting reaches the analytics facade, which lives in a layer above
// it: the facade installs its entry point once, and until then internal events go nowhere.
#include <string>

#include "platform/foundation/Value.h"

using ZDMInternalEventLogger = void (*)(const std::string& origin, const std::string& name,
                                        const Dictionary& parameters);

void ZDMSetInternalEventLogger(ZDMInternalEventLogger logger);
// Hands the event to the installed entry point, on the calling thread.
void ZDMLogInternalEvent(const std::string& origin, const std::string& name, const Dictionary& parameters);
