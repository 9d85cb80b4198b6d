#pragma once
// Where the services the measurement library talks to are reached: the measurement service
// ("https://measurement.zizoda.example"), the ad-services host of deferred deep links and the
// attribution service of search ads. The environment variable QUORVANE_MEASUREMENT_URL, naming a
// scheme, host and port, replaces all three, so that one local test server answers every path.
// Read on every call, so a test may set it for its own scope.
#include <optional>
#include <string>

struct ZDMMeasurementService {
    std::string scheme;
    std::string host;
    std::optional<int> port;
    bool isDefault = true;

    static constexpr const char* kDefaultHost = "measurement.zizoda.example";
    static constexpr const char* kAdServicesHost = "adservices.zizoda.example";
    static constexpr const char* kAttributionHost = "attribution.platform.example";

    // The service at `defaultHost` over https, unless the environment names another.
    static ZDMMeasurementService current(const char* defaultHost = kDefaultHost);
    static ZDMMeasurementService adServices() { return current(kAdServicesHost); }
    static ZDMMeasurementService attribution() { return current(kAttributionHost); }
    // "<scheme>://<prefix>.<host>[:port]<path>": the prefix (a sub-domain) goes in front of the
    // service's own host only; a host from the environment is taken as it is.
    std::string urlWithPath(const std::string& path,
                            const std::optional<std::string>& subdomain = std::nullopt) const;
};
