#include "measurement/engine/ZDMScreenViewReporter.h"

std::shared_ptr<ZDMScreenViewReporter> ZDMScreenViewReporter::sharedInstance() {
    static const auto instance = std::make_shared<ZDMScreenViewReporter>();
    return instance;
}

bool ZDMIsAppActive() {
    return ZDMScreenViewReporter::sharedInstance()->isAppActive();
}
