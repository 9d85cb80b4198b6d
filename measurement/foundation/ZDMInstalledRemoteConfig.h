#pragma once
// The remote configuration that the library's rules read (limits of the sanitiser, for one): the
// engine's once it installs one, else the default instance. Kept in this layer because the rules
// live here and the engine above installs into it.
#include <memory>

#include "measurement/foundation/ZDMRemoteConfig.h"

std::shared_ptr<ZDMRemoteConfig> ZDMInstalledRemoteConfig();
// nullptr goes back to the default; a reset for tests does too.
void ZDMInstallRemoteConfig(std::shared_ptr<ZDMRemoteConfig> remoteConfig);
