#include "measurement/foundation/ZDMMeasurementService.h"

#include <cstdlib>

#include "platform/foundation/URL.h"

ZDMMeasurementService ZDMMeasurementService::current(const char* defaultHost) {
    ZDMMeasurementService service{"https", defaultHost, std::nullopt, true};
    const char* override = std::getenv("QUORVANE_MEASUREMENT_URL");
    if (!override || !*override) return service;
    const auto components = URLComponents::fromString(override);
    // A value that names no scheme and host is ignored rather than sending data somewhere odd.
    if (!components || !components->scheme || !components->host || components->host->empty()) return service;
    return {*components->scheme, *components->host, components->port, false};
}

std::string ZDMMeasurementService::urlWithPath(const std::string& path,
                                               const std::optional<std::string>& subdomain) const {
    std::string url = scheme + "://";
    if (isDefault && subdomain && !subdomain->empty()) url += *subdomain + ".";
    url += host;
    if (port) url += ":" + std::to_string(*port);
    return url + path;
}
