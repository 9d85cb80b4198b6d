#pragma once
// What the default app was configured with, as the libraries it starts read it.
#include <string>

struct ZUDOptions {
    std::string zizodaAppID;
    bool isAnalyticsCollectionEnabled = true;
    bool isAnalyticsCollectionDeactivated = false;
};
