#pragma once
// A raised exception with a name and a reason, as the design's NSException. Raised only where the
// design raises one.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

// Names of the platform's exception kinds that the design raises.
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";

class Exception : public std::runtime_error {
  public:
    Exception(std::string name, std::string reason)
        : std::runtime_error(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string name_;
    std::string reason_;
};

// A caught exception kept as an object (in a Value), with the call stack it was raised on: one
// symbol line per frame as the platform prints them and, where the raiser recorded them, the return
// addresses of those frames, innermost first (what a crash report symbolicates).
class ExceptionRecord : public Object {
  public:
    ExceptionRecord(std::string name, std::string reason, std::vector<std::string> callStackSymbols = {},
                    std::vector<uint64_t> callStackReturnAddresses = {})
        : name_(std::move(name)),
          reason_(std::move(reason)),
          callStackSymbols_(std::move(callStackSymbols)),
          callStackReturnAddresses_(std::move(callStackReturnAddresses)) {}
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const std::vector<std::string>& callStackSymbols() const { return callStackSymbols_; }
    const std::vector<uint64_t>& callStackReturnAddresses() const { return callStackReturnAddresses_; }
    std::string className() const override { return "NSException"; }
    // The platform describes an exception by its reason.
    std::string description() const override { return reason_; }

  private:
    std::string name_;
    std::string reason_;
    std::vector<std::string> callStackSymbols_;
    std::vector<uint64_t> callStackReturnAddresses_;
};

// The process's handler for an exception that nothing caught, called before the process ends; one
// slot per process, empty until set. Setting and reading it are thread-safe.
using NSUncaughtExceptionHandler = void (*)(const ExceptionRecord& exception);
void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler handler);
NSUncaughtExceptionHandler NSGetUncaughtExceptionHandler();
