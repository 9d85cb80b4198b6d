#include "DudIzizozCrashes/Internals/Model/DIZAbstractErrorLog.h"

#include "DudIzizoz/Internals/Util/DIZUtility.h"

std::optional<Dictionary> DIZAbstractErrorLog::serializeToDictionary() const {
    auto dictionary = DIZLogWithProperties::serializeToDictionary();
    if (!dictionary) return dictionary;
    DIZSetIfPresent(*dictionary, "id", errorId_);
    DIZSetIfPresent(*dictionary, "processId", processId_);
    DIZSetIfPresent(*dictionary, "processName", processName_);
    DIZSetIfPresent(*dictionary, "parentProcessId", parentProcessId_);
    DIZSetIfPresent(*dictionary, "parentProcessName", parentProcessName_);
    DIZSetIfPresent(*dictionary, "errorThreadId", errorThreadId_);
    DIZSetIfPresent(*dictionary, "errorThreadName", errorThreadName_);
    dictionary->set("fatal", Value(fatal_));
    if (appLaunchTimestamp_)
        dictionary->set("appLaunchTimestamp", Value(DIZUtility::dateToISO8601(*appLaunchTimestamp_)));
    DIZSetIfPresent(*dictionary, "architecture", architecture_);
    return dictionary;
}

bool DIZAbstractErrorLog::isValid() const {
    if (!DIZLogWithProperties::isValid()) return false;
    const char* missing = !errorId_       ? "errorId"
                          : !processId_   ? "processId"
                          : !processName_ ? "processName"
                                          : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZAbstractErrorLog::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZAbstractErrorLog*>(&other);
    return log && DIZLogWithProperties::isEqual(other) && errorId_ == log->errorId_ &&
           processId_ == log->processId_ && processName_ == log->processName_ &&
           parentProcessId_ == log->parentProcessId_ && parentProcessName_ == log->parentProcessName_ &&
           errorThreadId_ == log->errorThreadId_ && errorThreadName_ == log->errorThreadName_ &&
           fatal_ == log->fatal_ && appLaunchTimestamp_ == log->appLaunchTimestamp_ &&
           architecture_ == log->architecture_;
}

void DIZAbstractErrorLog::encodeWithCoder(KeyedArchiver& coder) const {
    DIZLogWithProperties::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(errorId_), "id");
    coder.encodeObject(DIZArchived(processId_), "processId");
    coder.encodeObject(DIZArchived(processName_), "processName");
    coder.encodeObject(DIZArchived(parentProcessId_), "parentProcessId");
    coder.encodeObject(DIZArchived(parentProcessName_), "parentProcessName");
    coder.encodeObject(DIZArchived(errorThreadId_), "errorThreadId");
    coder.encodeObject(DIZArchived(errorThreadName_), "errorThreadName");
    coder.encodeBool(fatal_, "fatal");
    coder.encodeObject(DIZArchived(appLaunchTimestamp_), "appLaunchTimestamp");
    coder.encodeObject(DIZArchived(architecture_), "architecture");
}

bool DIZAbstractErrorLog::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZLogWithProperties::initWithCoder(coder)) return false;
    errorId_ = coder.decodeString("id");
    processId_ = DIZDecodeNumber(coder, "processId");
    processName_ = coder.decodeString("processName");
    parentProcessId_ = DIZDecodeNumber(coder, "parentProcessId");
    parentProcessName_ = coder.decodeString("parentProcessName");
    errorThreadId_ = DIZDecodeNumber(coder, "errorThreadId");
    errorThreadName_ = coder.decodeString("errorThreadName");
    fatal_ = coder.decodeBool("fatal");
    appLaunchTimestamp_ = coder.decodeDate("appLaunchTimestamp");
    architecture_ = coder.decodeString("architecture");
    return true;
}
