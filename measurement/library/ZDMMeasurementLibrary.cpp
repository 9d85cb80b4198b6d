#include "measurement/library/ZDMMeasurementLibrary.h"

#include <memory>

#include "measurement/audiences/ZDMAudienceForEngine.h"
#include "measurement/audiences/conditional/ZDMConditionalPropertiesForConnector.h"
#include "measurement/audiences/conditional/ZDMConditionalPropertiesForEngine.h"
#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/audiences/experiments/ZDMERemoteConfigManager.h"
#include "measurement/audiences/purchases/ZDMInAppPurchaseTransactionReporter.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/interpreter/ZDMPConfigurationEventEditing.h"

void ZDMInstallMeasurementLibrary() {
    registerMeasurementHooks();
    ZDMInstallAudienceForEngine();
    ZDMInstallConditionalPropertiesForConnector();
    ZDMInstallPurchaseFingerprintForEngine();
    ZDMPInstallEventEditingFactory();
    ZDMMeasurement::setExperimentManagerSource(
        [] { return std::make_shared<ZDMERemoteConfigManager>(ZDMEManager::sharedInstance()); });
    ZDMMeasurement::setSharedInstanceObserver([](const std::shared_ptr<ZDMMeasurement>& engine) {
        ZDMConnectConditionalPropertiesToEngine(engine);
    });
}
