#include "DudIzizozCrashes/Model/DIZErrorReport.h"

#include <strings.h>

#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizozCrashes/Model/DIZCrashesModelFields.h"

DIZErrorReport::DIZErrorReport(Text errorId, Text reporterKey, Text signal, Text exceptionName,
                               Text exceptionReason, std::optional<Date> appStartTime,
                               std::optional<Date> appErrorTime, Text codeType, Text archName,
                               Text applicationPath, Threads threads, Binaries binaries,
                               std::shared_ptr<DIZDevice> device, uint64_t appProcessIdentifier)
    : incidentIdentifier_(std::move(errorId)),
      reporterKey_(std::move(reporterKey)),
      signal_(std::move(signal)),
      exceptionName_(std::move(exceptionName)),
      exceptionReason_(std::move(exceptionReason)),
      appStartTime_(appStartTime),
      appErrorTime_(appErrorTime),
      archName_(std::move(archName)),
      codeType_(std::move(codeType)),
      applicationPath_(std::move(applicationPath)),
      threads_(std::move(threads)),
      binaries_(std::move(binaries)),
      device_(std::move(device)),
      appProcessIdentifier_(appProcessIdentifier) {}

bool DIZErrorReport::isAppKill() const {
    return signal_ && strcasecmp(signal_->c_str(), "SIGKILL") == 0;
}

std::optional<Dictionary> DIZErrorReport::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "incidentIdentifier", incidentIdentifier_);
    DIZSetIfPresent(dictionary, "reporterKey", reporterKey_);
    DIZSetIfPresent(dictionary, "signal", signal_);
    DIZSetIfPresent(dictionary, "exceptionName", exceptionName_);
    DIZSetIfPresent(dictionary, "exceptionReason", exceptionReason_);
    if (appStartTime_) dictionary.set("appStartTime", Value(*appStartTime_));
    if (appErrorTime_) dictionary.set("appErrorTime", Value(*appErrorTime_));
    DIZSetIfPresent(dictionary, "codeType", codeType_);
    DIZSetIfPresent(dictionary, "archName", archName_);
    DIZSetIfPresent(dictionary, "applicationPath", applicationPath_);
    DIZSetIfPresent(dictionary, "threads", threads_);
    DIZSetIfPresent(dictionary, "binaries", binaries_);
    DIZSetIfPresent(dictionary, "device", device_);
    if (appProcessIdentifier_ != 0)
        dictionary.set("appProcessIdentifier", Value(std::to_string(appProcessIdentifier_)));
    return dictionary;
}

std::string DIZErrorReport::description() const {
    return diz_log::describe(Value(serializeToDictionary().value_or(Dictionary{})));
}
