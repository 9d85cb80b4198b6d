#include <gtest/gtest.h>

#include "measurement/foundation/ZDMMeasurementService.h"
#include "testing/EnvironmentOverride.h"

namespace {

struct ServiceCase {
    const char* name;
    ZDMMeasurementService (*service)();
    const char* path;
    const char* defaultURL;
};

const ServiceCase kServices[] = {
    {"measurement", [] { return ZDMMeasurementService::current(); }, "/a",
     "https://measurement.zizoda.example/a"},
    {"ad services", &ZDMMeasurementService::adServices, "/adsvc/conversion/app/deeplink",
     "https://adservices.zizoda.example/adsvc/conversion/app/deeplink"},
    {"attribution", &ZDMMeasurementService::attribution, "/api/v1/",
     "https://attribution.platform.example/api/v1/"},
};

TEST(ZDMMeasurementService, EveryServiceHasItsOwnHostByDefault) {
    EnvironmentOverride environment;
    environment.set("QUORVANE_MEASUREMENT_URL", nullptr);
    for (const auto& c : kServices) EXPECT_EQ(c.service().urlWithPath(c.path), c.defaultURL) << c.name;
}

// One local server stands for every service the library talks to.
TEST(ZDMMeasurementService, TheEnvironmentNamesOneServerForEveryService) {
    EnvironmentOverride environment;
    environment.set("QUORVANE_MEASUREMENT_URL", "http://127.0.0.1:8123");
    for (const auto& c : kServices) {
        const auto service = c.service();
        EXPECT_EQ(service.host, "127.0.0.1") << c.name;
        EXPECT_EQ(service.urlWithPath(c.path), std::string("http://127.0.0.1:8123") + c.path) << c.name;
    }
}

TEST(ZDMMeasurementService, AValueWithoutSchemeOrHostIsIgnored) {
    EnvironmentOverride environment;
    for (const char* value : {"127.0.0.1:8123", "http://", "not a url"}) {
        environment.set("QUORVANE_MEASUREMENT_URL", value);
        for (const auto& c : kServices) EXPECT_EQ(c.service().urlWithPath(c.path), c.defaultURL) << value;
    }
}

}  // namespace
