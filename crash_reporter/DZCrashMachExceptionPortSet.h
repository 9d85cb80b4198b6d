#pragma once
// The exception ports a registration replaced, as objects and as the plain record that crash-time
// code reads without touching an object. At most EXC_TYPES_COUNT ports.
#include <memory>
#include <vector>

#include "crash_reporter/DZCrashMachExceptionPort.h"
#include "crash_reporter/dzcrash_mach_exception.h"

class DZCrashMachExceptionPortSet {
  public:
    using Ports = std::vector<std::shared_ptr<DZCrashMachExceptionPort>>;

    // More than EXC_TYPES_COUNT ports is a fatal error.
    static std::shared_ptr<DZCrashMachExceptionPortSet> initWithSet(Ports ports);
    // One port object per entry; the send right that came with each entry (from the swap that
    // answered it) is given back, so the object's own is the only one kept. A count above
    // EXC_TYPES_COUNT is a fatal error.
    static std::shared_ptr<DZCrashMachExceptionPortSet> initWithAsyncSafeRepresentation(
        const dzcrash_mach_exception_port_set& representation);

    const dzcrash_mach_exception_port_set& asyncSafeRepresentation() const { return representation_; }
    const Ports& set() const { return ports_; }
    Ports::const_iterator begin() const { return ports_.begin(); }
    Ports::const_iterator end() const { return ports_.end(); }

  private:
    DZCrashMachExceptionPortSet() = default;

    Ports ports_;
    dzcrash_mach_exception_port_set representation_{};
};
