#pragma once
// What every crash log tells about the failed process: the error's id, the process and its parent,
// the thread the error occurred on, whether it was fatal, when the application started and on
// which architecture it ran.
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"

class DIZAbstractErrorLog : public DIZLogWithProperties {
  public:
    using Number = std::optional<int64_t>;

    DIZ_PROPERTY(Text, errorId, ErrorId)
    DIZ_PROPERTY(Number, processId, ProcessId)
    DIZ_PROPERTY(Text, processName, ProcessName)
    DIZ_PROPERTY(Number, parentProcessId, ParentProcessId)
    DIZ_PROPERTY(Text, parentProcessName, ParentProcessName)
    DIZ_PROPERTY(Number, errorThreadId, ErrorThreadId)
    DIZ_PROPERTY(Text, errorThreadName, ErrorThreadName)
    bool isFatal() const { return fatal_; }
    void setFatal(bool fatal) { fatal_ = fatal; }
    DIZ_PROPERTY(std::optional<Date>, appLaunchTimestamp, AppLaunchTimestamp)
    DIZ_PROPERTY(Text, architecture, Architecture)

    // The base keys, then "id" (the error id) to "architecture", each when present except "fatal",
    // which is always written.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The base log, then errorId, processId and processName.
    bool isValid() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZAbstractErrorLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZAbstractErrorLog", "DIZLogWithProperties", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text errorId_;
    Number processId_;
    Text processName_;
    Number parentProcessId_;
    Text parentProcessName_;
    Number errorThreadId_;
    Text errorThreadName_;
    bool fatal_ = false;
    std::optional<Date> appLaunchTimestamp_;
    Text architecture_;
};
