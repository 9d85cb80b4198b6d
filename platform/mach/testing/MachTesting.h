#pragma once
// Test controls of the Mach stand-in.
namespace MachTesting {
// While set, reads of task memory behave as on a system that refuses process_vm_readv, so the
// /proc/self/mem road is taken.
void setProcessVmReadvRefused(bool refused);
}  // namespace MachTesting
