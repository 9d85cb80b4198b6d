#pragma once
// Keeps the exceptions that wrapper SDKs save when their own runtime crashes, one keyed-archive file
// each in the wrapper-exceptions directory: "last_saved_wrapper_exception" from the crash until the
// next start pairs it with the crash report of the same process, then under that report's incident
// id until the report is sent or discarded. Paired records also stay in memory for the process, so
// they answer after their file is gone. All state is class-level; every operation is thread-safe.
#include <memory>
#include <string>
#include <vector>

#include "DudIzizozCrashes/Model/DIZErrorReport.h"
#include "DudIzizozCrashes/Model/DIZWrapperException.h"

class DZCrashReporter;

class DIZWrapperExceptionManager {
  public:
    static constexpr const char* kLastSavedWrapperExceptionFileName = "last_saved_wrapper_exception";

    // The reporter whose crash reports the saved records belong to; set by the crash service when
    // it configures the reporter. Nothing is saved at crash time before it is set.
    static void setCrashReporter(std::shared_ptr<DZCrashReporter> crashReporter);
    static std::shared_ptr<DZCrashReporter> crashReporter();

    // For a wrapper SDK at the moment of its fatal exception: saves the record as the last saved
    // one and a live report of the process as the reporter's pending report, or only logs an error
    // while no reporter is set.
    static void saveWrapperExceptionAndCrashReport(const DIZWrapperException& wrapperException);
    static void saveWrapperException(const DIZWrapperException& wrapperException);
    // Takes the last saved record off the disk and gives it to the first report of the same
    // process id, in memory and as a file named by the report's incident id. Without a saved
    // record nothing is paired and no file is written.
    static void correlateLastSavedWrapperExceptionToReport(
        const std::vector<std::shared_ptr<DIZErrorReport>>& reports);
    // The paired record in memory, else the one in the file of that name, else nullptr.
    static std::shared_ptr<DIZWrapperException> loadWrapperExceptionWithUUIDString(
        const std::string& uuidString);
    // Deletes the file only; a paired record stays in memory.
    static void deleteWrapperExceptionWithUUIDString(const std::string& uuidString);
    // Deletes the whole directory (made again by the next save); memory is left as it is.
    static void deleteAllWrapperExceptions();

    // Written atomically, replacing an existing file.
    static void saveWrapperException(const DIZWrapperException& wrapperException,
                                     const std::string& baseFilename);
    // An unreadable file is logged and deleted, so it is reported only once.
    static std::shared_ptr<DIZWrapperException> loadWrapperExceptionWithBaseFilename(
        const std::string& baseFilename);
    static void deleteWrapperExceptionWithBaseFilename(const std::string& baseFilename);

  private:
    static void saveLiveReport(DZCrashReporter& crashReporter);
};
