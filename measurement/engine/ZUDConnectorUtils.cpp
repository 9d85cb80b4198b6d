#include "measurement/engine/ZUDConnectorUtils.h"

#include <regex>
#include <vector>

namespace {
using Names = ZUDConnectorUtils::Names;

bool contains(const Names& names, const std::string& name) {
    return names.count(name) != 0;
}

// Compiled once: a name is checked against them on every property another component sets.
const std::vector<std::regex>& compiledUserPropertyPatterns() {
    static const auto* patterns = [] {
        auto* made = new std::vector<std::regex>;
        for (const auto& pattern : ZUDConnectorUtils::blocklistedUserPropertyPatterns())
            made->emplace_back(pattern, std::regex::ECMAScript);
        return made;
    }();
    return *patterns;
}
}  // namespace

const Names& ZUDConnectorUtils::allowedListenerOrigins() {
    static const auto* names = new Names{"ziam", "crash", "zlx"};
    return *names;
}

const Names& ZUDConnectorUtils::blocklistedOrigins() {
    static const auto* names = new Names{"auto", "app", "am"};
    return *names;
}

const Names& ZUDConnectorUtils::blocklistedEventNames() {
    static const auto* names = new Names{"_e", "_f", "_iap", "_s", "_au"};
    return *names;
}

const Names& ZUDConnectorUtils::blocklistedParameters() {
    static const auto* names = new Names{"_r", "_dbg"};
    return *names;
}

const Names& ZUDConnectorUtils::blocklistedUserProperties() {
    static const auto* names = new Names{"_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno"};
    return *names;
}

const std::vector<std::string>& ZUDConnectorUtils::blocklistedUserPropertyPatterns() {
    static const auto* patterns = new std::vector<std::string>{"^_ltv_[A-Z]{3}$", "^_cc[1-5]{1}$"};
    return *patterns;
}

const Names& ZUDConnectorUtils::hiddenEventNames() {
    static const auto* names = new Names{
        "_xa",   "_xu", "_aq",      "_aa",        "_ai",           "_ac",          "campaign_details",
        "_iapx", "_ug", "_exp_set", "_exp_clear", "_exp_activate", "_exp_timeout", "_exp_expire"};
    return *names;
}

bool ZUDConnectorUtils::isOriginAllowed(const std::string& origin) {
    return !contains(blocklistedOrigins(), origin);
}

bool ZUDConnectorUtils::isAppOrigin(const std::string& origin) {
    return origin == "app" || origin.rfind("app+", 0) == 0;
}

bool ZUDConnectorUtils::isListenerOriginAllowed(const std::string& origin) {
    return contains(allowedListenerOrigins(), origin);
}

bool ZUDConnectorUtils::isEventNameAllowedForListeners(const std::string& name) {
    return !contains(hiddenEventNames(), name);
}

bool ZUDConnectorUtils::shouldLogEventWithName(const std::string& name, const Dictionary& parameters) {
    if (name.empty() || contains(blocklistedEventNames(), name)) return false;
    for (const auto& parameter : blocklistedParameters())
        if (parameters.contains(parameter)) return false;
    return true;
}

bool ZUDConnectorUtils::isUserPropertyAllowed(const std::string& name, const std::string& origin) {
    if (name.empty()) return false;
    if (name == "_ln") return origin == "zcm" || origin == "ziam";
    if (contains(blocklistedUserProperties(), name)) return false;
    for (const auto& pattern : compiledUserPropertyPatterns())
        if (std::regex_search(name, pattern)) return false;
    return true;
}

bool ZUDConnectorUtils::isUserPropertyAllowedForQuery(const std::string& name) {
    return !name.empty() && (name == "_fot" || name.front() != '_');
}
