#pragma once
// One crash of a previous run: the process facts of the abstract error log, the CPU, the signal
// and any uncaught exception, and every thread, binary image and register at the time of the
// crash. Its session id is the one of the crash time, so the session tracker leaves it alone.
#include "DudIzizozCrashes/Internals/Model/DIZAbstractErrorLog.h"
#include "DudIzizozCrashes/Model/DIZBinary.h"
#include "DudIzizozCrashes/Model/DIZThread.h"

class DIZAppleErrorLog : public DIZAbstractErrorLog, public DIZNoAutoAssignSessionIdLog {
  public:
    DIZAppleErrorLog() { setType("appleError"); }

    DIZ_PROPERTY(Number, primaryArchitectureId, PrimaryArchitectureId)
    DIZ_PROPERTY(Number, architectureVariantId, ArchitectureVariantId)
    DIZ_PROPERTY(Text, applicationPath, ApplicationPath)
    DIZ_PROPERTY(Text, osExceptionType, OsExceptionType)
    DIZ_PROPERTY(Text, osExceptionCode, OsExceptionCode)
    DIZ_PROPERTY(Text, osExceptionAddress, OsExceptionAddress)
    DIZ_PROPERTY(Text, exceptionType, ExceptionType)
    DIZ_PROPERTY(Text, exceptionReason, ExceptionReason)
    DIZ_PROPERTY(Text, selectorRegisterValue, SelectorRegisterValue)
    DIZ_PROPERTY(DIZList<DIZThread>, threads, Threads)
    DIZ_PROPERTY(DIZList<DIZBinary>, binaries, Binaries)
    // Register name to value, as the formatter stores them.
    DIZ_PROPERTY(std::optional<Dictionary>, registers, Registers)
    DIZ_PROPERTY(std::shared_ptr<DIZExceptionModel>, exception, Exception)

    // The abstract error log's keys, then "primaryArchitectureId" to "exception" in declaration
    // order, each when present ("threads": [] for an empty list).
    std::optional<Dictionary> serializeToDictionary() const override;
    // The abstract error log, then primaryArchitectureId, applicationPath, osExceptionType,
    // osExceptionCode and osExceptionAddress; threads, binaries and the exception are not inspected.
    bool isValid() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZAppleErrorLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZAppleErrorLog", "DIZAbstractErrorLog", "DIZLogWithProperties", "DIZAbstractLog",
                "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Number primaryArchitectureId_, architectureVariantId_;
    Text applicationPath_, osExceptionType_, osExceptionCode_, osExceptionAddress_, exceptionType_,
        exceptionReason_, selectorRegisterValue_;
    DIZList<DIZThread> threads_;
    DIZList<DIZBinary> binaries_;
    std::optional<Dictionary> registers_;
    std::shared_ptr<DIZExceptionModel> exception_;
};
