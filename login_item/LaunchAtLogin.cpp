#include "login_item/LaunchAtLogin.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/servicemanagement/ServiceManagement.h"

namespace {

// Each member is built on its first use, once, as the first use may come before the main bundle or
// the job list are worth reading.
struct Shared {
    std::unique_ptr<std::string> helperBundleIdentifier;
    std::unique_ptr<LaunchAtLogin::KVO> kvoObject;
    std::unique_ptr<LaunchAtLogin::Observable> observableObject;
    std::shared_ptr<CurrentValueSubject<bool>> enabledSubject;
};

constinit SharedInstance<Shared> sharedValues;

// Main thread only, like the rest, so no reset comes while a caller holds this reference.
Shared& shared() {
    return *sharedValues.get();
}

CurrentValueSubject<bool>& enabledSubject() {
    auto& subject = shared().enabledSubject;
    if (!subject) subject = std::make_shared<CurrentValueSubject<bool>>(LaunchAtLogin::isEnabled());
    return *subject;
}

// The helper's job is the first whose "Label" is the helper identifier; a job list that is not a
// list of dictionaries is unreadable as a whole.
bool readEnabled(const Value& jobs, const std::string& label) {
    const Value::Array* list = jobs.asArray();
    if (!list) return false;
    for (const Value& job : *list)
        if (!job.isDictionary()) return false;
    for (const Value& job : *list) {
        const std::string* jobLabel = job["Label"].asString();
        if (!jobLabel || *jobLabel != label) continue;
        const Value& onDemand = job["OnDemand"];
        return onDemand.isBool() && *onDemand.asBool();
    }
    return false;
}

}  // namespace

bool LaunchAtLogin::isEnabled() {
    const std::string& label = helperBundleIdentifier();
    if (label.empty()) return false;
    auto jobs = SMCopyAllJobDictionaries(kSMDomainUserLaunchd);
    return jobs && readEnabled(*jobs, label);
}

void LaunchAtLogin::setEnabled(bool enabled) {
    observableObject().objectWillChange().notify();
    kvoObject().willChangeValue(KVO::kIsEnabledKeyPath);
    if (std::string label = helperBundleIdentifier(); !label.empty()) SMLoginItemSetEnabled(label, enabled);
    kvoObject().didChangeValue(KVO::kIsEnabledKeyPath);
    enabledSubject().send(enabled);
}

const std::string& LaunchAtLogin::helperBundleIdentifier() {
    auto& identifier = shared().helperBundleIdentifier;
    if (!identifier) {
        std::string bundleIdentifier = Bundle::mainBundle()->bundleIdentifier();
        identifier = std::make_unique<std::string>(
            bundleIdentifier.empty() ? std::string() : bundleIdentifier + "-LaunchAtLoginHelper");
    }
    return *identifier;
}

LaunchAtLogin::KVO& LaunchAtLogin::kvoObject() {
    auto& object = shared().kvoObject;
    if (!object) object = std::make_unique<KVO>();
    return *object;
}

LaunchAtLogin::Observable& LaunchAtLogin::observableObject() {
    auto& object = shared().observableObject;
    if (!object) object = std::make_unique<Observable>();
    return *object;
}

AnyPublisher<bool> LaunchAtLogin::enabledPublisher() {
    enabledSubject();
    return AnyPublisher<bool>(shared().enabledSubject);
}

void LaunchAtLogin::resetSharedInstances() {
    sharedValues.reset();
}
