#pragma once
// The login-item interface the system calls: the user's job list and switching a login item on and
// off. On Linux a login item is an XDG autostart entry, "<configDirectory>/autostart/<label>.desktop",
// that starts the running executable when the user's session begins.
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

enum class SMDomain { userLaunchd };
inline constexpr SMDomain kSMDomainUserLaunchd = SMDomain::userLaunchd;

// Every autostart entry of the user as a dictionary {"Label": file stem, "OnDemand": whether the entry
// is switched on}, ordered by label. "OnDemand" is left out when the entry's switch cannot be read.
// Entries that cannot be read or are not desktop entries are skipped. No result when the autostart
// folder exists but cannot be listed; an empty list when it does not exist.
std::optional<Value> SMCopyAllJobDictionaries(SMDomain domain);

// Enabling writes the entry atomically; disabling removes it (nothing to remove counts as success).
// False when it fails, or when `label` cannot be a file name (empty, "." or "..", or holding '/').
bool SMLoginItemSetEnabled(const std::string& label, bool enabled);
