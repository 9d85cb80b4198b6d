#include "DudIzizozCrashes/DIZWrapperCrashesHelper.h"

#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<DIZWrapperCrashesHelper> sharedHelper;
}  // namespace

std::shared_ptr<DIZWrapperCrashesHelper> DIZWrapperCrashesHelper::sharedInstance() {
    return sharedHelper.get();
}

void DIZWrapperCrashesHelper::setCrashHandlerSetupDelegate(
    const std::shared_ptr<DIZCrashHandlerSetupDelegate>& delegate) {
    const auto helper = sharedInstance();
    std::lock_guard guard(helper->lock_);
    helper->crashHandlerSetupDelegate_ = delegate;
}

std::shared_ptr<DIZCrashHandlerSetupDelegate> DIZWrapperCrashesHelper::crashHandlerSetupDelegate() {
    const auto helper = sharedInstance();
    std::lock_guard guard(helper->lock_);
    return helper->crashHandlerSetupDelegate_.lock();
}

std::shared_ptr<DIZCrashHandlerSetupDelegate> DIZWrapperCrashesHelper::getCrashHandlerSetupDelegate() {
    return crashHandlerSetupDelegate();
}

void DIZWrapperCrashesHelper::setAutomaticProcessing(bool automaticProcessing) {
    DIZCrashes::sharedInstance()->setAutomaticProcessingEnabled(automaticProcessing);
}

bool DIZWrapperCrashesHelper::automaticProcessing() {
    return DIZCrashes::sharedInstance()->isAutomaticProcessingEnabled();
}

std::vector<std::shared_ptr<DIZErrorReport>> DIZWrapperCrashesHelper::unprocessedCrashReports() {
    return DIZCrashes::sharedInstance()->unprocessedCrashReports();
}

bool DIZWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& filteredIds) {
    return DIZCrashes::sharedInstance()->sendCrashReportsOrAwaitUserConfirmationForFilteredIds(filteredIds);
}

void DIZWrapperCrashesHelper::sendErrorAttachments(
    const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments,
    const std::string& incidentIdentifier) {
    DIZCrashes::sendErrorAttachments(attachments, incidentIdentifier);
}

std::shared_ptr<DIZErrorReport> DIZWrapperCrashesHelper::buildHandledErrorReportWithErrorID(
    const std::string& errorId) {
    return DIZCrashes::sharedInstance()->buildHandledErrorReportWithErrorID(errorId);
}
