#pragma once
// The two consent questions the identity asks. The consent settings live in the engine above this
// layer, which installs its answers here as it loads; until then nothing is denied.
#include <functional>

bool ZDMIsAdStorageDenied();
bool ZDMIsAnalyticsStorageDenied();
// Null functions put back the "not denied" answers.
void ZDMInstallConsentQueries(std::function<bool()> isAdStorageDenied,
                              std::function<bool()> isAnalyticsStorageDenied);
