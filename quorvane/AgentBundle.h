#pragma once
// The agent's bundle, from the Info.plist compiled into the agent. The process entry registers it as
// the main bundle before anything reads the bundle; the agent's tests run in it too.
#include <memory>

#include "platform/foundation/Bundle.h"

std::shared_ptr<Bundle> agentBundle();
