#include "measurement/foundation/ZDMConsentQueries.h"

#include <mutex>

namespace {
struct Queries {
    std::mutex mutex;
    std::function<bool()> adStorage;
    std::function<bool()> analyticsStorage;
};

Queries& queries() {
    static Queries* shared = new Queries;  // never destroyed: queue blocks may ask during exit
    return *shared;
}

bool ask(std::function<bool()> Queries::*which) {
    std::function<bool()> query;
    {
        std::lock_guard lock(queries().mutex);
        query = queries().*which;
    }
    return query && query();
}
}  // namespace

bool ZDMIsAdStorageDenied() {
    return ask(&Queries::adStorage);
}

bool ZDMIsAnalyticsStorageDenied() {
    return ask(&Queries::analyticsStorage);
}

void ZDMInstallConsentQueries(std::function<bool()> isAdStorageDenied,
                              std::function<bool()> isAnalyticsStorageDenied) {
    std::lock_guard lock(queries().mutex);
    queries().adStorage = std::move(isAdStorageDenied);
    queries().analyticsStorage = std::move(isAnalyticsStorageDenied);
}
