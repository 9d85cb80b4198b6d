#pragma once
// Where the measurement service is reached: "https://measurement.zizoda.example" unless the
// environment variable QUORVANE_MEASUREMENT_URL names another scheme, host and port (a local test
// server). Read on every call, so a test may set it for its own scope.
#include <optional>
#include <string>

struct ZDMMeasurementService {
    std::string scheme;
    std::string host;
    std::optional<int> port;
    bool isDefault = true;

    static constexpr const char* kDefaultHost = "measurement.zizoda.example";
    static ZDMMeasurementService current();
    // "<scheme>://<prefix>.<host>[:port]<path>": the prefix (a sub-domain) goes in front of the
    // service's own host only; a host from the environment is taken as it is.
    std::string urlWithPath(const std::string& path,
                            const std::optional<std::string>& subdomain = std::nullopt) const;
};
