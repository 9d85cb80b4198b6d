#include "DudIzizozCrashes/Internals/Util/DIZWrapperExceptionManager.h"

#include <filesystem>
#include <map>
#include <mutex>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "crash_reporter/DZCrashReporter.h"
#include "platform/foundation/SharedInstance.h"

namespace {

constexpr const char* kLogTag = "DudIzizozCrashes";

// The class-level state. The formatter reads the map from whatever thread processes a report
// while the crash service pairs records, hence the lock.
struct ManagerState {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<DIZWrapperException>> wrapperExceptions;
    std::shared_ptr<DZCrashReporter> crashReporter;
};

constinit SharedInstance<ManagerState> sharedState;

std::string pathComponentFor(const std::string& baseFilename) {
    return DIZCrashesUtil::wrapperExceptionsDir() + "/" + baseFilename;
}

}  // namespace

void DIZWrapperExceptionManager::setCrashReporter(std::shared_ptr<DZCrashReporter> crashReporter) {
    const auto state = sharedState.get();
    std::lock_guard guard(state->lock);
    state->crashReporter = std::move(crashReporter);
}

std::shared_ptr<DZCrashReporter> DIZWrapperExceptionManager::crashReporter() {
    const auto state = sharedState.get();
    std::lock_guard guard(state->lock);
    return state->crashReporter;
}

void DIZWrapperExceptionManager::saveWrapperExceptionAndCrashReport(
    const DIZWrapperException& wrapperException) {
    if (!crashReporter()) {
        DIZLogError(kDIZLogTag, "Failed to save the crash report. CrashReporter wasn't initialized.");
        return;
    }
    saveWrapperException(wrapperException);
    saveLiveReport(*crashReporter());
}

// The wrapper's runtime is about to end the process, so the report of this moment goes where the
// next start looks for the previous run's crash.
void DIZWrapperExceptionManager::saveLiveReport(DZCrashReporter& crashReporter) {
    const std::string path = crashReporter.crashReportPath();
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (!DIZUtility::createDirectoryAtURL(directory)) {
        DIZLogError(kDIZLogTag, "Couldn't create a directory at path %@", directory.string());
        return;
    }
    const auto report = crashReporter.generateLiveReport();
    if (report && DIZUtility::createFileAtPath(path, *report)) {
        DIZLogError(kDIZLogTag, "Crash report was saved successfully at path %@", path);
    } else {
        DIZLogError(kDIZLogTag, "Couldn't save crash report at path %@", path);
    }
}

void DIZWrapperExceptionManager::saveWrapperException(const DIZWrapperException& wrapperException) {
    saveWrapperException(wrapperException, kLastSavedWrapperExceptionFileName);
}

void DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
    const std::vector<std::shared_ptr<DIZErrorReport>>& reports) {
    const auto lastSaved = loadWrapperExceptionWithBaseFilename(kLastSavedWrapperExceptionFileName);
    // Without a record there is nothing to pair: matching a missing process id as 0 would write an
    // empty record under the incident id of any report whose process id is unknown.
    if (!lastSaved) return;
    deleteWrapperExceptionWithBaseFilename(kLastSavedWrapperExceptionFileName);

    const uint64_t processId = static_cast<uint64_t>(lastSaved->processId().value_or(0));
    for (const auto& report : reports) {
        if (!report || report->appProcessIdentifier() != processId) continue;
        // A report without an incident id could never look its record up.
        const std::string incidentId = report->incidentIdentifier().value_or("");
        if (incidentId.empty()) continue;
        {
            const auto state = sharedState.get();
            std::lock_guard guard(state->lock);
            state->wrapperExceptions[incidentId] = lastSaved;
        }
        saveWrapperException(*lastSaved, incidentId);
        return;
    }
}

std::shared_ptr<DIZWrapperException> DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString(
    const std::string& uuidString) {
    {
        const auto state = sharedState.get();
        std::lock_guard guard(state->lock);
        const auto found = state->wrapperExceptions.find(uuidString);
        if (found != state->wrapperExceptions.end()) return found->second;
    }
    return loadWrapperExceptionWithBaseFilename(uuidString);
}

void DIZWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(const std::string& uuidString) {
    deleteWrapperExceptionWithBaseFilename(uuidString);
}

void DIZWrapperExceptionManager::deleteAllWrapperExceptions() {
    DIZUtility::deleteItemForPathComponent(DIZCrashesUtil::wrapperExceptionsDir());
}

void DIZWrapperExceptionManager::saveWrapperException(const DIZWrapperException& wrapperException,
                                                      const std::string& baseFilename) {
    const auto archive =
        DIZUtility::archiveKeyedData(std::make_shared<DIZWrapperException>(wrapperException));
    // An empty file would only be deleted as unreadable at the next load.
    if (!archive) return;
    DIZUtility::createFileAtPathComponent(pathComponentFor(baseFilename), archive, true, true);
}

std::shared_ptr<DIZWrapperException> DIZWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(
    const std::string& baseFilename) {
    const std::string pathComponent = pathComponentFor(baseFilename);
    if (!DIZUtility::fileExistsForPathComponent(pathComponent)) {
        DIZLogError(kLogTag, "Exception data report doesn't exist on disk. File name: %@", baseFilename);
        return nullptr;
    }
    const auto archived = DIZUtility::unarchiveKeyedData(DIZUtility::loadDataForPathComponent(pathComponent));
    auto wrapperException = archived ? archived->objectAs<DIZWrapperException>() : nullptr;
    if (!wrapperException) {
        DIZLogError(kLogTag, "Could not read exception data stored on disk with file name %@", baseFilename);
        DIZUtility::deleteItemForPathComponent(pathComponent);
    }
    return wrapperException;
}

void DIZWrapperExceptionManager::deleteWrapperExceptionWithBaseFilename(const std::string& baseFilename) {
    DIZUtility::deleteItemForPathComponent(pathComponentFor(baseFilename));
}
