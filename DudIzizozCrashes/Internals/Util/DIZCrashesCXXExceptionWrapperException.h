#pragma once
// Carries a C++ exception that reached the terminate handler into the crash reporter: named by the
// exception's demangled type, with its message as the reason and the stack of the throw as its
// return addresses, so that the report shows where the exception was thrown rather than where it
// was caught.
#include <cstdint>
#include <vector>

#include "platform/foundation/Exception.h"

// What the terminate handler learned of the exception in flight. Either text may be null.
struct CXXTerminateInfo {
    const void* exception;
    const char* typeName;  // as the C++ runtime names the type (mangled)
    const char* message;
    uint32_t frameCount;
    const uintptr_t* frames;  // return addresses of the throw, innermost first
};

class DIZCrashesCXXExceptionWrapperException : public Exception {
  public:
    // Keeps `info`, which must outlive this object; a null one reads as an empty exception.
    explicit DIZCrashesCXXExceptionWrapperException(const CXXTerminateInfo* info);

    // One address per frame of the throw, in order.
    std::vector<uint64_t> callStackReturnAddresses() const;
    const CXXTerminateInfo* info() const { return info_; }

  private:
    const CXXTerminateInfo* info_;
};
