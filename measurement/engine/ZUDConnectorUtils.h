#pragma once
// What other components of the app may do through the analytics connector: which origins they may
// log and listen under, which events, parameters and user properties they may not touch, and which
// events listeners never hear of. Each list is made once, on first use, and never changes.
#include <string>
#include <unordered_set>

#include "platform/foundation/Value.h"

class ZUDConnectorUtils {
  public:
    using Names = std::unordered_set<std::string>;

    static const Names& allowedListenerOrigins();
    static const Names& blocklistedOrigins();
    static const Names& blocklistedEventNames();
    static const Names& blocklistedParameters();
    static const Names& blocklistedUserProperties();
    // Regular expressions, searched anywhere in a name.
    static const std::vector<std::string>& blocklistedUserPropertyPatterns();
    static const Names& hiddenEventNames();

    static bool isOriginAllowed(const std::string& origin);
    // "app" itself, or "app+" followed by anything.
    static bool isAppOrigin(const std::string& origin);
    static bool isListenerOriginAllowed(const std::string& origin);
    static bool isEventNameAllowedForListeners(const std::string& name);
    // No parameters at all pass.
    static bool shouldLogEventWithName(const std::string& name, const Dictionary& parameters);
    static bool isUserPropertyAllowed(const std::string& name, const std::string& origin);
    static bool isUserPropertyAllowedForQuery(const std::string& name);
};
