#include "measurement/audiences/conditional/ZDMConditionalPropertiesForConnector.h"

#include "measurement/audiences/conditional/ZDMConditionalUserPropertyController.h"
#include "measurement/engine/VUZArezivodoConnector.h"

void ZDMInstallConditionalPropertiesForConnector() {
    using Controller = ZDMConditionalUserPropertyController;
    VUZArezivodoConnector::installConditionalUserPropertyRequests({
        [](const std::shared_ptr<ZDMConditionalUserProperty>& property, const std::string& name) {
            Controller::sharedInstance()->setConditionalUserProperty(property.get(), name);
        },
        [](const std::shared_ptr<ZDMEvent>& clearEvent, const std::string& name) {
            Controller::sharedInstance()->clearConditionalUserPropertyWithClearEvent(clearEvent, name);
        },
        [](const std::string& prefix, const std::string& origin) {
            return Controller::sharedInstance()
                ->conditionalUserPropertiesWithNamePrefix(Value(prefix), Value(origin))
                .value_or(Controller::Properties{});
        },
    });
}
