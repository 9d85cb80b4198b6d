#pragma once
// Test controls of the I/O registry stand-in.
#include <string>

namespace IOKitTesting {
// Reads the machine identifier from `path` instead of /etc/machine-id; "" goes back to that file.
void setMachineIdPath(const std::string& path);

// Goes back to /etc/machine-id on leaving a test's scope.
class ScopedMachineIdPath {
  public:
    explicit ScopedMachineIdPath(const std::string& path) { setMachineIdPath(path); }
    ~ScopedMachineIdPath() { setMachineIdPath(""); }
    ScopedMachineIdPath(const ScopedMachineIdPath&) = delete;
    ScopedMachineIdPath& operator=(const ScopedMachineIdPath&) = delete;
};
}  // namespace IOKitTesting
