#pragma once
// A raised exception with a name and a reason, as the design's NSException. Raised only where the
// design raises one.
#include <stdexcept>
#include <string>

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
